#pragma once

// Inside the registry store only: the SQLite plumbing its pieces share.

#include "platform/RegistryStore.h"

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

namespace linvera::platform::registry {

/// The registry status for an SQLite result code.
qint32 statusFromSqlite(int rc);

/// A failure of the file itself: the connection is dropped so the next call opens the file anew.
bool isFileFailure(qint32 status);

int exec(sqlite3* db, const char* sql);

/// One prepared statement; the first error sticks in rc().
class Statement
{
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int rc() const { return m_rc; }

    Statement& bind(int index, qint64 value);
    Statement& bind(int index, const QString& text);
    /// Empty data is bound as a blob of length 0, never as SQL NULL.
    Statement& bindBlob(int index, const QByteArray& data);

    /// SQLITE_ROW, SQLITE_DONE or an error code.
    int step();

    qint64 int64(int column) const;
    QString text(int column) const;
    QByteArray blob(int column) const;

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc = SQLITE_OK;
};

/// What one transaction body produced: an SQLite failure (rc), or the registry outcome (status).
/// Only Success is committed.
struct StepResult
{
    int rc = SQLITE_OK;
    qint32 status = RegistryStore::Success;

    static StepResult sqlite(int code) { return {code, RegistryStore::Success}; }
    static StepResult registry(qint32 status) { return {SQLITE_OK, status}; }
    /// A statement run to its end: SQLITE_DONE is success.
    static StepResult done(int code) { return sqlite(code == SQLITE_DONE ? SQLITE_OK : code); }
};

} // namespace linvera::platform::registry
