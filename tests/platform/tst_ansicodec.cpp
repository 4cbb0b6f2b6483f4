#include "platform/AnsiCodec.h"

#include <QTest>

using linvera::platform::AnsiCodec;
using CodePage = AnsiCodec::CodePage;

Q_DECLARE_METATYPE(CodePage)

class TestAnsiCodec : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void codesetChoosesCodePage_data();
    void codesetChoosesCodePage();
    void encodes_data();
    void encodes();
    void roundTrips_data();
    void roundTrips();
    void exactMappingsRoundTrip_data();
    void exactMappingsRoundTrip();
    void bestFit_data();
    void bestFit();
    void decodesBrokenBytesWithoutLoss();
    void selectIsProcessWide();
};

void TestAnsiCodec::codesetChoosesCodePage_data()
{
    QTest::addColumn<QByteArray>("codeset");
    QTest::addColumn<CodePage>("expected");
    QTest::newRow("SJIS") << QByteArray("SJIS") << CodePage::Windows31J;
    QTest::newRow("Shift_JIS") << QByteArray("Shift_JIS") << CodePage::Windows31J;
    QTest::newRow("CP932") << QByteArray("CP932") << CodePage::Windows31J;
    QTest::newRow("windows-31j") << QByteArray("windows-31j") << CodePage::Windows31J;
    QTest::newRow("UTF-8") << QByteArray("UTF-8") << CodePage::Utf8;
    QTest::newRow("C locale") << QByteArray("ANSI_X3.4-1968") << CodePage::Utf8;
    QTest::newRow("EUC-JP is not Shift_JIS") << QByteArray("EUC-JP") << CodePage::Utf8;
    QTest::newRow("empty") << QByteArray() << CodePage::Utf8;
}

void TestAnsiCodec::codesetChoosesCodePage()
{
    QFETCH(QByteArray, codeset);
    QFETCH(CodePage, expected);
    QCOMPARE(AnsiCodec::codePageForCodeset(codeset), expected);
}

void TestAnsiCodec::encodes_data()
{
    QTest::addColumn<CodePage>("codePage");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("cp932 hiragana") << CodePage::Windows31J << QStringLiteral(u"あ")
                                    << QByteArray("\x82\xa0");
    QTest::newRow("cp932 half-width kana")
        << CodePage::Windows31J << QStringLiteral(u"ｸﾘｯﾌﾟ") << QByteArray("\xb8\xd8\xaf\xcc\xdf");
    QTest::newRow("cp932 NEC circled one")
        << CodePage::Windows31J << QStringLiteral(u"①") << QByteArray("\x87\x40");
    QTest::newRow("cp932 backslash and tilde stay ASCII")
        << CodePage::Windows31J << QStringLiteral(u"\\~") << QByteArray("\\~");
    QTest::newRow("cp932 unmappable euro")
        << CodePage::Windows31J << QStringLiteral(u"a€b") << QByteArray("a?b");
    QTest::newRow("cp932 unmappable emoji is one ?")
        << CodePage::Windows31J << QStringLiteral(u"x😀y") << QByteArray("x?y");
    QTest::newRow("cp932 lone surrogate")
        << CodePage::Windows31J << QString(QChar(0xD800)) << QByteArray("?");
    QTest::newRow("utf8 hiragana") << CodePage::Utf8 << QStringLiteral(u"あ") << QByteArray("\xe3\x81\x82");
    QTest::newRow("utf8 wave dash is not best-fitted") << CodePage::Utf8 << QStringLiteral(u"10〜20")
                                                       << QByteArray("10\xe3\x80\x9c"
                                                                     "20");
    QTest::newRow("utf8 yen sign is not best-fitted")
        << CodePage::Utf8 << QStringLiteral(u"¥") << QByteArray("\xc2\xa5");
    QTest::newRow("utf8 emoji") << CodePage::Utf8 << QStringLiteral(u"😀") << QByteArray("\xf0\x9f\x98\x80");
    QTest::newRow("utf8 lone high surrogate at end")
        << CodePage::Utf8 << (QStringLiteral(u"a") + QChar(0xD800)) << QByteArray("a?");
    QTest::newRow("utf8 lone low surrogate")
        << CodePage::Utf8 << (QChar(0xDC00) + QStringLiteral(u"b")) << QByteArray("?b");
    QTest::newRow("empty") << CodePage::Utf8 << QString() << QByteArray();
}

