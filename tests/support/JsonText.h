#pragma once

#include <QByteArray>
#include <QString>

namespace linvera::test {

/// A JSON string literal, quotes included, in pure ASCII: every character outside printable
/// ASCII is written as \uXXXX (lower-case hex, one escape per UTF-16 unit), as the web services
/// the program talks to write their answers. With escapeSlashes each "/" is written as "\/".
QByteArray jsonQuote(const QString& text, bool escapeSlashes = false);

} // namespace linvera::test
