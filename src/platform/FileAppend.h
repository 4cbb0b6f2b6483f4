#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace linvera::platform {

/// Appends the bytes to the file in one write, creating it when missing. Cheaper than a QFile in
/// append mode (which stats and seeks), and the file is closed again before it returns. All or
/// nothing: when the disk is full (or the file may grow no further) the part already written is
/// cut off again, so the file never ends in half a line. False when the bytes were not written.
bool AppendToFile(const QString& path, QByteArrayView bytes);

/// How reading a whole small file went.
enum class ReadOutcome {
    Read,
    Missing,
    /// Not a plain file (a folder, a device, a pipe), or one that cannot be opened or read.
    Unreadable,
    /// Larger than the cap; nothing of it is kept.
    TooLarge,
};

/// Reads a plain file of at most `cap` bytes into `bytes` (emptied first). A larger file is refused
/// before it is read, and one that grows while it is read is refused too: memory never holds more
/// than the cap.
ReadOutcome ReadSmallFile(const QString& path, qint64 cap, QByteArray& bytes);

} // namespace linvera::platform
