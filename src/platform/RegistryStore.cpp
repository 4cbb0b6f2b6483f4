#include "RegistryStore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThread>

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace linvera::platform {
namespace {

// Marks the file as ours, so another program's database is never taken over.
constexpr int kApplicationId = 0x4C4E5652; // "LNVR"
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE reg_keys(
    id INTEGER PRIMARY KEY,
    parent INTEGER REFERENCES reg_keys(id),
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    UNIQUE(parent, folded));
CREATE TABLE reg_values(
    id INTEGER PRIMARY KEY,
    key_id INTEGER NOT NULL REFERENCES reg_keys(id),
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key_id, folded));
INSERT INTO reg_keys(id, parent, name, folded) VALUES
    (1, NULL, 'HKEY_CLASSES_ROOT', 'hkey_classes_root'),
    (2, NULL, 'HKEY_CURRENT_USER', 'hkey_current_user'),
    (3, NULL, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine');
)sql";

qint64 rootId(RegRoot root)
{
    switch (root) {
    case RegRoot::ClassesRoot:
        return 1;
    case RegRoot::CurrentUser:
        return 2;
    case RegRoot::LocalMachine:
        return 3;
    }
    return 2;
}

QString fold(const QString& name)
{
    return name.toCaseFolded();
}

struct KeyPath
{
    QStringList names;
    QStringList folded;
    qint32 status = RegistryStore::Success;
};

KeyPath parseKeyPath(const QString& path)
{
    KeyPath result;
    QStringView view(path);
    if (view.startsWith(u'\\'))
        view = view.mid(1);
    if (view.endsWith(u'\\'))
        view.chop(1);
    if (view.isEmpty())
        return result;
    for (const QStringView part : view.split(u'\\')) {
        if (part.isEmpty()) {
            result.status = RegistryStore::BadPathname;
            return result;
        }
        if (part.size() > RegistryStore::kMaxKeyNameLength) {
            result.status = RegistryStore::InvalidParameter;
            return result;
        }
        result.names.append(part.toString());
        result.folded.append(fold(result.names.constLast()));
    }
    return result;
}

qint32 statusFromSqlite(int rc)
{
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
        return RegistryStore::Success;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return RegistryStore::Busy;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
        return RegistryStore::RegistryCorrupt;
    case SQLITE_FULL:
        return RegistryStore::DiskFull;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return RegistryStore::AccessDenied;
    case SQLITE_NOMEM:
        return RegistryStore::OutOfMemory;
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
        return RegistryStore::InvalidParameter;
    default:
        return RegistryStore::RegistryIoFailed;
    }
}

// A failure of the file itself: the connection is dropped so the next call opens the file anew.
bool isFileFailure(qint32 status)
{
    return status == RegistryStore::RegistryCorrupt || status == RegistryStore::RegistryIoFailed;
}

