// Percent decoding of hostile text, and encoding followed by decoding.
#include "FuzzSupport.h"
#include "codec/PercentCoding.h"

using namespace Qt::StringLiterals;
using linvera::PercentDecode;
using linvera::PercentEncode;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks how the rest becomes text: UTF-8 reaches the escapes easily, raw UTF-16
    // reaches lone surrogates and every unit.
    const bool raw = data[0] & 1;
    const QString text =
        raw ? linvera::fuzz::utf16Text(data + 1, size - 1) : linvera::fuzz::utf8Text(data + 1, size - 1);

    const QString decoded = PercentDecode(text);
    FUZZ_CHECK(decoded.size() <= text.size() || decoded == u"ERROR"_s, text);

    // The fast path stops eight units before the end; plain text after the input moves that edge,
    // which must not change how the input decodes. Only with twelve units or more after every
    // escape: a sequence closer to the end counts as cut short and stays as it is.
    const QString pad(16, u'z');
    const QString padded = PercentDecode(QString(text + pad));
    const QString longer = PercentDecode(QString(text + pad + pad + pad));
    if (padded != u"ERROR"_s)
        FUZZ_CHECK(longer == QString(padded + pad + pad), text);
    if (decoded != u"ERROR"_s && padded != u"ERROR"_s && !text.right(12).contains(u'%'))
        FUZZ_CHECK(padded == QString(decoded + pad), text);

    // Every text survives encoding and decoding; a lone surrogate comes back as U+FFFD.
    QString expected = text;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const QChar c = expected.at(i);
        if (c.isHighSurrogate() && i + 1 < expected.size() && expected.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            expected[i] = QChar::ReplacementCharacter;
    }
    const QString encoded = PercentEncode(text);
    for (const QChar c : encoded)
        FUZZ_CHECK(c.unicode() < 0x80 && c != u' ', text);
    FUZZ_CHECK(PercentDecode(encoded) == expected, text);
    return 0;
}
