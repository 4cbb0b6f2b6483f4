#pragma once

#include <QIcon>

namespace linvera {

/// The program's icon: "halvex-linvera" from the desktop's icon theme, where installing puts it,
/// else the same picture built into the program in several sizes, so that every window has it
/// also in the build tree and on desktops that cannot draw the scalable one.
QIcon ProgramIcon();

/// The sizes built into the program, smallest first.
QList<int> BuiltInIconSizes();

} // namespace linvera
