#include "platform/FileAppend.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace linvera::platform {

namespace {

/// The file's own lock, polled: a program that holds it for long costs an append, not a frozen
/// window. False when it was not had in time; true too where the file system has no such locks.
bool lockForAppend(int fd, bool& locked)
{
    QDeadlineTimer deadline(kAppendLockWaitMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            locked = true;
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return true; // no locks here: appended, but never taken back
        if (deadline.hasExpired())
            return false;
        ::usleep(500);
    }
}

} // namespace

AppendOutcome AppendToFileChecked(const QString& path, QByteArrayView bytes)
{
    // Without O_NONBLOCK a pipe in the file's place would hold the open until someone reads it.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return errno == ENXIO || errno == EISDIR ? AppendOutcome::NotPlainFile : AppendOutcome::Failed;
    const auto closeFd = qScopeGuard([fd] { ::close(fd); }); // drops the lock too
    bool locked = false;
    if (!lockForAppend(fd, locked))
        return AppendOutcome::Failed;
    // The size once the lock is ours: no append of ours can come between it and the take-back.
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return AppendOutcome::Failed;
    if (!S_ISREG(info.st_mode))
        return AppendOutcome::NotPlainFile;
    const bool sized = locked;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    // A full disk takes part of the line: give the part back rather than leave half a line.
    if (done != bytes.size() && done > 0 && sized) {
        int rc = 0;
        do
            rc = ::ftruncate(fd, info.st_size);
        while (rc < 0 && errno == EINTR);
    }
    return done == bytes.size() ? AppendOutcome::Written : AppendOutcome::Failed;
}

bool AppendToFile(const QString& path, QByteArrayView bytes)
{
    return AppendToFileChecked(path, bytes) == AppendOutcome::Written;
}

ReadOutcome ReadSmallFile(const QString& path, qint64 cap, QByteArray& bytes, LinkAtName links)
{
    bytes.clear();
    const QFileInfo info(path);
    if (!info.exists())
        return info.isSymLink() ? ReadOutcome::Unreadable : ReadOutcome::Missing;
    // A pipe or a device has no size to check and may never end.
    if (!info.isFile())
        return ReadOutcome::Unreadable;
    // Checked again on the open file: a pipe put in its place meanwhile must not hold the open.
    const int noFollow = links == LinkAtName::Refuse ? O_NOFOLLOW : 0;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | noFollow);
    if (fd < 0)
        return ReadOutcome::Unreadable;
    struct stat opened = {};
    QFile file;
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return ReadOutcome::Unreadable;
    }
    const qint64 size = file.size();
    if (size > cap)
        return ReadOutcome::TooLarge;
    // Sized by the file, not by the cap; a file that grows meanwhile is read on, up to the cap.
    bytes.resize(size + 1);
    qint64 got = 0;
    for (;;) {
        const qint64 n = file.read(bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            bytes.clear();
            return ReadOutcome::Unreadable;
        }
        got += n;
        if (n == 0 || got < bytes.size())
            break;
        if (got > cap) {
            bytes.clear();
            return ReadOutcome::TooLarge;
        }
        bytes.resize(qMin(cap + 1, got + 65536));
    }
    bytes.truncate(got);
    return ReadOutcome::Read;
}

} // namespace linvera::platform
