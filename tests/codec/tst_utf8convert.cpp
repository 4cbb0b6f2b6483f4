#include "codec/Utf8Convert.h"
#include "platform/AnsiCodec.h"

#include <QTest>

using namespace Qt::StringLiterals;
using linvera::platform::AnsiCodec;

namespace {

const QChar kReplacement(QChar::ReplacementCharacter);
const QByteArray kBom("\xEF\xBB\xBF");

} // namespace

class TestUtf8Convert : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void utf8RoundTrips_data();
    void utf8RoundTrips();
    void invalidUtf8NeverFails_data();
    void invalidUtf8NeverFails();
    void utf8KeepsByteOrderMark();
    void cp932RoundTrips_data();
    void cp932RoundTrips();
    void invalidCp932NeverFails_data();
    void invalidCp932NeverFails();
    void cp932LeadByteCutOffAtTheEnd_data();
    void cp932LeadByteCutOffAtTheEnd();
    void otherCodePages_data();
    void otherCodePages();
    void everyKnownCodePageDecodesAscii_data();
    void everyKnownCodePageDecodesAscii();
    void ansiCodePageFollowsProcessCodec();
    void emptyBytesGiveEmptyText_data();
    void emptyBytesGiveEmptyText();
    void removesByteSequence_data();
    void removesByteSequence();
    void pageBytesToText_data();
    void pageBytesToText();
};

void TestUtf8Convert::cleanup()
{
    AnsiCodec::select(AnsiCodec::CodePage::Utf8);
}

void TestUtf8Convert::utf8RoundTrips_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("ASCII") << u"http://example.com/?q=1"_s;
    QTest::newRow("Japanese") << u"日本語のテキスト、「引用」。"_s;
    QTest::newRow("half-width kana") << u"ｸﾘｯﾌﾟﾎﾞｰﾄﾞ"_s;
    QTest::newRow("two-byte") << u"éüßñ"_s;
    QTest::newRow("supplementary") << u"😀𠮷"_s;
    QTest::newRow("mixed") << u"Live: 生放送 ｶﾅ é 😀 end"_s;
}

void TestUtf8Convert::utf8RoundTrips()
{
    QFETCH(QString, text);
    const QByteArray bytes = text.toUtf8();
    QCOMPARE(linvera::DecodeBytesWithCodePage(65001, bytes), text);
    QCOMPARE(linvera::Utf8BytesToText(bytes), text);
}

void TestUtf8Convert::invalidUtf8NeverFails_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("lone continuation byte") << QByteArray("a\x80z") << u"a"_s << u"z"_s;
    QTest::newRow("cut two-byte sequence at the end") << QByteArray("ab\xC3") << u"ab"_s << QString();
    QTest::newRow("cut three-byte sequence") << QByteArray("\xE3\x81z") << QString() << u"z"_s;
    QTest::newRow("over-long slash") << QByteArray("x\xC0\xAFy") << u"x"_s << u"y"_s;
    QTest::newRow("byte 0xFF") << QByteArray("\xFF!") << QString() << u"!"_s;
    QTest::newRow("encoded surrogate") << QByteArray("[\xED\xA0\x80]") << u"["_s << u"]"_s;
}

// Broken bytes become U+FFFD; the text around them survives.
void TestUtf8Convert::invalidUtf8NeverFails()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, before);
    QFETCH(QString, after);
    const QString text = linvera::Utf8BytesToText(bytes);
    QVERIFY2(text.startsWith(QString(before + kReplacement)), qPrintable(text));
    QVERIFY2(text.endsWith(QString(kReplacement + after)), qPrintable(text));
    const QString middle = text.mid(before.size(), text.size() - before.size() - after.size());
    QVERIFY(!middle.isEmpty());
    QCOMPARE(middle.count(kReplacement), middle.size());
}

// A byte-order mark is a character like any other here; only the page conversion drops it.
void TestUtf8Convert::utf8KeepsByteOrderMark()
{
    QCOMPARE(linvera::DecodeBytesWithCodePage(65001, QByteArray(kBom + "A")),
             QString(QString(QChar(0xFEFF)) + u"A"_s));
}

void TestUtf8Convert::cp932RoundTrips_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("hiragana and kanji") << u"あいう漢字"_s;
    QTest::newRow("half-width kana") << u"ｸﾘｯﾌﾟ"_s;
    QTest::newRow("NEC special characters") << u"①②Ⅲ㈱"_s;
    QTest::newRow("wave dash and full-width tilde") << u"～"_s;
    QTest::newRow("ASCII backslash and tilde") << u"C:\\~x"_s;
    QTest::newRow("mixed") << u"タイトル - ﾗｲﾌﾞ (1/2)"_s;
}

