#include "codec/PercentCoding.h"

#include <QtAlgorithms>

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace Qt::StringLiterals;

namespace linvera {
namespace {

// What an ASCII code unit becomes: itself, "+" (space) or an escape (0 marks the escape).
constexpr std::array<char16_t, 128> makeAsciiOutput()
{
    std::array<char16_t, 128> out{};
    for (char16_t u = 0; u < 128; ++u) {
        const bool passes = (u >= u'0' && u <= u'9') || (u >= 0x40 && u <= u'Z') ||
                            (u >= u'a' && u <= u'z') || u == u'*' || u == u'-' || u == u'.' || u == u'_';
        out[u] = passes ? u : (u == u' ' ? u'+' : 0);
    }
    return out;
}

// "%XY" with upper-case digits for every byte value.
constexpr std::array<std::array<char16_t, 3>, 256> makeEscapes()
{
    constexpr char16_t digits[] = u"0123456789ABCDEF";
    std::array<std::array<char16_t, 3>, 256> out{};
    for (int b = 0; b < 256; ++b)
        out[b] = {u'%', digits[b >> 4], digits[b & 0xF]};
    return out;
}

// Value of a hexadecimal digit in either case, -1 for anything else.
constexpr std::array<qint8, 128> makeHexValues()
{
    std::array<qint8, 128> out{};
    for (int c = 0; c < 128; ++c) {
        if (c >= '0' && c <= '9')
            out[c] = qint8(c - '0');
        else if (c >= 'A' && c <= 'F')
            out[c] = qint8(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            out[c] = qint8(c - 'a' + 10);
        else
            out[c] = -1;
    }
    return out;
}

constexpr auto kAsciiOutput = makeAsciiOutput();
constexpr auto kEscapes = makeEscapes();
constexpr auto kHexValues = makeHexValues();

inline char16_t* writeEscape(char16_t* d, unsigned byte)
{
    std::memcpy(d, kEscapes[byte].data(), sizeof(kEscapes[byte]));
    return d + 3;
}

// The byte written by two hexadecimal digits, or -1 when either is not one.
inline int hexByte(char16_t high, char16_t low)
{
    if ((high | low) >= 128)
        return -1;
    const int h = kHexValues[high];
    const int l = kHexValues[low];
    return (h | l) < 0 ? -1 : (h << 4) | l;
}

inline char16_t* copyUnits(char16_t* d, const char16_t* s, qsizetype count)
{
    std::memcpy(d, s, size_t(count) * sizeof(char16_t));
    return d + count;
}

inline bool isPairAt(const char16_t* s, qsizetype n, qsizetype i)
{
    return QChar::isHighSurrogate(s[i]) && i + 1 < n && QChar::isLowSurrogate(s[i + 1]);
}

// The character of a complete four-byte sequence "%F0%9F%98%80" at s (twelve units there, lead
// value v), or 0 when the three escapes are not continuation bytes of a character U+10000 to
// U+10FFFF.
char32_t fourByteCharacter(const char16_t* s, int v)
{
    if (v < 0xF0 || v > 0xF4)
        return 0;
    char32_t c = char32_t(v & 0x07);
    for (int k = 3; k < 12; k += 3) {
        const int b = s[k] == u'%' ? hexByte(s[k + 1], s[k + 2]) : -1;
        if ((b & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | char32_t(b & 0x3F);
    }
    return c >= 0x10000 && c <= 0x10FFFF ? c : 0;
}

// Decodes the escape, or the sequence of escapes, whose "%" is at s[i], checking every index
// against n; advances i and d. False when the text is to be answered with "ERROR".
bool decodeEscape(const char16_t* s, qsizetype n, qsizetype& i, char16_t*& d)
{
    const qsizetype left = n - i;
    const int v = left >= 3 ? hexByte(s[i + 1], s[i + 2]) : -1;
    if (v < 0) {
        // Cut short or not hexadecimal: the "%" is a plain character.
        *d++ = u'%';
        ++i;
    } else if (v < 0x80) {
        *d++ = char16_t(v);
        i += 3;
    } else if (v < 0xC2) {
        // A continuation byte without its lead, or an over-long lead byte.
        return false;
    } else if (v < 0xF0 && left < (v < 0xE0 ? 6 : 9)) {
        // A sequence cut short by the end of the text stays as it is.
        d = copyUnits(d, s + i, left);
        i = n;
    } else if (v < 0xE0) {
        // The unit between the two escapes is taken to be their "%" and not looked at.
        const int b2 = hexByte(s[i + 4], s[i + 5]);
        if (b2 < 0)
            d = copyUnits(d, s + i, 6);
        else
            *d++ = char16_t(((v & 0x1F) << 6) | (b2 & 0x3F));
        i += 6;
    } else if (v < 0xF0) {
        // As above, the units at 3 and 6 are not looked at.
        const int b2 = hexByte(s[i + 4], s[i + 5]);
        const int b3 = hexByte(s[i + 7], s[i + 8]);
        if ((b2 | b3) < 0)
            d = copyUnits(d, s + i, 9);
        else
            *d++ = char16_t(((v & 0x0F) << 12) | ((b2 & 0x3F) << 6) | (b3 & 0x3F));
        i += 9;
    } else if (v <= 0xF4 && left < 12) {
        // A four-byte sequence cut short by the end of the text stays as it is, like the others.
        d = copyUnits(d, s + i, left);
        i = n;
    } else if (const char32_t c = fourByteCharacter(s + i, v)) {
        *d++ = QChar::highSurrogate(c);
        *d++ = QChar::lowSurrogate(c);
        i += 12;
    } else {
        // Any other lead of 0xF0 or more becomes "%", and its continuation escapes then answer
        // "ERROR".
        *d++ = u'%';
        i += 3;
    }
    return true;
}

} // namespace

QString PercentEncode(QStringView text)
{
    const char16_t* src = text.utf16();
    const qsizetype n = text.size();

    // Exact output length first, so the text is allocated once and written in place.
    qsizetype length = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = src[i];
        if (isPairAt(src, n, i)) {
            length += 12;
            ++i;
        } else {
            length += u < 0x80 ? (kAsciiOutput[u] ? 1 : 3) : (u < 0x800 ? 6 : 9);
        }
    }
    if (length == 0)
        return {};

    QString result(length, Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(result.data());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = src[i];
        if (u < 0x80) {
            const char16_t out = kAsciiOutput[u];
            if (out)
                *d++ = out;
            else
                d = writeEscape(d, u);
        } else if (u < 0x800) {
            d = writeEscape(d, 0xC0u + (u >> 6));
            d = writeEscape(d, 0x80u + (u & 0x3Fu));
        } else if (isPairAt(src, n, i)) {
            // A character outside the basic plane is one four-byte sequence.
            const char32_t c = QChar::surrogateToUcs4(u, src[++i]);
            d = writeEscape(d, 0xF0u + (c >> 18));
            d = writeEscape(d, 0x80u + ((c >> 12) & 0x3Fu));
            d = writeEscape(d, 0x80u + ((c >> 6) & 0x3Fu));
            d = writeEscape(d, 0x80u + (c & 0x3Fu));
        } else if (QChar::isSurrogate(u)) {
            // A lone surrogate has no UTF-8 form: U+FFFD stands for it.
            d = writeEscape(d, 0xEF);
            d = writeEscape(d, 0xBF);
            d = writeEscape(d, 0xBD);
        } else {
            d = writeEscape(d, 0xE0u + (u >> 12));
            d = writeEscape(d, 0x80u + ((u >> 6) & 0x3Fu));
            d = writeEscape(d, 0x80u + (u & 0x3Fu));
        }
    }
    return result;
}

QString PercentDecode(QStringView text)
{
    const char16_t* s = text.utf16();
    const qsizetype n = text.size();
    if (n == 0)
        return {};

    // Every escape shrinks, nothing grows: the input length is enough.
    QString result(n, Qt::Uninitialized);
    char16_t* const begin = reinterpret_cast<char16_t*>(result.data());
    char16_t* d = begin;
    qsizetype i = 0;

    // Before fastEnd the eight units after any position can be read without checks, and the
    // output (never ahead of the input) has room for eight units. Plain runs, ASCII escapes and
    // complete three-byte sequences are decoded right here; the rest goes to decodeEscape.
    const qsizetype fastEnd = n - 8;
    while (i < fastEnd) {
        const char16_t c = s[i];
        if (c != u'%') {
#if defined(__SSE2__)
            if (s[i + 1] != u'%') {
                // Up to eight plain units at once, "+" turned into a space, as far as the next "%".
                __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
                const __m128i plus = _mm_cmpeq_epi16(units, _mm_set1_epi16(u'+'));
                units = _mm_xor_si128(units, _mm_and_si128(plus, _mm_set1_epi16(u'+' ^ u' ')));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d), units);
                const auto percents =
                    unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(units, _mm_set1_epi16(u'%'))));
                const qsizetype run = percents ? qsizetype(qCountTrailingZeroBits(percents) / 2) : 8;
                d += run;
                i += run;
                continue;
            }
#endif
            *d++ = c == u'+' ? u' ' : c;
            ++i;
            continue;
        }
        const int v = hexByte(s[i + 1], s[i + 2]);
        if (unsigned(v) < 0x80) {
            *d++ = char16_t(v);
            i += 3;
            continue;
        }
        if (v >= 0xE0 && v < 0xF0) {
            const int b2 = hexByte(s[i + 4], s[i + 5]);
            const int b3 = hexByte(s[i + 7], s[i + 8]);
            if ((b2 | b3) >= 0) {
                *d++ = char16_t(((v & 0x0F) << 12) | ((b2 & 0x3F) << 6) | (b3 & 0x3F));
                i += 9;
                continue;
            }
        }
        if (!decodeEscape(s, n, i, d))
            return u"ERROR"_s;
    }
    while (i < n) {
        const char16_t c = s[i];
        if (c != u'%') {
            *d++ = c == u'+' ? u' ' : c;
            ++i;
        } else if (!decodeEscape(s, n, i, d)) {
            return u"ERROR"_s;
        }
    }
    result.truncate(d - begin);
    return result;
}

int HexDigitValue(char16_t c)
{
    return c < kHexValues.size() ? kHexValues[c] : -1;
}

} // namespace linvera
