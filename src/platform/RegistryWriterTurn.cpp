#include "platform/RegistryWriterTurn.h"

#include <QDeadlineTimer>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

namespace linvera::platform {
namespace {

// The byte of the lock file that processes waiting to write hold shared.
constexpr off_t kWaitingByte = 0;

// Open-file-description locks: two stores in one process do not share them, as two processes do not.
bool setLock(int fd, short type, off_t byte)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

/// True when another holder has the byte in a way that conflicts with a write lock.
bool lockedByOther(int fd, off_t byte)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

} // namespace

void RegistryWriterTurn::open(const QByteArray& storePath)
{
    close();
    const QByteArray lockPath = storePath + "-lock";
    m_fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

void RegistryWriterTurn::close()
{
    if (m_fd >= 0) {
        ::close(m_fd); // drops the lock with it
        m_fd = -1;
    }
    m_waiting = false;
}

void RegistryWriterTurn::setWaiting(bool waiting)
{
    if (m_fd < 0 || m_waiting == waiting)
        return;
    if (setLock(m_fd, waiting ? F_RDLCK : F_UNLCK, kWaitingByte))
        m_waiting = waiting;
}

void RegistryWriterTurn::yieldToWaiters()
{
    if (m_fd < 0)
        return;
    // A process waiting for the write lock polls every half millisecond; give it the turn.
    const QDeadlineTimer limit(50);
    while (lockedByOther(m_fd, kWaitingByte) && !limit.hasExpired())
        QThread::usleep(500);
}

} // namespace linvera::platform
