// The store's file: where it lives, opening it, setting up a new one, refusing one that is not
// ours, and noticing when it has been replaced.

#include "platform/RegistryKeyTree.h"
#include "platform/RegistrySql.h"
#include "platform/RegistryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace linvera::platform {

using namespace registry;

namespace {

// Marks the file as ours, so another program's database is never taken over.
constexpr int kApplicationId = 0x4C4E5652; // "LNVR"
constexpr int kSchemaVersion = 1;

/// Reads one integer pragma; SQLITE_ROW on success.
int readPragma(sqlite3* db, const char* sql, int& value)
{
    Statement stmt(db, sql);
    const int rc = stmt.step();
    value = rc == SQLITE_ROW ? int(stmt.int64(0)) : 0;
    return rc;
}

/// Sets up an empty file inside one write transaction. Another process may have set it up while
/// this one waited for the lock; a file that already holds someone else's tables is left alone.
qint32 setUpNewFile(sqlite3* db)
{
    int rc = exec(db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return statusFromSqlite(rc);
    qint32 status = RegistryStore::Success;
    int appId = 0;
    rc = readPragma(db, "PRAGMA application_id", appId);
    qint64 objects = 0;
    if (rc == SQLITE_ROW) {
        Statement stmt(db, "SELECT count(*) FROM sqlite_schema");
        rc = stmt.step();
        objects = rc == SQLITE_ROW ? stmt.int64(0) : 0;
    }
    if (rc != SQLITE_ROW) {
        status = statusFromSqlite(rc);
    } else if (appId == kApplicationId) {
        status = RegistryStore::Success;
    } else if (objects != 0) {
        status = RegistryStore::RegistryCorrupt; // somebody else's database
    } else {
        rc = createKeyTree(db);
        if (rc == SQLITE_OK) {
            const QByteArray mark = "PRAGMA application_id = " + QByteArray::number(kApplicationId) +
                                    "; PRAGMA user_version = " + QByteArray::number(kSchemaVersion);
            rc = exec(db, mark.constData());
        }
        status = statusFromSqlite(rc);
    }
    rc = exec(db, status == RegistryStore::Success ? "COMMIT" : "ROLLBACK");
    if (status == RegistryStore::Success && rc != SQLITE_OK)
        status = statusFromSqlite(rc);
    if (status != RegistryStore::Success)
        exec(db, "ROLLBACK");
    return status;
}

enum class Header { Missing, Empty, Store, NotStore, Unreadable };

/// What the file's first bytes say, read by us: a file that is not a database never reaches SQLite,
/// which would otherwise lay a write-ahead log left beside it by the file it replaced over it.
/// Read through SQLite's own file layer: closing a descriptor of our own would drop every lock this
/// process holds on the file, and let another process write under a transaction of ours.
Header readHeader(const QByteArray& path)
{
    const QFileInfo info(QFile::decodeName(path));
    if (!info.exists())
        return Header::Missing;
    if (!info.isFile())
        return Header::Unreadable;
    sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    if (!vfs)
        return Header::Unreadable;
    QByteArray storage(vfs->szOsFile, '\0');
    auto* file = reinterpret_cast<sqlite3_file*>(storage.data());
    int flags = 0;
    if (vfs->xOpen(vfs, path.constData(), file, SQLITE_OPEN_READONLY | SQLITE_OPEN_MAIN_DB, &flags) !=
        SQLITE_OK) {
        if (file->pMethods)
            file->pMethods->xClose(file);
        return Header::Unreadable;
    }
    static constexpr char kMagic[] = "SQLite format 3"; // with its NUL: 16 bytes
    char head[sizeof kMagic] = {};
    sqlite3_int64 size = 0;
    Header header = Header::Unreadable;
    if (file->pMethods->xFileSize(file, &size) == SQLITE_OK) {
        if (size == 0)
            header = Header::Empty;
        else if (size < qint64(sizeof head))
            header = Header::NotStore;
        else if (file->pMethods->xRead(file, head, int(sizeof head), 0) == SQLITE_OK)
            header = std::memcmp(head, kMagic, sizeof head) == 0 ? Header::Store : Header::NotStore;
    }
    file->pMethods->xClose(file);
    return header;
}

/// Whether a write-ahead log with content lies beside the file.
bool hasLog(const QByteArray& path)
{
    struct stat st = {};
    const QByteArray log = path + QByteArrayLiteral("-wal");
    return ::stat(log.constData(), &st) == 0 && st.st_size > 0;
}

/// Checks that an open file is one of our stores, of a version this program reads.
qint32 checkOurs(sqlite3* db)
{
    int appId = 0;
    int version = 0;
    int rc = readPragma(db, "PRAGMA application_id", appId);
    if (rc == SQLITE_ROW)
        rc = readPragma(db, "PRAGMA user_version", version);
    if (rc != SQLITE_ROW)
        return statusFromSqlite(rc);
    if (appId != 0 && (appId != kApplicationId || version > kSchemaVersion))
        return RegistryStore::RegistryCorrupt;
    return RegistryStore::Success;
}

/// Makes the store file (through a link to it) and its log and index files beside it readable by the
/// user alone. By path: a descriptor of our own, once closed, would drop the locks SQLite holds.
void makePrivate(const QByteArray& path)
{
    const QByteArray target = QFile::encodeName(QFileInfo(QFile::decodeName(path)).canonicalFilePath());
    for (const QByteArray& file : {target, QByteArray(target + "-wal"), QByteArray(target + "-shm")}) {
        struct stat st = {};
        if (!file.isEmpty() && ::lstat(file.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
            (st.st_mode & 07777) != 0600)
            ::chmod(file.constData(), 0600);
    }
}

/// Creates the store's folder private to the user, and its parents.
bool makeFolder(const QString& folder)
{
    if (QFileInfo::exists(folder))
        return true;
    // The folder holds only the store: private to the user from the start.
    QDir().mkpath(QFileInfo(folder).absolutePath());
    const QByteArray encoded = QFile::encodeName(folder);
    if (::mkdir(encoded.constData(), 0700) == 0)
        ::chmod(encoded.constData(), 0700); // whatever the umask
    else if (errno != EEXIST)
        return false;
    return true;
}

} // namespace

QString RegistryStore::defaultFilePath()
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + u"/.config";
    return config + u"/halvex-linvera/registry.sqlite3";
}

void RegistryStore::closeLocked()
{
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    m_readOnly = false;
    m_turn.close();
}

void RegistryStore::dropDamagedLocked()
{
    // Closing the last connection folds the log into the file: not into a damaged one. The log
    // stays on disk with the latest changes in it.
    if (m_db)
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    closeLocked();
}

qint32 RegistryStore::openReadOnlyLocked()
{
    // A store the user cannot write (a read-only folder gives SQLite no room for the log's index):
    // read as an unchanging file, so the settings it holds are still read. Only when no log holds
    // changes that the file lacks.
    const QByteArray path = QFile::encodeName(m_filePath);
    if (readHeader(path) != Header::Store || hasLog(path))
        return AccessDenied;
    const QByteArray uri = QUrl::fromLocalFile(m_filePath).toEncoded() + "?immutable=1";
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(uri.constData(), &db,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    qint32 status = statusFromSqlite(rc);
    if (rc == SQLITE_OK) {
        sqlite3_extended_result_codes(db, 1);
        status = checkOurs(db);
    }
    struct stat st = {};
    if (status == Success && ::stat(path.constData(), &st) != 0)
        status = RegistryIoFailed;
    if (status != Success) {
        sqlite3_close_v2(db);
        return status;
    }
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_db = db;
    m_readOnly = true;
    return Success;
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
    const QByteArray path = QFile::encodeName(m_filePath);
    // A read-only store is opened afresh each time: the file may have become writable meanwhile.
    if (m_db && !m_readOnly && !fileReplacedLocked()) {
        if (readHeader(path) != Header::NotStore)
            return Success;
        dropDamagedLocked(); // overwritten while open
        return RegistryCorrupt;
    }
    closeLocked();
    if (readHeader(path) == Header::NotStore)
        return RegistryCorrupt;

    if (!makeFolder(QFileInfo(m_filePath).absolutePath()))
        return RegistryIoFailed;
    const auto orReadOnly = [this](qint32 status) {
        if (status != AccessDenied && status != RegistryIoFailed)
            return status;
        const qint32 readOnly = openReadOnlyLocked();
        return readOnly == Success ? Success : status;
    };
    // SQLite would create the file 0644; create it 0600. Its log and index files take this mode.
    // (A log left behind by a removed store is dropped by SQLite when it finds the file empty.)
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
    m_turn.open(path);

    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return orReadOnly(statusFromSqlite(rc));
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_handler(db, &RegistryStore::onBusy, this);
    // A file that was there already (an empty one, or a link to one) still has its own mode: the
    // store is private whenever it is opened for writing, before its log and index take that mode.
    if (sqlite3_db_readonly(db, "main") == 0)
        makePrivate(path);

    // Reading the header first: a file that is not a database fails here, before anything writes.
    int appId = 0;
    rc = readPragma(db, "PRAGMA application_id", appId);
    if (const qint32 status = checkOurs(db); status != Success) {
        sqlite3_close_v2(db);
        return orReadOnly(status);
    }
    if (appId == 0) {
        const qint32 status = setUpNewFile(db);
        if (status != Success) {
            sqlite3_close_v2(db);
            return status;
        }
    }

    // WAL lets readers and one writer work at once. NORMAL syncs at checkpoints rather than at every
    // commit: a commit survives the program's crash and the file never tears, while only a power cut
    // can lose the last commits, as the registry it stands in for flushes lazily too. A sync per
    // commit cost the start-up a dozen disk flushes.
    rc = exec(db, "PRAGMA journal_mode = WAL");
    if (rc == SQLITE_OK)
        rc = exec(db, "PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON");
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return orReadOnly(statusFromSqlite(rc));
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

} // namespace linvera::platform
