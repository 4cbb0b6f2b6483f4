#include "codec/PercentCoding.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;
using linvera::PercentDecode;
using linvera::PercentEncode;

namespace {

// Kinds of characters the random texts draw from.
enum Kind : int {
    Ascii = 0x01,         // every printable ASCII character, some controls
    TwoByte = 0x02,       // U+0080 to U+07FF
    Japanese = 0x04,      // kana, kanji, Japanese punctuation, full-width forms
    HalfWidthKana = 0x08, // U+FF61 to U+FF9F
    Supplementary = 0x10, // characters outside the basic plane, as surrogate pairs
    LoneSurrogate = 0x20, // a single high or low surrogate
};

QString randomText(QRandomGenerator& rng, int kinds, int maxLength)
{
    QList<int> allowed;
    for (int k = Ascii; k <= LoneSurrogate; k <<= 1) {
        if (kinds & k)
            allowed << k;
    }
    const int length = int(rng.bounded(maxLength + 1));
    QString text;
    for (int i = 0; i < length; ++i) {
        switch (allowed[int(rng.bounded(qsizetype(allowed.size())))]) {
        case Ascii:
            // Mostly printable, sometimes a control character or DEL.
            text += rng.bounded(10) == 0 ? QChar(char16_t(rng.bounded(0x20)))
                                         : QChar(char16_t(0x20 + rng.bounded(0x60)));
            break;
        case TwoByte:
            text += QChar(char16_t(0x80 + rng.bounded(0x800 - 0x80)));
            break;
        case Japanese: {
            static const char16_t ranges[][2] = {
                {0x3000, 0x303F}, {0x3041, 0x3096}, {0x30A1, 0x30FA}, {0x4E00, 0x9FFF}, {0xFF01, 0xFF5E}};
            const auto& r = ranges[rng.bounded(5)];
            text += QChar(char16_t(r[0] + rng.bounded(r[1] - r[0] + 1)));
            break;
        }
        case HalfWidthKana:
            text += QChar(char16_t(0xFF61 + rng.bounded(0xFF9F - 0xFF61 + 1)));
            break;
        case Supplementary: {
            const char32_t ucs4 = char32_t(0x10000 + rng.bounded(0x110000 - 0x10000));
            text += QChar(QChar::highSurrogate(ucs4));
            text += QChar(QChar::lowSurrogate(ucs4));
            break;
        }
        case LoneSurrogate:
            text += QChar(char16_t(0xD800 + rng.bounded(0x800)));
            break;
        }
    }
    return text;
}

// The text with every lone surrogate replaced by U+FFFD, which is what its encoding stands for.
QString soundText(QStringView text)
{
    QString out = text.toString();
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate())
            ++i;
        else if (out[i].isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

// The characters of a text, a surrogate pair as one.
QStringList characters(QStringView text)
{
    QStringList out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        out << text.mid(i, pair ? 2 : 1).toString();
        i += pair ? 1 : 0;
    }
    return out;
}

// UTF-8 bytes built with Qt's encoder. Characters outside the basic plane are encoded whole
// (four bytes), so that servers read real UTF-8 (the design encoded each unit of a pair alone,
// which no UTF-8 decoder accepts); a lone surrogate is U+FFFD.
QByteArray referenceBytes(QStringView text)
{
    return soundText(text).toUtf8();
}

// The form encoding by Qt's percent encoder: "@" and "*" pass, "~" is escaped, and a space
// (which Qt escapes) becomes "+". Only escapes start with "%", so "%20" is exactly a space.
QString referenceEncode(QStringView text)
{
    const QByteArray escaped = referenceBytes(text).toPercentEncoding("@*", "~");
    return QString::fromLatin1(escaped).replace(u"%20"_s, u"+"_s);
}

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

// A plain decoder written straight from the rules, with every index checked, to compare with.
QString referenceDecode(QStringView s)
{
    QString out;
    const auto escapeAt = [&](qsizetype at, int& value) {
        if (at + 2 >= s.size())
            return false;
        if (!isHexDigit(s[at + 1]) || !isHexDigit(s[at + 2]))
            return false;
        value = s.mid(at + 1, 2).toString().toInt(nullptr, 16);
        return true;
    };
    const auto hexAt = [&](qsizetype at, int& value) {
        if (!isHexDigit(s[at]) || !isHexDigit(s[at + 1]))
            return false;
        value = s.mid(at, 2).toString().toInt(nullptr, 16);
        return true;
    };
    qsizetype i = 0;
    while (i < s.size()) {
        if (s[i] == u'+') {
            out += u' ';
            ++i;
            continue;
        }
        int v = 0;
        if (s[i] != u'%' || !escapeAt(i, v)) {
            out += s[i];
            ++i;
            continue;
        }
        if (v <= 127) {
            out += QChar(char16_t(v));
            i += 3;
        } else if (v <= 193) {
            return u"ERROR"_s;
        } else if (v <= 223) {
            if (s.size() - i < 6)
                return out + s.mid(i);
            int b2 = 0;
            if (hexAt(i + 4, b2))
                out += QChar(char16_t((v & 0x1F) * 64 + (b2 & 0x3F)));
            else
                out += s.mid(i, 6);
            i += 6;
        } else if (v <= 239) {
            if (s.size() - i < 9)
                return out + s.mid(i);
            int b2 = 0;
            int b3 = 0;
            if (hexAt(i + 4, b2) && hexAt(i + 7, b3))
                out += QChar(char16_t((v & 0x0F) * 4096 + (b2 & 0x3F) * 64 + (b3 & 0x3F)));
            else
                out += s.mid(i, 9);
            i += 9;
        } else if (v <= 244 && s.size() - i < 12) {
            return out + s.mid(i);
        } else {
            // A complete four-byte sequence of U+10000 to U+10FFFF decodes; anything else keeps
            // the design's rule: the lead becomes "%".
            char32_t c = char32_t(v & 0x07);
            bool whole = v <= 244;
            for (qsizetype k = i + 3; whole && k < i + 12; k += 3) {
                int b = 0;
                whole = s[k] == u'%' && hexAt(k + 1, b) && b >= 0x80 && b <= 0xBF;
                c = (c << 6) | char32_t(b & 0x3F);
            }
            if (whole && c >= 0x10000 && c <= 0x10FFFF) {
                out += QChar(QChar::highSurrogate(c));
                out += QChar(QChar::lowSurrogate(c));
                i += 12;
            } else {
                out += u'%';
                i += 3;
            }
        }
    }
    return out;
}

// The text in a heap block of exactly its length, so that AddressSanitizer catches any read
// past its end (a QString would hide it behind its terminating zero).
class ExactBuffer
{
public:
    explicit ExactBuffer(QStringView text)
        : m_size(text.size())
        , m_units(new char16_t[size_t(text.size())])
    {
        std::copy(text.utf16(), text.utf16() + text.size(), m_units.get());
    }
    QStringView view() const { return QStringView(m_units.get(), m_size); }

private:
    qsizetype m_size;
    std::unique_ptr<char16_t[]> m_units;
};

QString hexEscape(uint byte)
{
    return u"%"_s + QString::number(byte, 16).toUpper().rightJustified(2, u'0');
}

} // namespace

