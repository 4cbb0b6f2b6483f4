#include "verdict/HostList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace linvera::verdict;

class TestHostList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lookup_data();
    void lookup();
    void counts_data();
    void counts();
    void fileProblems();
    void firstRunFile();
    void firstRunFileNeverOverwrites();
    void firstRunFileNeverFollowsLink();
    void firstRunFileWithoutFolder();
};

void TestHostList::lookup_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("entry");

    QTest::newRow("0.0.0.0 form") << "0.0.0.0 ads.example\n"_ba << u"ads.example"_s << u"ads.example"_s;
    QTest::newRow("127.0.0.1 form, TAB")
        << "127.0.0.1\tads.example\n"_ba << u"ads.example"_s << u"ads.example"_s;
    QTest::newRow("IPv6 address form") << ":: ads.example\n"_ba << u"ads.example"_s << u"ads.example"_s;
    QTest::newRow("bare host") << "ads.example"_ba << u"ads.example"_s << u"ads.example"_s;
    QTest::newRow("several hosts after one address")
        << "0.0.0.0 a.example b.example c.example\n"_ba << u"b.example"_s << u"b.example"_s;
    QTest::newRow("parent domain matches subdomain")
        << "ads.example\n"_ba << u"x.y.ads.example"_s << u"ads.example"_s;
    QTest::newRow("nearest listed parent named")
        << "example\nads.example\n"_ba << u"x.ads.example"_s << u"ads.example"_s;
    QTest::newRow("subdomain entry does not match parent")
        << "x.ads.example\n"_ba << u"ads.example"_s << QString();
    QTest::newRow("ending without a dot is no parent")
        << "ads.example\n"_ba << u"badads.example"_s << QString();
    QTest::newRow("LF line ends") << "a.example\nb.example\n"_ba << u"b.example"_s << u"b.example"_s;
    QTest::newRow("CR LF line ends") << "a.example\r\nb.example\r\n"_ba << u"a.example"_s << u"a.example"_s;
    QTest::newRow("lone CR line ends") << "a.example\rb.example\r"_ba << u"b.example"_s << u"b.example"_s;
    QTest::newRow("last line without an end")
        << "a.example\nb.example"_ba << u"b.example"_s << u"b.example"_s;
    QTest::newRow("comment line") << "# ads.example\n"_ba << u"ads.example"_s << QString();
    QTest::newRow("comment after the host")
        << "0.0.0.0 ads.example # not evil.example\n"_ba << u"evil.example"_s << QString();
    QTest::newRow("comment right after the host")
        << "ads.example#note\n"_ba << u"ads.example"_s << u"ads.example"_s;
    QTest::newRow("blank and space-only lines")
        << "\n   \n\t\nads.example\n\n"_ba << u"ads.example"_s << u"ads.example"_s;
    QTest::newRow("upper case in the list")
        << "0.0.0.0 Ads.EXAMPLE\n"_ba << u"ads.example"_s << u"ads.example"_s;
    QTest::newRow("upper case in the lookup")
        << "ads.example\n"_ba << u"WWW.ADS.example"_s << u"ads.example"_s;
    QTest::newRow("trailing dot in the list") << "ads.example.\n"_ba << u"ads.example"_s << u"ads.example"_s;
    QTest::newRow("trailing dot in the lookup")
        << "ads.example\n"_ba << u"ads.example."_s << u"ads.example"_s;
    QTest::newRow("Unicode entry found by its xn-- form")
        << "0.0.0.0 bücher.example\n"_ba << u"xn--bcher-kva.example"_s << u"xn--bcher-kva.example"_s;
    QTest::newRow("adblock form") << "||ads.example^\n"_ba << u"x.ads.example"_s << u"ads.example"_s;
    QTest::newRow("wildcard form") << "*.ads.example\n"_ba << u"x.ads.example"_s << u"ads.example"_s;
    QTest::newRow("localhost of the hosts header not listed")
        << "127.0.0.1 localhost\n::1 ip6-localhost\n"_ba << u"localhost"_s << QString();
    QTest::newRow("Unicode lookup matches nothing") << "ads.example\n"_ba << u"ädś.example"_s << QString();
    QTest::newRow("empty list") << QByteArray() << u"ads.example"_s << QString();
}

void TestHostList::lookup()
{
    QFETCH(QByteArray, list);
    QFETCH(QString, host);
    QFETCH(QString, entry);

    HostSet set;
    set.loadBytes(list);
    QCOMPARE(set.matchOf(host), entry);
    QCOMPARE(set.matches(host), !entry.isEmpty());
}

