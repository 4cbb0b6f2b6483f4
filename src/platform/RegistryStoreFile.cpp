// The store's file: where it lives, opening it, setting up a new one, refusing one that is not
// ours, and noticing when it has been replaced.

#include "RegistryKeyTree.h"
#include "RegistrySql.h"
#include "RegistryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
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
    m_turn.close();
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
    if (!makeFolder(QFileInfo(m_filePath).absolutePath()))
        return RegistryIoFailed;
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
        return statusFromSqlite(rc);
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_handler(db, &RegistryStore::onBusy, this);

    // Reading the header first: a file that is not a database fails here, before anything writes.
    int appId = 0;
    int version = 0;
    rc = readPragma(db, "PRAGMA application_id", appId);
    if (rc == SQLITE_ROW)
        rc = readPragma(db, "PRAGMA user_version", version);
    if (rc != SQLITE_ROW) {
        sqlite3_close_v2(db);
        return statusFromSqlite(rc);
    }
    if (appId != 0 && (appId != kApplicationId || version > kSchemaVersion)) {
        sqlite3_close_v2(db);
        return RegistryCorrupt;
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

} // namespace linvera::platform
