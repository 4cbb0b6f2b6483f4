#pragma once

#include <QString>

namespace linvera {

/// The text of a bus service file that starts `program` (with its arguments) for `name`.
QString ServiceFileText(const QString& name, const QString& program, const QString& arguments = {});

/// Makes sure the session bus can start both programs for this user: writes the two service files
/// into $XDG_DATA_HOME/dbus-1/services when they are missing or name another program. Returns false
/// when a file could not be written.
bool WriteUserServiceFiles(const QString& programFolder);

} // namespace linvera