void TestUtf8Convert::cp932RoundTrips()
{
    QFETCH(QString, text);
    const QByteArray bytes = AnsiCodec::encode(text, AnsiCodec::CodePage::Windows31J);
    QVERIFY(bytes.size() > 0);
    QVERIFY(!bytes.contains('?'));
    QCOMPARE(linvera::DecodeBytesWithCodePage(932, bytes), text);
}

void TestUtf8Convert::invalidCp932NeverFails_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("lead byte cut off at the end") << QByteArray("ab\x82") << u"ab"_s << QString();
    QTest::newRow("lead byte with a bad trail byte") << QByteArray("x\x82\x20y") << u"x"_s << u"y"_s;
}

void TestUtf8Convert::invalidCp932NeverFails()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, before);
    QFETCH(QString, after);
    const QString text = linvera::DecodeBytesWithCodePage(932, bytes);
    QVERIFY2(text.startsWith(before), qPrintable(text));
    QVERIFY2(text.endsWith(after), qPrintable(text));
    QVERIFY2(text.size() > before.size() + after.size(), qPrintable(text));
}

void TestUtf8Convert::cp932LeadByteCutOffAtTheEnd_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("cutOff");
    // Lead bytes are 0x81-0x9F and 0xE0-0xFC; one cut off by the end is a replacement character.
    QTest::newRow("0x81, first lead byte") << QByteArray("ab\x81") << u"ab"_s << true;
    QTest::newRow("0x9F, end of the lower leads") << QByteArray("ab\x9F") << u"ab"_s << true;
    QTest::newRow("0xE0, start of the upper leads") << QByteArray("ab\xE0") << u"ab"_s << true;
    QTest::newRow("0xEF, last JIS lead byte") << QByteArray("ab\xEF") << u"ab"_s << true;
    QTest::newRow("0xFC, last lead byte") << QByteArray("ab\xFC") << u"ab"_s << true;
    QTest::newRow("0xFC alone") << QByteArray("\xFC") << QString() << true;
    QTest::newRow("0xFC after a whole character") << QByteArray("\x82\xA0\xFC") << u"あ"_s << true;
    QTest::newRow("0xFC after a trail byte 0xFC") << QByteArray("\x81\xFC\xFC") << u"◯"_s << true;
    // Neighbours of the ranges are single bytes: one character each, nothing added.
    QTest::newRow("0x80, below the lower leads") << QByteArray("ab\x80") << u"ab"_s << false;
    QTest::newRow("0xA0, above the lower leads") << QByteArray("ab\xA0") << u"ab"_s << false;
    QTest::newRow("0xDF, half-width kana below the upper leads") << QByteArray("ab\xDF") << u"ab"_s << false;
    QTest::newRow("0xFD, above the last lead byte") << QByteArray("ab\xFD") << u"ab"_s << false;
    QTest::newRow("0xFC as the trail byte at the end") << QByteArray("\x81\xFC") << QString() << false;
    QTest::newRow("0xFC with its trail byte") << QByteArray("\xFC\x4B") << QString() << false;
}

void TestUtf8Convert::cp932LeadByteCutOffAtTheEnd()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, before);
    QFETCH(bool, cutOff);
    const QString text = linvera::DecodeBytesWithCodePage(932, bytes);
    if (cutOff) {
        QCOMPARE(text, before + kReplacement);
    } else {
        QVERIFY2(text.startsWith(before), qPrintable(text));
        QCOMPARE(text.size(), before.size() + 1);
        QVERIFY2(!text.endsWith(kReplacement), qPrintable(text));
    }
}

void TestUtf8Convert::otherCodePages_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("1252 euro and e acute") << 1252 << QByteArray("\x80\xE9") << u"€é"_s;
    QTest::newRow("1251 Cyrillic") << 1251 << QByteArray("\xCF\xF0\xE8") << u"При"_s;
    QTest::newRow("28591 Latin-1") << 28591 << QByteArray("\xE9\xFF") << u"éÿ"_s;
    QTest::newRow("51932 EUC-JP") << 51932 << QByteArray("\xA4\xA2") << u"あ"_s;
    QTest::newRow("unknown code page") << 4242 << QByteArray("abc") << QString();
    QTest::newRow("UTF-16 is not a byte code page") << 1200 << QByteArray("a\0", 2) << QString();
    QTest::newRow("negative number") << -1 << QByteArray("abc") << QString();
}

void TestUtf8Convert::otherCodePages()
{
    QFETCH(int, codePage);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(linvera::DecodeBytesWithCodePage(codePage, bytes), text);
}

void TestUtf8Convert::everyKnownCodePageDecodesAscii_data()
{
    QTest::addColumn<int>("codePage");
    for (const int codePage : {874,   932,   936,   949,   950,   1250,  1251,  1252,  1253,  1254,
                               1255,  1256,  1257,  1258,  20127, 20866, 21866, 20932, 28591, 28592,
                               28595, 28597, 28599, 28605, 51932, 54936, 65001, 0,     1,     3})
        QTest::addRow("%d", codePage) << codePage;
}

