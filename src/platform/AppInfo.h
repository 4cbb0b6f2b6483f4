#pragma once

#include <QString>

namespace linvera {

/// The application title that captions the main window and most message boxes.
inline QString AppTitle()
{
    return QStringLiteral(u"Kemo 　(Halvex URL短縮変換)");
}

/// The running version as major_minor_revision.
inline QString AppVersionText()
{
    return QStringLiteral(u"2_1_0");
}

} // namespace linvera