/// One prepared statement; the first error sticks in rc().
class Statement
{
public:
    Statement(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int rc() const { return m_rc; }

    Statement& bind(int index, qint64 value)
    {
        if (m_rc == SQLITE_OK)
            m_rc = sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    Statement& bind(int index, const QString& text)
    {
        if (m_rc == SQLITE_OK) {
            const QByteArray utf8 = text.toUtf8();
            m_rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        }
        return *this;
    }
    Statement& bindBlob(int index, const QByteArray& data)
    {
        if (m_rc != SQLITE_OK)
            return *this;
        // A null pointer would bind SQL NULL; empty data is a blob of length 0.
        if (data.isEmpty())
            m_rc = sqlite3_bind_zeroblob(m_stmt, index, 0);
        else
            m_rc = sqlite3_bind_blob64(m_stmt, index, data.constData(), sqlite3_uint64(data.size()),
                                       SQLITE_TRANSIENT);
        return *this;
    }

    /// SQLITE_ROW, SQLITE_DONE or an error code.
    int step()
    {
        if (m_rc != SQLITE_OK)
            return m_rc;
        const int rc = sqlite3_step(m_stmt);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            m_rc = rc;
        return rc;
    }

    qint64 int64(int column) const { return sqlite3_column_int64(m_stmt, column); }
    QString text(int column) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
    }
    QByteArray blob(int column) const
    {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        return data && size > 0 ? QByteArray(data, size) : QByteArray();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc = SQLITE_OK;
};

int exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

/// Finds the key below parent; id 0 when missing.
int findChild(sqlite3* db, qint64 parent, const QString& folded, qint64& id)
{
    Statement stmt(db, "SELECT id FROM reg_keys WHERE parent = ?1 AND folded = ?2");
    stmt.bind(1, parent).bind(2, folded);
    const int rc = stmt.step();
    id = rc == SQLITE_ROW ? stmt.int64(0) : 0;
    return rc == SQLITE_ROW ? SQLITE_OK : (rc == SQLITE_DONE ? SQLITE_OK : rc);
}

int findKey(sqlite3* db, RegRoot root, const KeyPath& path, qint64& id)
{
    id = rootId(root);
    for (const QString& folded : path.folded) {
        const int rc = findChild(db, id, folded, id);
        if (rc != SQLITE_OK || id == 0)
            return rc;
    }
    return SQLITE_OK;
}

int createPath(sqlite3* db, RegRoot root, const KeyPath& path, qint64& id)
{
    id = rootId(root);
    for (qsizetype i = 0; i < path.names.size(); ++i) {
        qint64 child = 0;
        int rc = findChild(db, id, path.folded.at(i), child);
        if (rc != SQLITE_OK)
            return rc;
        if (child == 0) {
            Statement insert(db, "INSERT INTO reg_keys(parent, name, folded) VALUES(?1, ?2, ?3)");
            insert.bind(1, id).bind(2, path.names.at(i)).bind(3, path.folded.at(i));
            rc = insert.step();
            if (rc != SQLITE_DONE)
                return rc;
            child = sqlite3_last_insert_rowid(db);
        }
        id = child;
    }
    return SQLITE_OK;
}

int countRows(sqlite3* db, const char* sql, qint64 id, qint64& count)
{
    Statement stmt(db, sql);
    stmt.bind(1, id);
    const int rc = stmt.step();
    count = rc == SQLITE_ROW ? stmt.int64(0) : 0;
    return rc == SQLITE_ROW ? SQLITE_OK : rc;
}

std::atomic<RegistryStore*> g_sharedOverride{nullptr};

// The byte of the lock file beside the store that processes waiting to write hold shared.
constexpr off_t kWaitingByte = 0;

bool setLock(int fd, short type, off_t byte)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

/// True when another process holds the byte in a way that conflicts with a write lock.
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

/// What one transaction body produced: an SQLite failure (rc), or the registry outcome (status).
/// Only Success is committed.
struct RegistryStore::StepResult
{
    int rc = SQLITE_OK;
    qint32 status = Success;

    static StepResult sqlite(int code) { return {code, Success}; }
    static StepResult registry(qint32 status) { return {SQLITE_OK, status}; }
};

namespace {

// The step of a transaction on an existing key: finds the key, reports a missing one as FileNotFound
// and otherwise runs body(db, id).
template <typename Body> auto onExistingKey(RegRoot root, const KeyPath& path, Body body)
{
    return [root, &path, body](sqlite3* db) {
        using Result = decltype(body(db, qint64()));
        qint64 id = 0;
        const int rc = findKey(db, root, path, id);
        if (rc != SQLITE_OK)
            return Result::sqlite(rc);
        if (id == 0)
            return Result::registry(RegistryStore::FileNotFound);
        return body(db, id);
    };
}

} // namespace

RegistryStore::RegistryStore(const QString& filePath)
    : m_filePath(filePath)
{}

RegistryStore::~RegistryStore()
{
    QMutexLocker lock(&m_mutex);
    closeLocked();
}

QString RegistryStore::defaultFilePath()
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + u"/.config";
    return config + u"/halvex-linvera/registry.sqlite3";
}

RegistryStore& RegistryStore::shared()
{
    if (RegistryStore* store = g_sharedOverride.load())
        return *store;
    static RegistryStore defaultStore(defaultFilePath());
    return defaultStore;
}

void RegistryStore::setShared(RegistryStore* store)
{
    g_sharedOverride.store(store);
}

RegistryStore::SharedOverride::SharedOverride(RegistryStore& store)
    : m_previous(g_sharedOverride.exchange(&store))
{}

RegistryStore::SharedOverride::~SharedOverride()
{
    g_sharedOverride.store(m_previous);
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

void RegistryStore::closeLocked()
{
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
        m_waiting = false;
    }
}

int RegistryStore::onBusy(void* store, int count)
{
    auto* self = static_cast<RegistryStore*>(store);
    if (self->m_deadline.hasExpired())
        return 0;
    if (count == 0)
        self->setWaiting(true);
    // Short naps: the other writer frees the store only for a moment between its transactions.
    QThread::usleep(500);
    return 1;
}

void RegistryStore::setWaiting(bool waiting)
{
    if (m_lockFd < 0 || m_waiting == waiting)
        return;
    if (setLock(m_lockFd, waiting ? F_RDLCK : F_UNLCK, kWaitingByte))
        m_waiting = waiting;
}

void RegistryStore::yieldToWaiters()
{
    if (m_lockFd < 0)
        return;
    // A process waiting for the write lock polls every half millisecond; give it the turn.
    const QDeadlineTimer limit(50);
    while (lockedByOther(m_lockFd, kWaitingByte) && !limit.hasExpired())
        QThread::usleep(500);
}

bool RegistryStore::fileReplacedLocked() const
{
    struct stat st = {};
    if (::stat(QFile::encodeName(m_filePath).constData(), &st) != 0)
        return true;
    return st.st_dev != m_device || st.st_ino != m_inode;
}

qint32 RegistryStore::openLocked()
{
    if (m_db && !fileReplacedLocked())
        return Success;
    closeLocked();

    const QByteArray path = QFile::encodeName(m_filePath);
    const QFileInfo info(m_filePath);
    const QString folder = info.absolutePath();
    if (!QFileInfo::exists(folder)) {
        // The folder holds only the store: private to the user from the start.
        QDir().mkpath(QFileInfo(folder).absolutePath());
        const QByteArray encoded = QFile::encodeName(folder);
        if (::mkdir(encoded.constData(), 0700) == 0)
            ::chmod(encoded.constData(), 0700); // whatever the umask
        else if (errno != EEXIST)
            return RegistryIoFailed;
    }
    // SQLite would create the file 0644; create it 0600. Its log and index files take this mode.
    // (A log left behind by a removed store is dropped by SQLite when it finds the file empty.)
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
    const QByteArray lockPath = path + "-lock";
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);

    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return statusFromSqlite(rc);
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_handler(db, &RegistryStore::onBusy, this);

