#pragma once

#include <QString>
#include <QStringView>

namespace linvera {

/// Form-style percent encoding of UTF-16 text: space becomes "+", "0-9 @A-Z a-z * - . _" pass
/// through, everything else becomes UTF-8 escapes with upper-case hexadecimal digits. Each UTF-16
/// code unit is encoded alone, so a surrogate pair gives two three-byte sequences.
QString PercentEncode(QStringView text);

/// Turns a percent-encoded text back into readable text ("+" is a space). Answers "ERROR" when an
/// escape holds a continuation byte or an over-long lead byte (0x80 to 0xC1). Escapes that are cut
/// short by the end of the text or are not hexadecimal stay in the result as they are.
QString PercentDecode(QStringView text);

} // namespace linvera