class TestPercentCoding : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodes_data();
    void encodes();
    void encodesEveryAsciiUnit_data();
    void encodesEveryAsciiUnit();
    void decodes_data();
    void decodes();
    void decodesEveryPrefixOfAnEncoding_data();
    void decodesEveryPrefixOfAnEncoding();
    void encodeMatchesQtEncoder_data();
    void encodeMatchesQtEncoder();
    void decodeRoundTrips_data();
    void decodeRoundTrips();
    void decodeOfRandomEscapesMatchesPlainDecoder_data();
    void decodeOfRandomEscapesMatchesPlainDecoder();
};

void TestPercentCoding::encodes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("space and ampersand") << u"a b&c"_s << u"a+b%26c"_s;
    QTest::newRow("marks: @ and * pass, ~ is escaped") << u"@*-._~"_s << u"@*-._%7E"_s;
    QTest::newRow("e acute, two bytes") << u"é"_s << u"%C3%A9"_s;
    QTest::newRow("hiragana a, three bytes") << u"あ"_s << u"%E3%81%82"_s;
    QTest::newRow("plus is escaped") << u"+"_s << u"%2B"_s;
    QTest::newRow("percent is escaped") << u"%"_s << u"%25"_s;
    QTest::newRow("line feed") << u"\n"_s << u"%0A"_s;
    QTest::newRow("slash") << u"/"_s << u"%2F"_s;
    QTest::newRow("NUL") << QString(QChar(u'\0')) << u"%00"_s;
    QTest::newRow("DEL") << QString(QChar(char16_t(0x7F))) << u"%7F"_s;
    QTest::newRow("question mark just below @") << u"?"_s << u"%3F"_s;
    QTest::newRow("bracket just above Z") << u"[Z"_s << u"%5BZ"_s;
    QTest::newRow("backquote and brace around a-z") << u"`az{"_s << u"%60az%7B"_s;
    QTest::newRow("lowest two-byte unit U+0080") << QString(QChar(char16_t(0x80))) << u"%C2%80"_s;
    QTest::newRow("highest two-byte unit U+07FF") << QString(QChar(char16_t(0x7FF))) << u"%DF%BF"_s;
    QTest::newRow("lowest three-byte unit U+0800") << QString(QChar(char16_t(0x800))) << u"%E0%A0%80"_s;
    QTest::newRow("highest unit U+FFFF") << QString(QChar(char16_t(0xFFFF))) << u"%EF%BF%BF"_s;
    QTest::newRow("half-width kana") << u"ｱｸﾘ"_s << u"%EF%BD%B1%EF%BD%B8%EF%BE%98"_s;
    // Outside the basic plane: one four-byte sequence per character, not the design's two
    // three-byte sequences per pair, which servers cannot read as UTF-8.
    QTest::newRow("emoji is one four-byte sequence") << u"😀"_s << u"%F0%9F%98%80"_s;
    QTest::newRow("lowest supplementary U+10000") << u"\U00010000"_s << u"%F0%90%80%80"_s;
    QTest::newRow("highest supplementary U+10FFFF") << u"\U0010FFFF"_s << u"%F4%8F%BF%BF"_s;
    QTest::newRow("emoji between words") << u"a😀 b"_s << u"a%F0%9F%98%80+b"_s;
    QTest::newRow("lone high surrogate") << QString(QChar(char16_t(0xD800))) << u"%EF%BF%BD"_s;
    QTest::newRow("lone low surrogate") << QString(QChar(char16_t(0xDFFF))) << u"%EF%BF%BD"_s;
    QTest::newRow("high surrogate at the end") << u"x"_s + QChar(char16_t(0xDBFF)) << u"x%EF%BF%BD"_s;
    QTest::newRow("pair in the wrong order")
        << QString(QChar(char16_t(0xDC00))) + QChar(char16_t(0xD800)) << u"%EF%BF%BD%EF%BF%BD"_s;
    QTest::newRow("URL") << u"http://example.com/a?b=c d"_s << u"http%3A%2F%2Fexample.com%2Fa%3Fb%3Dc+d"_s;
    QTest::newRow("Japanese query") << u"検索 テスト"_s
                                    << u"%E6%A4%9C%E7%B4%A2+%E3%83%86%E3%82%B9%E3%83%88"_s;
}

