// The public operations: each checks its arguments and runs one transaction on the key tree.

#include "platform/RegistryStore.h"

#include "platform/RegistryKeyTree.h"
#include "platform/RegistrySql.h"

#include <QScopeGuard>
#include <QThread>

#include <cerrno>

namespace linvera::platform {

using namespace registry;

RegistryStore::RegistryStore(const QString& filePath, int busyTimeoutMs)
    : m_filePath(filePath)
    , m_busyTimeoutMs(qMax(0, busyTimeoutMs))
{}

RegistryStore::~RegistryStore()
{
    QMutexLocker lock(&m_mutex);
    closeLocked();
}

QString RegistryStore::rootName(RegRoot root)
{
    switch (root) {
    case RegRoot::ClassesRoot:
        return QStringLiteral("HKEY_CLASSES_ROOT");
    case RegRoot::CurrentUser:
        return QStringLiteral("HKEY_CURRENT_USER");
    case RegRoot::LocalMachine:
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    }
    return QString();
}

QString RegistryStore::statusText(qint32 status)
{
    switch (status) {
    case Success:
        return QStringLiteral("The operation completed successfully.");
    case FileNotFound:
        return QStringLiteral("The system was unable to find the specified registry key or value.");
    case AccessDenied:
        return QStringLiteral("Access is denied.");
    case OutOfMemory:
        return QStringLiteral("Not enough memory.");
    case DiskFull:
        return QStringLiteral("There is not enough space on the disk.");
    case InvalidParameter:
        return QStringLiteral("A key or value name is too long.");
    case Busy:
        return QStringLiteral("The registry store is in use by another program.");
    case BadPathname:
        return QStringLiteral("The key path contains an empty key name.");
    case RegistryCorrupt:
        return QStringLiteral("The registry store file is not a registry store or is damaged.");
    case RegistryIoFailed:
        return QStringLiteral("The registry store file could not be created, opened, read or written.");
    default:
        return QStringLiteral("Registry error %1.").arg(status);
    }
}

int RegistryStore::onBusy(void* store, int count)
{
    auto* self = static_cast<RegistryStore*>(store);
    if (self->m_deadline.hasExpired())
        return 0;
    if (count == 0)
        self->m_turn.setWaiting(true);
    // Short naps: the other writer frees the store only for a moment between its transactions.
    QThread::usleep(500);
    return 1;
}

template <typename Body> qint32 RegistryStore::transactLocked(bool write, Body&& body, bool& fileProblem)
{
    // After an operation gave up on a store another program holds, the next ones ask only briefly:
    // one wait of the whole time-out, not one for each of the dozen reads a start makes.
    m_deadline = QDeadlineTimer(m_lastBusy ? qMin(m_busyTimeoutMs, kBusyAgainMs) : m_busyTimeoutMs);
    const auto stopWaiting = qScopeGuard([this] { m_turn.setWaiting(false); });
    for (;;) {
        qint32 status = openLocked();
        fileProblem = status != Success;
        if (status == Success) {
            errno = 0;
            int rc = exec(m_db, write ? "BEGIN IMMEDIATE" : "BEGIN");
            m_turn.setWaiting(false);
            if (rc == SQLITE_OK) {
                const StepResult result = body(m_db);
                rc = result.rc;
                if (rc == SQLITE_OK && result.status == Success)
                    rc = exec(m_db, "COMMIT");
                if (rc == SQLITE_OK) {
                    if (result.status != Success)
                        exec(m_db, "ROLLBACK");
                    else if (write)
                        m_turn.yieldToWaiters();
                    return result.status;
                }
            }
            // What the failed call met, before a rollback sets errno again. Successful calls leave
            // errno alone, so it still holds the write's.
            const int systemError = sqlite3_system_errno(m_db) ? sqlite3_system_errno(m_db) : errno;
            if (rc != SQLITE_OK && !sqlite3_get_autocommit(m_db))
                exec(m_db, "ROLLBACK");
            status = statusFromSqlite(rc);
            // A write the file system refused for want of room (or of the file size allowed) is a
            // full disk, not a broken file: the store stays open and readable.
            if ((rc & 0xFF) == SQLITE_IOERR &&
                (systemError == ENOSPC || systemError == EFBIG || systemError == EDQUOT))
                status = DiskFull;
            // Failures of the file, as against a key with subkeys or a missing value.
            fileProblem = isFileFailure(status) || status == AccessDenied || status == DiskFull;
            if (isFileFailure(status))
                dropDamagedLocked();
        }
        // The busy handler already waited; this covers the cases where SQLite does not call it
        // (a snapshot gone stale, recovery by another process, a store being set up).
        if (status != Busy || m_deadline.hasExpired())
            return status;
        QThread::msleep(5);
    }
}

template <typename Body> qint32 RegistryStore::transact(bool write, Body&& body)
{
    std::function<void(qint32)> handler;
    qint32 status = Success;
    {
        QMutexLocker lock(&m_mutex);
        bool fileProblem = false;
        status = transactLocked(write, std::forward<Body>(body), fileProblem);
        m_lastBusy = status == Busy;
        // A store another program held past the time-out: its settings were not read or not kept.
        if ((!fileProblem && status != Busy) || !m_problemHandler)
            return status;
        const quint32 kind = status == RegistryCorrupt ? 1u
                             : status == DiskFull      ? 2u
                             : status == AccessDenied  ? 4u
                             : status == Busy          ? 16u
                                                       : 8u;
        if (m_reported & kind)
            return status;
        m_reported |= kind;
        handler = m_problemHandler;
    }
    handler(status);
    return status;
}

void RegistryStore::setProblemHandler(std::function<void(qint32 status)> handler)
{
    QMutexLocker lock(&m_mutex);
    m_problemHandler = std::move(handler);
    m_reported = 0;
}

qint32 RegistryStore::createKey(RegRoot root, const QString& keyPath)
{
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    return transact(true, [&](sqlite3* db) {
        qint64 id = 0;
        return StepResult::sqlite(createPath(db, root, path, id));
    });
}

qint32 RegistryStore::openKey(RegRoot root, const QString& keyPath)
{
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    return transact(false, onExistingKey(root, path, [](sqlite3*, qint64) { return StepResult(); }));
}

qint32 RegistryStore::setValue(RegRoot root, const QString& keyPath, const QString& valueName, quint32 type,
                               const QByteArray& data, CreateMode mode)
{
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    if (valueName.size() > kMaxValueNameLength)
        return InvalidParameter;
    // Writing what is already stored changes nothing: a read spares the durable write transaction
    // (the program rewrites its settings and registrations on every start and shutdown). The type
    // is part of what is stored: the same bytes under another type are a change.
    quint32 storedType = 0;
    QByteArray storedData;
    if (queryValue(root, keyPath, valueName, storedType, storedData) == Success && storedType == type &&
        storedData == data)
        return Success;
    return transact(true, [&](sqlite3* db) {
        qint64 id = 0;
        const int rc = mode == CreateMode::CreateMissingKeys ? createPath(db, root, path, id)
                                                             : findKey(db, root, path, id);
        if (rc != SQLITE_OK)
            return StepResult::sqlite(rc);
        if (id == 0)
            return StepResult::registry(FileNotFound);
        return writeValue(db, id, valueName, type, data);
    });
}

qint32 RegistryStore::queryValue(RegRoot root, const QString& keyPath, const QString& valueName,
                                 quint32& type, QByteArray& data)
{
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    if (valueName.size() > kMaxValueNameLength)
        return InvalidParameter;
    return transact(false, onExistingKey(root, path, [&](sqlite3* db, qint64 id) {
                        return readValue(db, id, valueName, type, data);
                    }));
}

qint32 RegistryStore::deleteValue(RegRoot root, const QString& keyPath, const QString& valueName)
{
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    if (valueName.size() > kMaxValueNameLength)
        return InvalidParameter;
    return transact(true, onExistingKey(root, path, [&](sqlite3* db, qint64 id) {
                        return removeValue(db, id, valueName);
                    }));
}

qint32 RegistryStore::deleteKey(RegRoot root, const QString& keyPath)
{
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    if (path.names.isEmpty())
        return AccessDenied;
    return transact(true, onExistingKey(root, path, &removeKey));
}

qint32 RegistryStore::deleteTree(RegRoot root, const QString& keyPath)
{
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    if (path.names.isEmpty())
        return AccessDenied;
    return transact(true, onExistingKey(root, path, &removeTree));
}

qint32 RegistryStore::enumSubKeys(RegRoot root, const QString& keyPath, QStringList& names)
{
    names.clear();
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    QStringList found;
    const qint32 status = transact(
        false, onExistingKey(root, path, [&](sqlite3* db, qint64 id) { return listSubKeys(db, id, found); }));
    if (status == Success)
        names = found;
    return status;
}

qint32 RegistryStore::enumValues(RegRoot root, const QString& keyPath, QList<Value>& values)
{
    values.clear();
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    QList<Value> found;
    const qint32 status = transact(
        false, onExistingKey(root, path, [&](sqlite3* db, qint64 id) { return listValues(db, id, found); }));
    if (status == Success)
        values = found;
    return status;
}

qint32 RegistryStore::checkIntegrity(QString* details)
{
    QStringList report;
    const qint32 status = transact(false, [&](sqlite3* db) {
        report.clear();
        Statement stmt(db, "PRAGMA integrity_check");
        int rc = SQLITE_OK;
        while ((rc = stmt.step()) == SQLITE_ROW)
            report.append(stmt.text(0));
        if (rc != SQLITE_DONE)
            return StepResult::sqlite(rc);
        const bool ok = report == QStringList{QStringLiteral("ok")};
        return StepResult::registry(ok ? Success : RegistryCorrupt);
    });
    if (details)
        *details = report.join(u'\n');
    return status;
}

} // namespace linvera::platform
