#pragma once

#include <QByteArray>

namespace linvera::platform {

/// The registry store's "-lock" file, through which a process waiting to write gets its turn.
///
/// SQLite lets the writer that asks first win; a process that writes in a tight loop frees the
/// store only for a moment between its transactions and could starve another one. So a process
/// waiting for the write lock marks itself in this file, and a process that has just committed
/// lets it go first. Without the file (it cannot be opened) writers just race as SQLite lets them.
class RegistryWriterTurn
{
public:
    RegistryWriterTurn() = default;
    ~RegistryWriterTurn() { close(); }
    RegistryWriterTurn(const RegistryWriterTurn&) = delete;
    RegistryWriterTurn& operator=(const RegistryWriterTurn&) = delete;

    /// Opens (creating it 0600) the lock file beside the store file storePath.
    void open(const QByteArray& storePath);
    void close();

    /// Marks or unmarks this process as one waiting for the write lock.
    void setWaiting(bool waiting);
    /// After a commit: waits a moment while another process is marked as waiting.
    void yieldToWaiters();

private:
    int m_fd = -1;
    bool m_waiting = false;
};

} // namespace linvera::platform
