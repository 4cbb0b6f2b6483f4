#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace linvera::platform {

/// How an append went.
enum class AppendOutcome {
    Written,
    /// A pipe, a device or a folder in the file's place: never opened for good, never waited on.
    NotPlainFile,
    /// Not written: no room, no access, or another program's append did not end in time.
    Failed,
};

/// Appends the bytes to the file in one write, creating it when missing. Cheaper than a QFile in
/// append mode (which stats and seeks), and the file is closed again before it returns. All or
/// nothing: when the disk is full (or the file may grow no further) the part already written is
/// cut off again, so the file never ends in half a line. The append and its taking back hold the
/// file's lock, which every append of these programs takes: the cut never reaches a line another
/// program appended meanwhile. Waits at most kAppendLockWaitMs for that lock.
AppendOutcome AppendToFileChecked(const QString& path, QByteArrayView bytes);
inline constexpr int kAppendLockWaitMs = 50;
/// The same; false when the bytes were not written.
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

/// Whether a link standing at the file's own name is followed or refused (as Unreadable).
enum class LinkAtName { Follow, Refuse };

/// Reads a plain file of at most `cap` bytes into `bytes` (emptied first). A larger file is refused
/// before it is read, and one that grows while it is read is refused too: memory never holds more
/// than the cap.
ReadOutcome ReadSmallFile(const QString& path, qint64 cap, QByteArray& bytes,
                          LinkAtName links = LinkAtName::Follow);

} // namespace linvera::platform
