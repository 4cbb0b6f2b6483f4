// Loading a rule list reports its problems, in order, for the caller to show; the list itself shows
// nothing.
#include "conv/ServiceRules.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera;

class TestRuleProblems : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shortLinkLines_data();
    void shortLinkLines();
    void shortLinkFile_data();
    void shortLinkFile();
    void pictureFile_data();
    void pictureFile();

private:
    QString write(const QByteArray& bytes);
    QTemporaryDir m_dir;
};

QString TestRuleProblems::write(const QByteArray& bytes)
{
    const QString path = m_dir.filePath(u"rules.txt"_s);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

void TestRuleProblems::shortLinkLines_data()
{
    QTest::addColumn<int>("goodLines");
    QTest::addColumn<int>("badLines");
    QTest::addColumn<int>("rules");
    QTest::addColumn<QStringList>("problems");

    const QString bad = u"tinyurls読み込みエラー"_s;
    QTest::newRow("all good") << 3 << 0 << 3 << QStringList();
    QTest::newRow("one bad line") << 2 << 1 << 2 << QStringList{bad};
    QTest::newRow("ten bad lines, one box each") << 1 << 10 << 1 << QStringList(10, bad);
    QTest::newRow("eleven: the last is counted")
        << 1 << 11 << 1 << (QStringList(10, bad) << u"tinyurls読み込みエラー(ほかに1行)"_s);
    QTest::newRow("a thousand") << 0 << 1000 << 0
                                << (QStringList(10, bad) << u"tinyurls読み込みエラー(ほかに990行)"_s);
}

void TestRuleProblems::shortLinkLines()
{
    QFETCH(int, goodLines);
    QFETCH(int, badLines);
    QFETCH(int, rules);
    QFETCH(QStringList, problems);
    QString text;
    for (int i = 0; i < goodLines; ++i)
        text += u"s%1.example\tLocation:\t\r\n"_s.arg(i);
    for (int i = 0; i < badLines; ++i)
        text += u"no tabs here\r\n"_s;
    ShortLinkRules list;
    QCOMPARE(list.loadFromText(text), problems);
    QCOMPARE(int(list.size()), rules);
}

void TestRuleProblems::shortLinkFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("problems");
    QTest::newRow("good file") << QByteArray("a.example\tLocation:\t\r\n") << QStringList();
    QTest::newRow("not text, nothing after it")
        << QByteArray("a.example\tLocation:\t\r\n\0\0", 24)
        << QStringList{u"tinyurls読み込みエラー(テキストファイルではありません)"_s};
    QTest::newRow("file problem first, then its lines")
        << QByteArray("bad\xff line\r\n")
        << QStringList{u"tinyurls読み込みエラー(文字コードの誤りがあります)"_s, u"tinyurls読み込みエラー"_s};
}

void TestRuleProblems::shortLinkFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, problems);
    const QString path = write(bytes);
    QVERIFY(!path.isEmpty());
    ShortLinkRules list;
    QCOMPARE(list.LoadShortLinkRules(path), problems);
}

void TestRuleProblems::pictureFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("problems");
    QTest::addColumn<int>("rules");
    QTest::newRow("good file") << QByteArray("^http://p\\.example/(\\w+)$\thttp://i.example/(1).jpg\r\n")
                               << QStringList() << 1;
    QTest::newRow("not text") << QByteArray("x\0y", 3)
                              << QStringList{u"picturls読み込みエラー(テキストファイルではありません)"_s}
                              << 0;
}

void TestRuleProblems::pictureFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, problems);
    QFETCH(int, rules);
    const QString path = write(bytes);
    QVERIFY(!path.isEmpty());
    PictureRules list;
    QCOMPARE(list.LoadPictureRules(path), problems);
    QCOMPARE(int(list.size()), rules);
}

QTEST_GUILESS_MAIN(TestRuleProblems)
#include "tst_ruleproblems.moc"
