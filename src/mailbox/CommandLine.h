#pragma once

#include <QString>
#include <QStringList>

namespace linvera {

/// Splits a command-line text into arguments. Element 0 is always empty and the arguments
/// follow from index 1, so the number of arguments is size() - 1. Runs of spaces or tabs
/// separate arguments; a double quote switches grouping on and off and is never part of an
/// argument; "" gives an empty argument. Scanning stops at the start of argument maxArgs + 1,
/// so text after the last allowed argument is ignored. A negative maxArgs counts as 0.
QStringList SplitArgs(const QString& text, int maxArgs = 10);

/// The text without any NUL, LF, CR or space character; tabs and everything else stay in order.
QString StripBlanks(const QString& text);

} // namespace linvera