    // Reading the header first: a file that is not a database fails here, before anything writes.
    int appId = 0;
    int version = 0;
    {
        Statement stmt(db, "PRAGMA application_id");
        rc = stmt.step();
        appId = rc == SQLITE_ROW ? int(stmt.int64(0)) : 0;
    }
    if (rc == SQLITE_ROW) {
        Statement stmt(db, "PRAGMA user_version");
        rc = stmt.step();
        version = rc == SQLITE_ROW ? int(stmt.int64(0)) : 0;
    }
    if (rc != SQLITE_ROW) {
        sqlite3_close_v2(db);
        return statusFromSqlite(rc);
    }
    if (appId != 0 && (appId != kApplicationId || version > kSchemaVersion)) {
        sqlite3_close_v2(db);
        return RegistryCorrupt;
    }

    if (appId == 0) {
        rc = exec(db, "BEGIN IMMEDIATE");
        qint32 status = statusFromSqlite(rc);
        if (rc == SQLITE_OK) {
            // Another process may have set the file up while this one waited for the lock.
            qint64 objects = 0;
            {
                Statement stmt(db, "PRAGMA application_id");
                rc = stmt.step();
                appId = rc == SQLITE_ROW ? int(stmt.int64(0)) : 0;
            }
            if (rc == SQLITE_ROW) {
                Statement stmt(db, "SELECT count(*) FROM sqlite_schema");
                rc = stmt.step();
                objects = rc == SQLITE_ROW ? stmt.int64(0) : 0;
            }
            if (rc != SQLITE_ROW) {
                status = statusFromSqlite(rc);
            } else if (appId == kApplicationId) {
                status = Success;
            } else if (objects != 0) {
                status = RegistryCorrupt; // somebody else's database
            } else {
                rc = exec(db, kSchema);
                if (rc == SQLITE_OK) {
                    const QByteArray mark = "PRAGMA application_id = " + QByteArray::number(kApplicationId) +
                                            "; PRAGMA user_version = " + QByteArray::number(kSchemaVersion);
                    rc = exec(db, mark.constData());
                }
                status = statusFromSqlite(rc);
            }
            rc = exec(db, status == Success ? "COMMIT" : "ROLLBACK");
            if (status == Success && rc != SQLITE_OK)
                status = statusFromSqlite(rc);
        }
        if (status != Success) {
            exec(db, "ROLLBACK");
            sqlite3_close_v2(db);
            return status;
        }
    }

