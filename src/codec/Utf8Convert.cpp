#include "codec/Utf8Convert.h"

#include "platform/AnsiCodec.h"

#include <QStringDecoder>

namespace linvera {
namespace {

using platform::AnsiCodec;

// Windows code-page numbers that have an ICU codec of the same table.
const char* codecNameForCodePage(int codePage)
{
    switch (codePage) {
    case 874:
        return "windows-874";
    case 936:
        return "GBK";
    case 949:
        return "windows-949";
    case 950:
        return "Big5";
    case 1250:
        return "windows-1250";
    case 1251:
        return "windows-1251";
    case 1252:
        return "windows-1252";
    case 1253:
        return "windows-1253";
    case 1254:
        return "windows-1254";
    case 1255:
        return "windows-1255";
    case 1256:
        return "windows-1256";
    case 1257:
        return "windows-1257";
    case 1258:
        return "windows-1258";
    case 20127:
        return "US-ASCII";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 20932:
    case 51932:
        return "EUC-JP";
    case 28591:
        return "ISO-8859-1";
    case 28592:
        return "ISO-8859-2";
    case 28595:
        return "ISO-8859-5";
    case 28597:
        return "ISO-8859-7";
    case 28599:
        return "ISO-8859-9";
    case 28605:
        return "ISO-8859-15";
    case 54936:
        return "GB18030";
    default:
        return nullptr;
    }
}

QString decodeUtf8(QByteArrayView bytes)
{
    // Like MultiByteToWideChar: a leading byte-order mark is kept as U+FEFF, invalid bytes become
    // U+FFFD.
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

} // namespace

QString DecodeBytesWithCodePage(int codePage, QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    switch (codePage) {
    case 65001:
        return decodeUtf8(bytes);
    case 932:
        return AnsiCodec::decode(bytes, AnsiCodec::CodePage::Windows31J);
    case 0: // CP_ACP
    case 1: // CP_OEMCP: the same table on the systems served
    case 3: // CP_THREAD_ACP
        return AnsiCodec::current() == AnsiCodec::CodePage::Utf8 ? decodeUtf8(bytes)
                                                                 : AnsiCodec::decode(bytes);
    default:
        break;
    }
    const char* name = codecNameForCodePage(codePage);
    if (!name)
        return {};
    QStringDecoder decoder(name, QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return {};
    return decoder.decode(bytes);
}

QString Utf8BytesToText(QByteArrayView bytes)
{
    return DecodeBytesWithCodePage(65001, bytes);
}

QByteArray RemoveByteSequence(QByteArrayView source, QByteArrayView pattern)
{
    if (pattern.isEmpty() || pattern.size() > source.size())
        return source.toByteArray();
    QByteArray result;
    result.reserve(source.size());
    qsizetype p = 0;
    for (qsizetype at = source.indexOf(pattern); at >= 0; at = source.indexOf(pattern, p)) {
        result.append(source.sliced(p, at - p));
        p = at + pattern.size();
    }
    result.append(source.sliced(p));
    return result;
}

QString PageBytesToText(QByteArrayView bytes)
{
    static constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
    return Utf8BytesToText(RemoveByteSequence(bytes, QByteArrayView(kByteOrderMark, 3)));
}

} // namespace linvera