// Each number the converter knows has a codec on this system.
void TestUtf8Convert::everyKnownCodePageDecodesAscii()
{
    QFETCH(int, codePage);
    QCOMPARE(linvera::DecodeBytesWithCodePage(codePage, QByteArray("Linvera 2.1")), u"Linvera 2.1"_s);
}

// Code page 0 is the process's ANSI code page, whichever was chosen.
void TestUtf8Convert::ansiCodePageFollowsProcessCodec()
{
    const QString text = u"あ"_s;
    AnsiCodec::select(AnsiCodec::CodePage::Windows31J);
    QCOMPARE(linvera::DecodeBytesWithCodePage(0, QByteArray("\x82\xA0")), text);
    AnsiCodec::select(AnsiCodec::CodePage::Utf8);
    QCOMPARE(linvera::DecodeBytesWithCodePage(0, QByteArray("\xE3\x81\x82")), text);
}

void TestUtf8Convert::emptyBytesGiveEmptyText_data()
{
    QTest::addColumn<int>("codePage");
    QTest::newRow("UTF-8") << 65001;
    QTest::newRow("cp932") << 932;
    QTest::newRow("1252") << 1252;
    QTest::newRow("ANSI") << 0;
}

void TestUtf8Convert::emptyBytesGiveEmptyText()
{
    QFETCH(int, codePage);
    QVERIFY(linvera::DecodeBytesWithCodePage(codePage, QByteArray()).isEmpty());
    QVERIFY(linvera::PageBytesToText(QByteArray()).isEmpty());
}

void TestUtf8Convert::removesByteSequence_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QByteArray>("result");
    QTest::newRow("two occurrences") << QByteArray("\x01\x02\x03\x01\x02") << QByteArray("\x01\x02")
                                     << QByteArray("\x03");
    QTest::newRow("overlapping occurrences")
        << QByteArray("\x01\x01\x01") << QByteArray("\x01\x01") << QByteArray("\x01");
    QTest::newRow("source shorter than pattern")
        << QByteArray("\x01") << QByteArray("\x01\x02") << QByteArray("\x01");
    QTest::newRow("source equals pattern") << QByteArray("abc") << QByteArray("abc") << QByteArray();
    QTest::newRow("every byte removed") << QByteArray("abababab") << QByteArray("ab") << QByteArray();
    QTest::newRow("no occurrence") << QByteArray("abcdef") << QByteArray("xy") << QByteArray("abcdef");
    QTest::newRow("occurrence at the end") << QByteArray("abcxy") << QByteArray("xy") << QByteArray("abc");
    QTest::newRow("partial occurrence at the end")
        << QByteArray("abcx") << QByteArray("xy") << QByteArray("abcx");
    QTest::newRow("scan resumes after a removal")
        << QByteArray("aaaab") << QByteArray("aa") << QByteArray("b");
    QTest::newRow("odd run") << QByteArray("aaaaab") << QByteArray("aa") << QByteArray("ab");
    QTest::newRow("zero bytes") << QByteArray("a\0b\0", 4) << QByteArray("\0", 1) << QByteArray("ab");
    QTest::newRow("byte-order mark in the middle")
        << QByteArray(QByteArray("ab") + kBom + "cd") << kBom << QByteArray("abcd");
    QTest::newRow("empty source") << QByteArray() << QByteArray("ab") << QByteArray();
    QTest::newRow("empty pattern removes nothing") << QByteArray("abc") << QByteArray() << QByteArray("abc");
    QTest::newRow("both empty") << QByteArray() << QByteArray() << QByteArray();
}

void TestUtf8Convert::removesByteSequence()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, pattern);
    QFETCH(QByteArray, result);
    QCOMPARE(linvera::RemoveByteSequence(source, pattern), result);
}

void TestUtf8Convert::pageBytesToText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("leading byte-order mark") << QByteArray(kBom + u"あい"_s.toUtf8()) << u"あい"_s;
    QTest::newRow("byte-order mark in the middle")
        << QByteArray(u"あ"_s.toUtf8() + kBom + u"い"_s.toUtf8()) << u"あい"_s;
    QTest::newRow("several marks") << QByteArray(kBom + kBom + "a" + kBom + "b" + kBom) << u"ab"_s;
    QTest::newRow("only a mark") << kBom << QString();
    QTest::newRow("no mark") << u"<title>生放送</title>"_s.toUtf8() << u"<title>生放送</title>"_s;
    QTest::newRow("zero-width no-break space is the same three bytes")
        << QString(QString(QChar(0xFEFF)) + u"x"_s).toUtf8() << u"x"_s;
}

void TestUtf8Convert::pageBytesToText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(linvera::PageBytesToText(bytes), text);
}

QTEST_GUILESS_MAIN(TestUtf8Convert)
#include "tst_utf8convert.moc"