    // WAL lets readers and one writer work at once; FULL makes each commit durable.
    rc = exec(db, "PRAGMA journal_mode = WAL");
    if (rc == SQLITE_OK)
        rc = exec(db, "PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON");
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return statusFromSqlite(rc);
    }

    struct stat st = {};
    if (::stat(path.constData(), &st) != 0) {
        sqlite3_close_v2(db);
        return RegistryIoFailed;
    }
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_db = db;
    return Success;
}

template <typename Body> qint32 RegistryStore::transact(bool write, Body&& body)
{
    QMutexLocker lock(&m_mutex);
    m_deadline = QDeadlineTimer(kBusyTimeoutMs);
    const auto stopWaiting = qScopeGuard([this] { setWaiting(false); });
    for (;;) {
        qint32 status = openLocked();
        if (status == Success) {
            int rc = exec(m_db, write ? "BEGIN IMMEDIATE" : "BEGIN");
            setWaiting(false);
            if (rc == SQLITE_OK) {
                const StepResult result = body(m_db);
                rc = result.rc;
                if (rc == SQLITE_OK && result.status == Success)
                    rc = exec(m_db, "COMMIT");
                if (rc == SQLITE_OK) {
                    if (result.status != Success)
                        exec(m_db, "ROLLBACK");
                    else if (write)
                        yieldToWaiters();
                    return result.status;
                }
                if (!sqlite3_get_autocommit(m_db))
                    exec(m_db, "ROLLBACK");
            }
            status = statusFromSqlite(rc);
            if (isFileFailure(status))
                closeLocked();
        }
        // The busy handler already waited; this covers the cases where SQLite does not call it
        // (a snapshot gone stale, recovery by another process, a store being set up).
        if (status != Busy || m_deadline.hasExpired())
            return status;
        QThread::msleep(5);
    }
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
    return transact(false, [&](sqlite3* db) {
        qint64 id = 0;
        const int rc = findKey(db, root, path, id);
        return rc != SQLITE_OK ? StepResult::sqlite(rc) : StepResult::registry(id ? Success : FileNotFound);
    });
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
    // (the program rewrites its settings and registrations on every start and shutdown).
    quint32 storedType = 0;
    QByteArray storedData;
    if (queryValue(root, keyPath, valueName, storedType, storedData) == Success && storedType == type &&
        storedData == data)
        return Success;
    return transact(true, [&](sqlite3* db) {
        qint64 id = 0;
        int rc = mode == CreateMode::CreateMissingKeys ? createPath(db, root, path, id)
                                                       : findKey(db, root, path, id);
        if (rc != SQLITE_OK)
            return StepResult::sqlite(rc);
        if (id == 0)
            return StepResult::registry(FileNotFound);
        // A value keeps the spelling of its name from when it was first written.
        Statement upsert(
            db, "INSERT INTO reg_values(key_id, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                "ON CONFLICT(key_id, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
        upsert.bind(1, id)
            .bind(2, valueName)
            .bind(3, fold(valueName))
            .bind(4, qint64(type))
            .bindBlob(5, data);
        rc = upsert.step();
        return StepResult::sqlite(rc == SQLITE_DONE ? SQLITE_OK : rc);
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
    const auto step = onExistingKey(root, path, [&](sqlite3* db, qint64 id) {
        int rc = SQLITE_OK;
        Statement stmt(db, "SELECT type, data FROM reg_values WHERE key_id = ?1 AND folded = ?2");
        stmt.bind(1, id).bind(2, fold(valueName));
        rc = stmt.step();
        if (rc == SQLITE_DONE)
            return StepResult::registry(FileNotFound);
        if (rc != SQLITE_ROW)
            return StepResult::sqlite(rc);
        type = quint32(stmt.int64(0));
        data = stmt.blob(1);
        return StepResult::registry(Success);
    });
    return transact(false, step);
}

qint32 RegistryStore::deleteValue(RegRoot root, const QString& keyPath, const QString& valueName)
{
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    if (valueName.size() > kMaxValueNameLength)
        return InvalidParameter;
    const auto step = onExistingKey(root, path, [&](sqlite3* db, qint64 id) {
        int rc = SQLITE_OK;
        Statement stmt(db, "DELETE FROM reg_values WHERE key_id = ?1 AND folded = ?2");
        stmt.bind(1, id).bind(2, fold(valueName));
        rc = stmt.step();
        if (rc != SQLITE_DONE)
            return StepResult::sqlite(rc);
        return StepResult::registry(sqlite3_changes(db) > 0 ? Success : FileNotFound);
    });
    return transact(true, step);
}

qint32 RegistryStore::deleteKey(RegRoot root, const QString& keyPath)
{
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    if (path.names.isEmpty())
        return AccessDenied;
    const auto step = onExistingKey(root, path, [&](sqlite3* db, qint64 id) {
        int rc = SQLITE_OK;
        qint64 subkeys = 0;
        rc = countRows(db, "SELECT count(*) FROM reg_keys WHERE parent = ?1", id, subkeys);
        if (rc != SQLITE_OK)
            return StepResult::sqlite(rc);
        if (subkeys > 0)
            return StepResult::registry(AccessDenied);
        Statement values(db, "DELETE FROM reg_values WHERE key_id = ?1");
        values.bind(1, id);
        rc = values.step();
        if (rc != SQLITE_DONE)
            return StepResult::sqlite(rc);
        Statement key(db, "DELETE FROM reg_keys WHERE id = ?1");
        key.bind(1, id);
        rc = key.step();
        return StepResult::sqlite(rc == SQLITE_DONE ? SQLITE_OK : rc);
    });
    return transact(true, step);
}

qint32 RegistryStore::deleteTree(RegRoot root, const QString& keyPath)
{
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    if (path.names.isEmpty())
        return AccessDenied;
    const auto step = onExistingKey(root, path, [&](sqlite3* db, qint64 id) {
        int rc = SQLITE_OK;
        Statement values(db, "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
                             "SELECT k.id FROM reg_keys k JOIN tree t ON k.parent = t.id) "
                             "DELETE FROM reg_values WHERE key_id IN tree");
        values.bind(1, id);
        rc = values.step();
        if (rc != SQLITE_DONE)
            return StepResult::sqlite(rc);
        Statement keys(db, "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
                           "SELECT k.id FROM reg_keys k JOIN tree t ON k.parent = t.id) "
                           "DELETE FROM reg_keys WHERE id IN tree");
        keys.bind(1, id);
        rc = keys.step();
        return StepResult::sqlite(rc == SQLITE_DONE ? SQLITE_OK : rc);
    });
    return transact(true, step);
}

qint32 RegistryStore::enumSubKeys(RegRoot root, const QString& keyPath, QStringList& names)
{
    names.clear();
    const KeyPath path = parseKeyPath(keyPath);
    if (path.status != Success)
        return path.status;
    QStringList found;
    const auto step = onExistingKey(root, path, [&](sqlite3* db, qint64 id) {
        found.clear();
        int rc = SQLITE_OK;
        Statement stmt(db, "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY folded, name");
        stmt.bind(1, id);
        while ((rc = stmt.step()) == SQLITE_ROW)
            found.append(stmt.text(0));
        return StepResult::sqlite(rc == SQLITE_DONE ? SQLITE_OK : rc);
    });
    const qint32 status = transact(false, step);
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
    const auto step = onExistingKey(root, path, [&](sqlite3* db, qint64 id) {
        found.clear();
        int rc = SQLITE_OK;
        Statement stmt(db, "SELECT name, type, data FROM reg_values WHERE key_id = ?1 ORDER BY id");
        stmt.bind(1, id);
        while ((rc = stmt.step()) == SQLITE_ROW)
            found.append(Value{stmt.text(0), quint32(stmt.int64(1)), stmt.blob(2)});
        return StepResult::sqlite(rc == SQLITE_DONE ? SQLITE_OK : rc);
    });
    const qint32 status = transact(false, step);
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
        int rc = 0;
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