void TestHostList::counts_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("skipped");

    QTest::newRow("comments and blanks are not skipped lines") << "# a\n\n  # b\n"_ba << 0 << 0;
    QTest::newRow("a host twice counts once") << "a.example\n0.0.0.0 a.example\n"_ba << 1 << 0;
    QTest::newRow("address alone") << "0.0.0.0\n0.0.0.0 b.example\n"_ba << 1 << 1;
    QTest::newRow("not a host name") << "mple!.com\nhttp://x.example/\n"_ba << 0 << 2;
    QTest::newRow("empty label") << "a..example\n.example\n"_ba << 0 << 2;
    QTest::newRow("label over 63") << QByteArray(64, 'a') + ".example\n"_ba << 0 << 1;
    QTest::newRow("label of 63") << QByteArray(63, 'a') + ".example\n"_ba << 1 << 0;
    QTest::newRow("hosts header names kept out silently")
        << "127.0.0.1 localhost\n0.0.0.0 0.0.0.0\n"_ba << 0 << 0;
}

void TestHostList::counts()
{
    QFETCH(QByteArray, list);
    QFETCH(int, added);
    QFETCH(int, skipped);

    HostSet set;
    const HostListRead read = set.loadBytes(list);
    QCOMPARE(read.added, added);
    QCOMPARE(read.skippedLines, skipped);
    QCOMPARE(set.size(), added);
}

void TestHostList::fileProblems()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    HostSet set;

    const HostListRead missing = set.loadFile(folder.filePath(u"none.txt"_s));
    QCOMPARE(missing.problem, HostListRead::Problem::Missing);
    QVERIFY(HostListMessage(kBlockListFileName, missing).isEmpty());

    QFile large(folder.filePath(u"large.txt"_s));
    QVERIFY(large.open(QIODevice::WriteOnly));
    QVERIFY(large.resize(kMaxHostListBytes + 1));
    large.close();
    const HostListRead tooLarge = set.loadFile(large.fileName());
    QCOMPARE(tooLarge.problem, HostListRead::Problem::TooLarge);
    QVERIFY(HostListMessage(kBlockListFileName, tooLarge).startsWith(u"blocklist.txt読み込みエラー"_s));

    QFile binary(folder.filePath(u"binary.txt"_s));
    QVERIFY(binary.open(QIODevice::WriteOnly));
    binary.write("ads.example\n\0x.example\n", 23);
    binary.close();
    const HostListRead notText = set.loadFile(binary.fileName());
    QCOMPARE(notText.problem, HostListRead::Problem::NotText);
    QVERIFY(!HostListMessage(kBlockListFileName, notText).isEmpty());

    QVERIFY(QDir(folder.path()).mkdir(u"folder.txt"_s));
    QCOMPARE(set.loadFile(folder.filePath(u"folder.txt"_s)).problem, HostListRead::Problem::Unreadable);
    // Nothing of a refused file is taken.
    QCOMPARE(set.size(), 0);

    QFile atCap(folder.filePath(u"cap.txt"_s));
    QVERIFY(atCap.open(QIODevice::WriteOnly));
    QByteArray bytes = "ads.example\n"_ba;
    bytes.append(QByteArray(kMaxHostListBytes - bytes.size(), '\n'));
    atCap.write(bytes);
    atCap.close();
    const HostListRead read = set.loadFile(atCap.fileName());
    QCOMPARE(read.problem, HostListRead::Problem::None);
    QCOMPARE(read.added, 1);
}

void TestHostList::firstRunFile()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QCOMPARE(EnsureBlockListFile(folder.path()), ListFileOutcome::Created);
    const QString path = folder.filePath(kBlockListFileName.toString());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.contains(u"hosts"_s));
    QVERIFY(text.contains(u"https://"_s));
    // Only a comment: it blocks nothing and no line of it is skipped.
    HostSet set;
    const HostListRead read = set.loadFile(path);
    QCOMPARE(read.problem, HostListRead::Problem::None);
    QCOMPARE(set.size(), 0);
    QCOMPARE(read.skippedLines, 0);
}

void TestHostList::firstRunFileNeverOverwrites()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(kBlockListFileName.toString());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("0.0.0.0 mine.example\n");
    file.close();
    QCOMPARE(EnsureBlockListFile(folder.path()), ListFileOutcome::Existed);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "0.0.0.0 mine.example\n"_ba);

    // An empty file is the user's too.
    QFile empty(folder.filePath(kImitatedSitesFileName.toString()));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QCOMPARE(EnsureImitatedSitesFile(folder.path()), ListFileOutcome::Existed);
    QCOMPARE(QFileInfo(empty.fileName()).size(), 0);
}

void TestHostList::firstRunFileNeverFollowsLink()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString target = folder.filePath(u"elsewhere.txt"_s);
    const QString path = folder.filePath(kBlockListFileName.toString());
    QVERIFY(QFile::link(target, path));
    QCOMPARE(EnsureBlockListFile(folder.path()), ListFileOutcome::Existed);
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(QFileInfo(path).isSymLink());
}

void TestHostList::firstRunFileWithoutFolder()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QCOMPARE(EnsureBlockListFile(folder.filePath(u"missing"_s)), ListFileOutcome::Failed);
    QVERIFY(!QFileInfo::exists(folder.filePath(u"missing"_s)));
}

QTEST_GUILESS_MAIN(TestHostList)
#include "tst_hostlist.moc"