void TestPercentCoding::encodes()
{
    QFETCH(QString, text);
    QFETCH(QString, encoded);
    const QString result = PercentEncode(text);
    QCOMPARE(result, encoded);
    QVERIFY(result.size() <= 9 * text.size());
}

void TestPercentCoding::encodesEveryAsciiUnit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");
    const QString passing = u"0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz*-._"_s;
    for (char16_t u = 0; u < 0x80; ++u) {
        const QString text(QChar{u});
        const QString encoded = u == u' ' ? u"+"_s : (passing.contains(text) ? text : hexEscape(u));
        QTest::addRow("0x%02X", unsigned(u)) << text << encoded;
    }
}

void TestPercentCoding::encodesEveryAsciiUnit()
{
    QFETCH(QString, text);
    QFETCH(QString, encoded);
    QCOMPARE(PercentEncode(text), encoded);
}

void TestPercentCoding::decodes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("decoded");
    const QString error = u"ERROR"_s;

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("plus and escape") << u"a+b%26c"_s << u"a b&c"_s;
    QTest::newRow("three-byte sequence") << u"%E3%81%82"_s << u"あ"_s;
    QTest::newRow("two-byte sequence") << u"%C3%A9"_s << u"é"_s;
    QTest::newRow("lower-case digits") << u"%e3%81%82%c3%a9%2f"_s << u"あé/"_s;
    QTest::newRow("escaped plus stays a plus") << u"+%2B+"_s << u" + "_s;
    QTest::newRow("NUL escape") << u"a%00b"_s << QString(u"a"_s + QChar(u'\0') + u"b"_s);
    QTest::newRow("DEL escape") << u"%7F"_s << QString(QChar(char16_t(0x7F)));
    QTest::newRow("long runs with plus signs")
        << u"abc+def+ghi+jkl+mno+pqr+"_s << u"abc def ghi jkl mno pqr "_s;
    QTest::newRow("escapes between long runs")
        << u"abcdefghij%41klmnopqrst%E3%81%82uvwxyz0123+%2b"_s << u"abcdefghijAklmnopqrstあuvwxyz0123 +"_s;
    QTest::newRow("no percent or plus")
        << u"http://example.com/a?b=c&d#e"_s << u"http://example.com/a?b=c&d#e"_s;
    QTest::newRow("raw Japanese passes") << u"日本語ｶﾅ😀"_s << u"日本語ｶﾅ😀"_s;
    QTest::newRow("surrogates as three-byte sequences") << u"%ED%A0%BD%ED%B8%80"_s << u"😀"_s;
    QTest::newRow("lowest three-byte lead U+0800") << u"%E0%A0%80"_s << QString(QChar(char16_t(0x800)));
    QTest::newRow("highest two-byte lead U+07FF") << u"%DF%BF"_s << QString(QChar(char16_t(0x7FF)));

    QTest::newRow("continuation byte 0x80") << u"%80"_s << error;
    QTest::newRow("continuation byte 0xBF") << u"%BF"_s << error;
    QTest::newRow("over-long lead 0xC1") << u"x%C1%81"_s << error;
    QTest::newRow("over-long lead 0xC0") << u"%C0%80"_s << error;
    QTest::newRow("nothing of the partial result") << u"abc%41+%A9"_s << error;

    // Four-byte sequences decode to their character (the design left them undecoded). Cut short
    // by the end of the text they stay as they are, like the shorter ones; any other lead of 0xF0
    // or more still becomes "%", and its continuation escapes then give "ERROR".
    QTest::newRow("four-byte emoji") << u"%F0%9F%98%80"_s << u"😀"_s;
    QTest::newRow("four-byte emoji, lower case, text after") << u"%f0%9f%98%80x+"_s << u"😀x "_s;
    QTest::newRow("lowest four-byte U+10000") << u"%F0%90%80%80"_s << u"\U00010000"_s;
    QTest::newRow("highest four-byte U+10FFFF") << u"%F4%8F%BF%BF"_s << u"\U0010FFFF"_s;
    QTest::newRow("four-byte lead alone") << u"%F0"_s << u"%F0"_s;
    QTest::newRow("four-byte lead before text") << u"%F4abc"_s << u"%F4abc"_s;
    QTest::newRow("four-byte, last byte missing") << u"a%F0%9F%98"_s << u"a%F0%9F%98"_s;
    QTest::newRow("lead 0xFF") << u"%FFx"_s << u"%x"_s;
    QTest::newRow("lead 0xF5") << u"%F5%80%80%80"_s << error;
    QTest::newRow("beyond U+10FFFF") << u"%F4%90%80%80"_s << error;
    QTest::newRow("over-long four-byte") << u"%F0%8F%BF%BF"_s << error;
    QTest::newRow("four-byte, separator not percent") << u"%F0x9F%98%80"_s << error;
    QTest::newRow("four-byte, ASCII in place of a continuation") << u"%F0%9F%41%80"_s << error;

    // Escapes that are cut short or not hexadecimal: the "%" is kept as a plain character.
    QTest::newRow("percent at the end") << u"100%"_s << u"100%"_s;
    QTest::newRow("percent alone") << u"%"_s << u"%"_s;
    QTest::newRow("one digit at the end") << u"%4"_s << u"%4"_s;
    QTest::newRow("not hexadecimal") << u"%zz"_s << u"%zz"_s;
    QTest::newRow("second digit not hexadecimal") << u"%4g+"_s << u"%4g "_s;
    QTest::newRow("first digit not hexadecimal") << u"%g4"_s << u"%g4"_s;
    QTest::newRow("percent before an escape") << u"%%41"_s << u"%A"_s;
    QTest::newRow("full-width digits are not hexadecimal") << u"%１２"_s << u"%１２"_s;
    QTest::newRow("kana after percent") << u"%あ1"_s << u"%あ1"_s;
    QTest::newRow("valid escape after a broken one") << u"50%+off%21"_s << u"50% off!"_s;

    // Sequences cut short by the end of the text stay as they are.
    QTest::newRow("two-byte lead at the end") << u"%C3"_s << u"%C3"_s;
    QTest::newRow("two-byte lead and percent") << u"a%C3%"_s << u"a%C3%"_s;
    QTest::newRow("two-byte, one digit missing") << u"%C3%A"_s << u"%C3%A"_s;
    QTest::newRow("three-byte lead at the end") << u"%E3"_s << u"%E3"_s;
    QTest::newRow("three-byte, third byte missing") << u"%E3%81"_s << u"%E3%81"_s;
    QTest::newRow("three-byte, one digit missing") << u"x%E3%81%8"_s << u"x%E3%81%8"_s;
    QTest::newRow("cut sequence after decoded text") << u"a+%41%E3%81+"_s << u"a A%E3%81+"_s;

    // Continuation escapes that are not hexadecimal: the whole sequence stays as it is.
    QTest::newRow("two-byte, second byte not hexadecimal") << u"%C3%zz!"_s << u"%C3%zz!"_s;
    QTest::newRow("three-byte, third byte not hexadecimal") << u"%E3%81%zz+"_s << u"%E3%81%zz "_s;
    QTest::newRow("three-byte, second byte not hexadecimal") << u"%E3%zz%82"_s << u"%E3%zz%82"_s;
    QTest::newRow("two-byte lead before plain words") << u"%C3 and more"_s << u"%C3 and more"_s;

    // The unit between escapes is taken as their "%" without looking at it.
    QTest::newRow("two-byte separator not checked") << u"%C3xA9"_s << u"é"_s;
    QTest::newRow("three-byte separators not checked") << u"%E3x81y82"_s << u"あ"_s;
}

