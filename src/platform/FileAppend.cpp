#include "FileAppend.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace linvera::platform {

bool AppendToFile(const QString& path, QByteArrayView bytes)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat before = {};
    const bool sized = ::fstat(fd, &before) == 0;
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
            rc = ::ftruncate(fd, before.st_size);
        while (rc < 0 && errno == EINTR);
    }
    ::close(fd);
    return done == bytes.size();
}

ReadOutcome ReadSmallFile(const QString& path, qint64 cap, QByteArray& bytes)
{
    bytes.clear();
    const QFileInfo info(path);
    if (!info.exists())
        return info.isSymLink() ? ReadOutcome::Unreadable : ReadOutcome::Missing;
    // A pipe or a device has no size to check and may never end.
    if (!info.isFile())
        return ReadOutcome::Unreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ReadOutcome::Unreadable;
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
