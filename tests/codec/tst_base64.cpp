#include "codec/Base64.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

class TestBase64 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodesKnownVectors_data();
    void encodesKnownVectors();
    void padding_data();
    void padding();
    void matchesQtForEveryLengthUpTo300();
    void everyByteValue();
};

void TestBase64::encodesKnownVectors_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("f") << QByteArray("f") << u"Zg=="_s;
    QTest::newRow("fo") << QByteArray("fo") << u"Zm8="_s;
    QTest::newRow("foo") << QByteArray("foo") << u"Zm9v"_s;
    QTest::newRow("foob") << QByteArray("foob") << u"Zm9vYg=="_s;
    QTest::newRow("fooba") << QByteArray("fooba") << u"Zm9vYmE="_s;
    QTest::newRow("foobar") << QByteArray("foobar") << u"Zm9vYmFy"_s;
    QTest::newRow("login and password") << QByteArray("user:pass") << u"dXNlcjpwYXNz"_s;
    QTest::newRow("only the colon") << QByteArray(":") << u"Og=="_s;
    QTest::newRow("last alphabet entries") << QByteArray("\xFB\xFF\xBF") << u"+/+/"_s;
    QTest::newRow("zero bytes") << QByteArray("\0\0\0\0", 4) << u"AAAAAA=="_s;
}

void TestBase64::encodesKnownVectors()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(linvera::Base64Encode(bytes), text);
}

void TestBase64::padding_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("ending");
    QTest::newRow("3n") << 57 << QString();
    QTest::newRow("3n+1") << 58 << u"=="_s;
    QTest::newRow("3n+2") << 59 << u"="_s;
    QTest::newRow("3") << 3 << QString();
    QTest::newRow("1") << 1 << u"=="_s;
    QTest::newRow("2") << 2 << u"="_s;
}

void TestBase64::padding()
{
    QFETCH(int, length);
    QFETCH(QString, ending);
    QByteArray bytes(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        bytes[i] = char('a' + i % 26);
    const QString text = linvera::Base64Encode(bytes);
    QCOMPARE(text.size(), (length + 2) / 3 * 4);
    QVERIFY(!text.contains(u'\n') && !text.contains(u'\r'));
    const QString tail = text.right(2);
    QCOMPARE(tail.count(u'='), ending.size());
    QVERIFY(text.endsWith(ending));
    if (length == 58)
        QCOMPARE(text.size(), 80);
}

void TestBase64::matchesQtForEveryLengthUpTo300()
{
    QRandomGenerator rng(64);
    for (int length = 0; length <= 300; ++length) {
        QByteArray bytes(length, Qt::Uninitialized);
        for (char& b : bytes)
            b = char(rng.bounded(256));
        const QString expected = QString::fromLatin1(bytes.toBase64());
        const QString text = linvera::Base64Encode(bytes);
        if (text != expected) {
            qWarning() << "length" << length;
            QCOMPARE(text, expected);
        }
    }
}

void TestBase64::everyByteValue()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes += char(b);
    QCOMPARE(linvera::Base64Encode(bytes), QString::fromLatin1(bytes.toBase64()));
}

QTEST_GUILESS_MAIN(TestBase64)
#include "tst_base64.moc"
