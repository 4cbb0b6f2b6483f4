#include "platform/AnsiCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <langinfo.h>

namespace linvera::platform {
namespace {

std::atomic<AnsiCodec::CodePage>& currentCodePage()
{
    static std::atomic<AnsiCodec::CodePage> codePage{AnsiCodec::detectFromLocale()};
    return codePage;
}

// ICU names its Microsoft Shift_JIS table "windows-31j" (reported back as "Shift_JIS").
constexpr const char* kWindows31J = "windows-31j";

QStringEncoder makeEncoder(AnsiCodec::CodePage codePage)
{
    constexpr auto flags = QStringConverter::Flag::Stateless;
    if (codePage == AnsiCodec::CodePage::Windows31J)
        return QStringEncoder(kWindows31J, flags);
    return QStringEncoder(QStringConverter::Utf8, flags);
}

QStringDecoder makeDecoder(AnsiCodec::CodePage codePage)
{
    constexpr auto flags = QStringConverter::Flag::Stateless;
    if (codePage == AnsiCodec::CodePage::Windows31J)
        return QStringDecoder(kWindows31J, flags);
    return QStringDecoder(QStringConverter::Utf8, flags);
}

bool isShiftJisLead(uchar b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool endsInsideDoubleByte(QByteArrayView bytes)
{
    qsizetype i = 0;
    while (i < bytes.size())
        i += isShiftJisLead(uchar(bytes[i])) ? 2 : 1;
    return i > bytes.size();
}

bool isSurrogate(char16_t u)
{
    return u >= 0xD800 && u <= 0xDFFF;
}

// Windows converts text to code page 932 with best fit on by default: a character without a
// mapping of its own takes the bytes of a look-alike before it falls back to '?'. These are the
// entries of the best-fit table Microsoft publishes for code page 932 (bestfit932.txt, WCTABLE)
// for characters that ICU's windows-31j cannot encode and that Japanese text commonly holds: the
// JIS X 0208 readings of the rows where code page 932 chose other code points (what input methods
// and JIS-based text produce), and the JIS-Roman yen sign and overline on their ASCII bytes. Only
// entries known for certain are listed; the rest of that table is left out on purpose.
struct BestFit
{
    char16_t character;
    const char* bytes;
};

constexpr BestFit kCp932BestFit[] = {
    {u'\u00A2', "\x81\x91"}, // CENT SIGN -> FULLWIDTH CENT SIGN
    {u'\u00A3', "\x81\x92"}, // POUND SIGN -> FULLWIDTH POUND SIGN
    {u'\u00A5', "\x5C"},     // YEN SIGN -> the JIS-Roman yen at 0x5C
    {u'\u00AC', "\x81\xCA"}, // NOT SIGN -> FULLWIDTH NOT SIGN
    {u'\u2014', "\x81\x5C"}, // EM DASH -> HORIZONTAL BAR
    {u'\u2016', "\x81\x61"}, // DOUBLE VERTICAL LINE -> PARALLEL TO
    {u'\u203E', "\x7E"},     // OVERLINE -> the JIS-Roman overline at 0x7E
    {u'\u2212', "\x81\x7C"}, // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS
    {u'\u301C', "\x81\x60"}, // WAVE DASH -> FULLWIDTH TILDE
};
static_assert(std::ranges::is_sorted(kCp932BestFit, {}, &BestFit::character), "binary search needs order");

const char* cp932BestFit(char16_t u)
{
    const auto* it = std::ranges::lower_bound(kCp932BestFit, u, {}, &BestFit::character);
    return it != std::end(kCp932BestFit) && it->character == u ? it->bytes : nullptr;
}

// ICU's strict table; a character it cannot encode becomes '?'.
QByteArray encodeStrict(QStringView text, AnsiCodec::CodePage codePage)
{
    QStringEncoder encoder = makeEncoder(codePage);
    QByteArray whole = encoder.encode(text);
    if (!encoder.hasError())
        return whole;

    // Some character has no mapping. ICU would write its own substitute, Windows writes '?':
    // encode character by character and replace each one that fails.
    QByteArray out;
    out.reserve(text.size() * 2);
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype len = 1;
        if (QChar::isHighSurrogate(text[i].unicode()) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode()))
            len = 2;
        const QStringView one = text.mid(i, len);
        if (len == 1 && isSurrogate(one[0].unicode())) {
            out += '?';
        } else {
            QStringEncoder single = makeEncoder(codePage);
            const QByteArray bytes = single.encode(one);
            out += single.hasError() || bytes.isEmpty() ? QByteArray("?") : bytes;
        }
        i += len;
    }
    return out;
}

} // namespace