void TestPercentCoding::decodes()
{
    QFETCH(QString, text);
    QFETCH(QString, decoded);
    const ExactBuffer buffer(text);
    QCOMPARE(PercentDecode(buffer.view()), decoded);
}

void TestPercentCoding::decodesEveryPrefixOfAnEncoding_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("ASCII with escapes") << u"a b&c/~"_s;
    QTest::newRow("two-byte characters") << u"éü"_s;
    QTest::newRow("hiragana") << u"あいう"_s;
    QTest::newRow("half-width kana") << u"ｶﾞ"_s;
    QTest::newRow("supplementary") << u"😀x"_s;
    QTest::newRow("URL-like mix") << u"http://example.com/検索?q=ｱ b&x=é😀"_s;
}

// Every prefix of an encoding decodes to the characters of its complete escapes followed by the
// cut-off rest unchanged, and no prefix makes the decoder read past its end.
void TestPercentCoding::decodesEveryPrefixOfAnEncoding()
{
    QFETCH(QString, text);
    const QStringList chars = characters(text);
    QStringList pieces;
    for (const QString& c : chars)
        pieces << referenceEncode(c);
    const QString encoded = pieces.join(QString());
    QCOMPARE(PercentEncode(text), encoded);

    qsizetype complete = 0;
    qsizetype pieceStart = 0;
    for (qsizetype length = 0; length <= encoded.size(); ++length) {
        while (complete < pieces.size() && pieceStart + pieces[complete].size() <= length)
            pieceStart += pieces[complete++].size();
        const QString expected =
            chars.mid(0, complete).join(QString()) + encoded.mid(pieceStart, length - pieceStart);
        const ExactBuffer prefix(QStringView(encoded).left(length));
        QCOMPARE(PercentDecode(prefix.view()), expected);
    }
}

