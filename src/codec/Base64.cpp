#include "codec/Base64.h"

namespace linvera {

QString Base64Encode(QByteArrayView bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const qsizetype n = bytes.size();
    if (n == 0)
        return {};

    QString result((n + 2) / 3 * 4, Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(result.data());
    const auto* s = reinterpret_cast<const uchar*>(bytes.data());
    qsizetype i = 0;
    for (; i + 3 <= n; i += 3) {
        const quint32 group = (quint32(s[i]) << 16) | (quint32(s[i + 1]) << 8) | s[i + 2];
        *d++ = char16_t(kAlphabet[(group >> 18) & 0x3F]);
        *d++ = char16_t(kAlphabet[(group >> 12) & 0x3F]);
        *d++ = char16_t(kAlphabet[(group >> 6) & 0x3F]);
        *d++ = char16_t(kAlphabet[group & 0x3F]);
    }
    const qsizetype rest = n - i;
    if (rest > 0) {
        const quint32 group = (quint32(s[i]) << 16) | (rest == 2 ? quint32(s[i + 1]) << 8 : 0u);
        *d++ = char16_t(kAlphabet[(group >> 18) & 0x3F]);
        *d++ = char16_t(kAlphabet[(group >> 12) & 0x3F]);
        *d++ = rest == 2 ? char16_t(kAlphabet[(group >> 6) & 0x3F]) : u'=';
        *d++ = u'=';
    }
    return result;
}

} // namespace linvera
