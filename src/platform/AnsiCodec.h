#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace linvera::platform {

/// The process-wide "ANSI code page": the codec that texts to and from files, the registry and
/// the network go through unless UTF-8 is asked for explicitly.
class AnsiCodec
{
public:
    enum class CodePage { Utf8, Windows31J };

    /// Chooses the code page from the locale's codeset: a Shift_JIS family codeset gives
    /// windows-31j, anything else (the C locale included) UTF-8.
    static CodePage detectFromLocale();
    static CodePage codePageForCodeset(QByteArrayView codeset);

    /// Picks the code page explicitly (start-up does this once; tests pick either).
    static void select(CodePage codePage);
    static CodePage current();
    /// The Windows code-page number of the current choice: 932 or 65001.
    static int currentNumber();

    /// Text to bytes. For windows-31j a character without a mapping takes the code page's best fit
    /// where Windows has one (WAVE DASH gives 0x8160); any other character the code page cannot
    /// hold becomes '?'.
    static QByteArray encode(QStringView text);
    /// Bytes to text. Invalid sequences become U+FFFD; decoding never fails.
    static QString decode(QByteArrayView bytes);

    /// The same, telling whether any sequence was invalid (a U+FFFD that the bytes spelled out
    /// does not count).
    static QString decode(QByteArrayView bytes, bool& invalid);

    static QByteArray encode(QStringView text, CodePage codePage);
    static QString decode(QByteArrayView bytes, CodePage codePage);
};

} // namespace linvera::platform
