#pragma once

#include <QString>

#include <functional>

namespace linvera {

/// The message for trouble with the settings store's file (damaged, cannot be opened, cannot be
/// written, disk full, held by another program past the time-out), naming the file; empty for any
/// other status.
QString StoreProblemMessage(qint32 status, const QString& storeFile);

/// Hands `tell` the message for each kind of trouble with the process-wide settings store, the
/// first time it shows; the reads and writes behind it go on with their defaults. An empty
/// function stops it.
void WatchSettingsStore(std::function<void(const QString& message)> tell);

} // namespace linvera