void TestPercentCoding::encodeMatchesQtEncoder_data()
{
    QTest::addColumn<int>("kinds");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("ASCII") << int(Ascii) << 1u;
    QTest::newRow("two-byte") << int(TwoByte) << 2u;
    QTest::newRow("Japanese") << int(Japanese) << 3u;
    QTest::newRow("half-width kana") << int(HalfWidthKana) << 4u;
    QTest::newRow("supplementary") << int(Supplementary) << 5u;
    QTest::newRow("ASCII and Japanese") << int(Ascii | Japanese | HalfWidthKana) << 6u;
    QTest::newRow("everything") << int(Ascii | TwoByte | Japanese | HalfWidthKana | Supplementary) << 7u;
    QTest::newRow("everything and lone surrogates")
        << int(Ascii | TwoByte | Japanese | HalfWidthKana | Supplementary | LoneSurrogate) << 8u;
}

void TestPercentCoding::encodeMatchesQtEncoder()
{
    QFETCH(int, kinds);
    QFETCH(quint32, seed);
    QRandomGenerator rng(seed);
    for (int round = 0; round < 500; ++round) {
        const QString text = randomText(rng, kinds, 48);
        const QString encoded = PercentEncode(text);
        if (encoded != referenceEncode(text)) {
            QCOMPARE(encoded, referenceEncode(text));
        }
        QVERIFY(encoded.size() <= 9 * text.size());
    }
}

