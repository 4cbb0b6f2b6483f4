#pragma once

#include <QString>
#include <QStringView>

namespace linvera {

/// Form-style percent encoding of UTF-16 text: space becomes "+", "0-9 @A-Z a-z * - . _" pass
/// through, everything else becomes UTF-8 escapes with upper-case hexadecimal digits. A surrogate
/// pair is its one four-byte sequence; a lone surrogate, which UTF-8 cannot hold, is %EF%BF%BD.
QString PercentEncode(QStringView text);

/// Turns a percent-encoded text back into readable text ("+" is a space). Answers "ERROR" when an
/// escape holds a continuation byte or an over-long lead byte (0x80 to 0xC1). Escapes that are cut
/// short by the end of the text or are not hexadecimal stay in the result as they are. A complete
/// four-byte sequence gives its character; any other lead of 0xF0 or more becomes "%".
QString PercentDecode(QStringView text);

/// The value of a hexadecimal digit in either case; -1 for any other character.
int HexDigitValue(char16_t c);

} // namespace linvera