void TestAnsiCodec::encodes()
{
    QFETCH(CodePage, codePage);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(AnsiCodec::encode(text, codePage), bytes);
}

void TestAnsiCodec::roundTrips_data()
{
    QTest::addColumn<CodePage>("codePage");
    QTest::addColumn<QString>("text");
    const QString japanese = QStringLiteral(u"変換ログ：http://例え.example/パス?q=ｶﾅ＆漢字①～");
    QTest::newRow("cp932 Japanese") << CodePage::Windows31J << japanese;
    QTest::newRow("utf8 Japanese") << CodePage::Utf8 << japanese;
    QTest::newRow("utf8 supplementary") << CodePage::Utf8 << QStringLiteral(u"𠮷野家😀");
    QTest::newRow("cp932 ascii controls") << CodePage::Windows31J << QStringLiteral(u"a\tb\r\nc");
}

void TestAnsiCodec::roundTrips()
{
    QFETCH(CodePage, codePage);
    QFETCH(QString, text);
    QCOMPARE(AnsiCodec::decode(AnsiCodec::encode(text, codePage), codePage), text);
}

void TestAnsiCodec::exactMappingsRoundTrip_data()
{
    // Characters code page 932 holds as such: the bytes are the table's, and decoding gives them back.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("kanji") << QStringLiteral(u"漢字") << QByteArray("\x8a\xbf\x8e\x9a");
    QTest::newRow("kanji 日本語") << QStringLiteral(u"日本語") << QByteArray("\x93\xfa\x96\x7b\x8c\xea");
    QTest::newRow("hiragana") << QStringLiteral(u"あん") << QByteArray("\x82\xa0\x82\xf1");
    QTest::newRow("katakana with long vowel mark")
        << QStringLiteral(u"アー") << QByteArray("\x83\x41\x81\x5b");
    QTest::newRow("half-width kana first and last") << QStringLiteral(u"｡ﾟ") << QByteArray("\xa1\xdf");
    QTest::newRow("half-width kana word") << QStringLiteral(u"ｶﾅ") << QByteArray("\xb6\xc5");
    // The code page's own forms of the best-fit characters encode exactly.
    QTest::newRow("fullwidth tilde") << QStringLiteral(u"～") << QByteArray("\x81\x60");
    QTest::newRow("fullwidth hyphen-minus") << QStringLiteral(u"－") << QByteArray("\x81\x7c");
    QTest::newRow("parallel to") << QStringLiteral(u"∥") << QByteArray("\x81\x61");
    QTest::newRow("fullwidth cent, pound, not")
        << QStringLiteral(u"￠￡￢") << QByteArray("\x81\x91\x81\x92\x81\xca");
    QTest::newRow("horizontal bar") << QStringLiteral(u"―") << QByteArray("\x81\x5c");
    QTest::newRow("ASCII backslash and tilde") << QStringLiteral(u"\\~") << QByteArray("\\~");
}

void TestAnsiCodec::exactMappingsRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(AnsiCodec::encode(text, CodePage::Windows31J), bytes);
    QCOMPARE(AnsiCodec::decode(bytes, CodePage::Windows31J), text);
}