void TestPercentCoding::decodeRoundTrips_data()
{
    encodeMatchesQtEncoder_data();
}

void TestPercentCoding::decodeRoundTrips()
{
    QFETCH(int, kinds);
    QFETCH(quint32, seed);
    QRandomGenerator rng(seed + 100);
    for (int round = 0; round < 500; ++round) {
        const QString text = randomText(rng, kinds, 48);
        // A lone surrogate comes back as U+FFFD, the character its encoding stands for.
        const QString sound = soundText(text);
        const QString ours = PercentDecode(PercentEncode(text));
        if (ours != sound)
            QCOMPARE(ours, sound);
        // The decoder against Qt's encoder alone.
        const QString fromQt = PercentDecode(referenceEncode(text));
        if (fromQt != sound)
            QCOMPARE(fromQt, sound);
        // And Qt's decoder against ours: every encoding is now valid UTF-8, pairs included.
        QByteArray form = PercentEncode(text).toLatin1();
        form.replace('+', ' ');
        const QString byQt = QString::fromUtf8(QByteArray::fromPercentEncoding(form));
        if (byQt != sound)
            QCOMPARE(byQt, sound);
    }
}

void TestPercentCoding::decodeOfRandomEscapesMatchesPlainDecoder_data()
{
    QTest::addColumn<QString>("alphabet");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("digits, percent, plus") << u"%%%%+0123456789ABCDEFabcdef"_s << 11u;
    QTest::newRow("lead bytes and noise") << u"%%%%%+0CDE8F9AB xzあ"_s << 12u;
    QTest::newRow("valid leads only") << u"%%%%%CDE89AB"_s << 13u;
    QTest::newRow("four-byte leads") << u"%%%%%%F0489ABC"_s << 14u;
}

void TestPercentCoding::decodeOfRandomEscapesMatchesPlainDecoder()
{
    QFETCH(QString, alphabet);
    QFETCH(quint32, seed);
    QRandomGenerator rng(seed);
    int errors = 0;
    int decodedSequences = 0;
    for (int round = 0; round < 3000; ++round) {
        const int length = int(rng.bounded(24));
        QString text;
        for (int i = 0; i < length; ++i)
            text += alphabet[rng.bounded(alphabet.size())];
        const ExactBuffer buffer(text);
        const QString ours = PercentDecode(buffer.view());
        const QString expected = referenceDecode(text);
        if (ours != expected) {
            qWarning() << "input" << text;
            QCOMPARE(ours, expected);
        }
        QVERIFY(ours == u"ERROR"_s || ours.size() <= text.size());
        if (ours == u"ERROR"_s)
            ++errors;
        else if (std::any_of(ours.cbegin(), ours.cend(), [](QChar c) { return c.unicode() >= 0x80; }))
            ++decodedSequences;
    }
    // The inputs must reach both the failing and the multi-byte paths.
    QVERIFY(errors > 0);
    QVERIFY(decodedSequences > 0 || !alphabet.contains(u'C'));
}

QTEST_GUILESS_MAIN(TestPercentCoding)
#include "tst_percentcoding.moc"
