#pragma once

#include <QString>

#include <sys/resource.h>

namespace linvera::test {

/// While it lives, this thread is refused what the file modes refuse, even when the tests run as
/// root (root's override of file modes is dropped from the thread's effective capabilities and
/// given back at the end). isActive() is false when that was not possible.
class HonourFileModes
{
public:
    HonourFileModes();
    ~HonourFileModes();
    HonourFileModes(const HonourFileModes&) = delete;
    HonourFileModes& operator=(const HonourFileModes&) = delete;
    bool isActive() const { return m_active; }

private:
    bool m_active = false;
    bool m_dropped = false;
};

/// For a child process (QProcess::setChildProcessModifier): drops root's override of file modes for
/// good, so that a program started as root meets read-only folders as any user would.
void dropFileModeOverrideForGood();

/// While it lives, no file of this process can grow beyond `bytes` (a full disk for every file
/// written): a write past it fails with EFBIG instead of killing the process with SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool isActive() const { return m_active; }

private:
    bool m_active = false;
    rlimit m_saved = {};
    void (*m_savedHandler)(int) = nullptr;
};

/// For a child process: the same limit, for good, with SIGXFSZ ignored across exec.
void limitFileSizeForGood(rlim_t bytes);

/// Makes `path` a sparse file of `bytes` bytes whose first line is `head` (quick, takes no disk).
bool makeSparseFile(const QString& path, qint64 bytes, const QByteArray& head);

} // namespace linvera::test