void TestAnsiCodec::bestFit_data()
{
    // What Windows writes for code page 932 with its default best fit, and what those bytes read
    // back as: the code page's own character, so these do not round-trip.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("decoded");
    QTest::newRow("wave dash") << QStringLiteral(u"〜") << QByteArray("\x81\x60") << QStringLiteral(u"～");
    QTest::newRow("minus sign") << QStringLiteral(u"−") << QByteArray("\x81\x7c") << QStringLiteral(u"－");
    QTest::newRow("double vertical line")
        << QStringLiteral(u"‖") << QByteArray("\x81\x61") << QStringLiteral(u"∥");
    QTest::newRow("cent sign") << QStringLiteral(u"¢") << QByteArray("\x81\x91") << QStringLiteral(u"￠");
    QTest::newRow("pound sign") << QStringLiteral(u"£") << QByteArray("\x81\x92") << QStringLiteral(u"￡");
    QTest::newRow("not sign") << QStringLiteral(u"¬") << QByteArray("\x81\xca") << QStringLiteral(u"￢");
    QTest::newRow("em dash") << QStringLiteral(u"—") << QByteArray("\x81\x5c") << QStringLiteral(u"―");
    QTest::newRow("yen sign") << QStringLiteral(u"¥") << QByteArray("\\") << QStringLiteral(u"\\");
    QTest::newRow("overline") << QStringLiteral(u"‾") << QByteArray("~") << QStringLiteral(u"~");
    QTest::newRow("wave dash in a URL") << QStringLiteral(u"https://ja.example/10〜20")
                                        << QByteArray("https://ja.example/10\x81\x60"
                                                      "20")
                                        << QStringLiteral(u"https://ja.example/10～20");
    QTest::newRow("first and last character") << QStringLiteral(u"−a‖")
                                              << QByteArray("\x81\x7c"
                                                            "a\x81\x61")
                                              << QStringLiteral(u"－a∥");
    QTest::newRow("two in a row") << QStringLiteral(u"¥‾") << QByteArray("\\~") << QStringLiteral(u"\\~");
    QTest::newRow("beside kanji and half-width kana")
        << QStringLiteral(u"東京〜ｵｵｻｶ") << QByteArray("\x93\x8c\x8b\x9e\x81\x60\xb5\xb5\xbb\xb6")
        << QStringLiteral(u"東京～ｵｵｻｶ");
    // A character with neither a mapping nor a best fit is still '?', whatever stands around it.
    QTest::newRow("beside an unmappable character")
        << QStringLiteral(u"〜€〜") << QByteArray("\x81\x60?\x81\x60") << QStringLiteral(u"～?～");
    QTest::newRow("after a surrogate pair")
        << QStringLiteral(u"😀¢") << QByteArray("?\x81\x91") << QStringLiteral(u"?￠");
    QTest::newRow("after a lone high surrogate") << (QString(QChar(0xD83D)) + QStringLiteral(u"£"))
                                                 << QByteArray("?\x81\x92") << QStringLiteral(u"?￡");
}

void TestAnsiCodec::bestFit()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, decoded);
    QCOMPARE(AnsiCodec::encode(text, CodePage::Windows31J), bytes);
    QCOMPARE(AnsiCodec::decode(bytes, CodePage::Windows31J), decoded);
}

void TestAnsiCodec::decodesBrokenBytesWithoutLoss()
{
    // A lead byte cut off by the end must still show up as something, not vanish.
    const QString cut = AnsiCodec::decode(QByteArray("\x82\xa0\x82"), CodePage::Windows31J);
    QCOMPARE(cut.left(1), QStringLiteral(u"あ"));
    QCOMPARE(cut.size(), 2);
    const QString cutUtf8 = AnsiCodec::decode(QByteArray("a\xe3\x81"), CodePage::Utf8);
    QVERIFY(cutUtf8.size() >= 2);
    QCOMPARE(cutUtf8.at(0), QLatin1Char('a'));
    QCOMPARE(cutUtf8.back(), QChar(QChar::ReplacementCharacter));
    QCOMPARE(AnsiCodec::decode(QByteArray("\x82\xa0"
                                          "a"),
                               CodePage::Windows31J),
             QStringLiteral(u"あa"));
    const QString bad = AnsiCodec::decode(QByteArray("a\xff"
                                                     "b"),
                                          CodePage::Utf8);
    QCOMPARE(bad.size(), 3);
    QCOMPARE(bad.at(1), QChar(QChar::ReplacementCharacter));
}

void TestAnsiCodec::selectIsProcessWide()
{
    const CodePage before = AnsiCodec::current();
    AnsiCodec::select(CodePage::Windows31J);
    QCOMPARE(AnsiCodec::currentNumber(), 932);
    QCOMPARE(AnsiCodec::encode(QStringLiteral(u"あ")), QByteArray("\x82\xa0"));
    QCOMPARE(AnsiCodec::encode(QStringLiteral(u"〜")), QByteArray("\x81\x60"));
    AnsiCodec::select(CodePage::Utf8);
    QCOMPARE(AnsiCodec::currentNumber(), 65001);
    QCOMPARE(AnsiCodec::encode(QStringLiteral(u"あ")), QByteArray("\xe3\x81\x82"));
    AnsiCodec::select(before);
}

QTEST_GUILESS_MAIN(TestAnsiCodec)
#include "tst_ansicodec.moc"
