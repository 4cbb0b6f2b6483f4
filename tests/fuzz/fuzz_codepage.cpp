// Code-page decoding and the ANSI codec over hostile bytes.
#include "FuzzSupport.h"
#include "codec/Utf8Convert.h"
#include "platform/AnsiCodec.h"

using linvera::platform::AnsiCodec;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The code pages the program names, and a few it does not know.
    static constexpr int kCodePages[] = {0,     1,     3,   932, 65001, 1252, 20932,
                                         50220, 51932, 936, 949, 950,   2,    -1};
    const int codePage = kCodePages[data[0] % std::size(kCodePages)];
    const QByteArrayView bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    AnsiCodec::select(data[0] & 0x80 ? AnsiCodec::CodePage::Windows31J : AnsiCodec::CodePage::Utf8);
    const QString text = linvera::DecodeBytesWithCodePage(codePage, bytes);
    FUZZ_CHECK(!bytes.isEmpty() || text.isEmpty(), QString::number(codePage));

    linvera::PageBytesToText(bytes);
    const QList<QByteArray> parts = linvera::fuzz::splitAtNul(data + 1, size - 1, 2);
    if (parts.size() == 2) {
        const QByteArray removed = linvera::RemoveByteSequence(parts[0], parts[1]);
        FUZZ_CHECK(removed.size() <= parts[0].size(), QString::fromLatin1(parts[0].toHex()));
        FUZZ_CHECK(parts[1].isEmpty() || !parts[0].contains(parts[1]) || removed != parts[0],
                   QString::fromLatin1(parts[0].toHex()));
    }

    // Decoding never fails, and whatever was decoded encodes to something that decodes the same
    // way again: U+FFFD and '?' stand in for what either code page cannot hold.
    for (const auto page : {AnsiCodec::CodePage::Utf8, AnsiCodec::CodePage::Windows31J}) {
        const QString decoded = AnsiCodec::decode(bytes, page);
        // Only the byte-order mark alone decodes to nothing.
        FUZZ_CHECK(!decoded.isEmpty() || bytes.isEmpty() || bytes == QByteArrayView("\xEF\xBB\xBF"),
                   QString::fromLatin1(bytes.toByteArray().toHex()));
        const QByteArray encoded = AnsiCodec::encode(decoded, page);
        const QString again = AnsiCodec::decode(encoded, page);
        // Each decoding drops one leading byte-order mark (known, left as it is): a text that still
        // starts with one loses it on the next round.
        if (decoded.startsWith(QChar(QChar::ByteOrderMark)))
            continue;
        FUZZ_CHECK(AnsiCodec::encode(again, page) == encoded,
                   QString::fromLatin1(bytes.toByteArray().toHex()));
    }
    // Text that UTF-8 can hold comes back unchanged.
    const QString units = linvera::fuzz::utf16Text(data + 1, size - 1);
    if (!units.isValidUtf16()) // lone surrogates are not text UTF-8 can carry
        return 0;
    const QString back =
        AnsiCodec::decode(AnsiCodec::encode(units, AnsiCodec::CodePage::Utf8), AnsiCodec::CodePage::Utf8);
    // The decoder drops one byte-order mark at the very start, as Qt's UTF-8 decoder does.
    const bool leadingMark = units.startsWith(QChar(QChar::ByteOrderMark));
    FUZZ_CHECK(back == units || (leadingMark && back == units.mid(1)), units);
    AnsiCodec::encode(units, AnsiCodec::CodePage::Windows31J);
    return 0;
}