AnsiCodec::CodePage AnsiCodec::codePageForCodeset(QByteArrayView codeset)
{
    const QByteArray name = codeset.toByteArray().toLower().replace('-', "").replace('_', "");
    if (name == "sjis" || name == "shiftjis" || name == "cp932" || name == "windows31j" || name == "ms932" ||
        name == "mskanji")
        return CodePage::Windows31J;
    return CodePage::Utf8;
}

AnsiCodec::CodePage AnsiCodec::detectFromLocale()
{
    // The locale of the environment, as a C program sees it after setlocale(LC_ALL, "").
    const char* saved = std::setlocale(LC_CTYPE, nullptr);
    const QByteArray previous = saved ? QByteArray(saved) : QByteArray("C");
    std::setlocale(LC_CTYPE, "");
    const QByteArray codeset(nl_langinfo(CODESET));
    std::setlocale(LC_CTYPE, previous.constData());
    return codePageForCodeset(codeset);
}

void AnsiCodec::select(CodePage codePage)
{
    currentCodePage().store(codePage);
}

AnsiCodec::CodePage AnsiCodec::current()
{
    return currentCodePage().load();
}

int AnsiCodec::currentNumber()
{
    return current() == CodePage::Windows31J ? 932 : 65001;
}

QByteArray AnsiCodec::encode(QStringView text)
{
    return encode(text, current());
}

QString AnsiCodec::decode(QByteArrayView bytes)
{
    return decode(bytes, current());
}

QString AnsiCodec::decode(QByteArrayView bytes, bool& invalid)
{
    const CodePage codePage = current();
    const QString text = decode(bytes, codePage);
    const qsizetype replaced = text.count(QChar(QChar::ReplacementCharacter));
    // windows-31j has no U+FFFD; UTF-8 spells it EF BF BD.
    invalid = replaced > (codePage == CodePage::Utf8 ? bytes.count("\xEF\xBF\xBD") : 0);
    return text;
}

QByteArray AnsiCodec::encode(QStringView text, CodePage codePage)
{
    if (codePage != CodePage::Windows31J)
        return encodeStrict(text, codePage);

    // The best-fit characters are all single UTF-16 units outside the surrogates, so cutting the
    // text at them never splits a pair.
    QByteArray out;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (const char* fit = cp932BestFit(text[i].unicode())) {
            out += encodeStrict(text.sliced(start, i - start), codePage);
            out += fit;
            start = i + 1;
        }
    }
    if (start == 0)
        return encodeStrict(text, codePage);
    out += encodeStrict(text.sliced(start), codePage);
    return out;
}

QString AnsiCodec::decode(QByteArrayView bytes, CodePage codePage)
{
    if (bytes.isEmpty())
        return {};
    QStringDecoder decoder = makeDecoder(codePage);
    QString text = decoder.decode(bytes);
    // ICU drops a lead byte that the end of the input cuts off; show it as a replacement character
    // like any other broken sequence, so nothing disappears without trace.
    if (codePage == CodePage::Windows31J && endsInsideDoubleByte(bytes))
        text += QChar(QChar::ReplacementCharacter);
    return text;
}

} // namespace linvera::platform
