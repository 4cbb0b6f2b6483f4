#include "platform/RegistrySql.h"

namespace linvera::platform::registry {

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

bool isFileFailure(qint32 status)
{
    return status == RegistryStore::RegistryCorrupt || status == RegistryStore::RegistryIoFailed;
}

int exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

Statement::Statement(sqlite3* db, const char* sql)
{
    m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement& Statement::bind(int index, qint64 value)
{
    if (m_rc == SQLITE_OK)
        m_rc = sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

Statement& Statement::bind(int index, const QString& text)
{
    if (m_rc == SQLITE_OK) {
        const QByteArray utf8 = text.toUtf8();
        m_rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    return *this;
}

Statement& Statement::bindBlob(int index, const QByteArray& data)
{
    if (m_rc != SQLITE_OK)
        return *this;
    // A null pointer would bind SQL NULL.
    if (data.isEmpty())
        m_rc = sqlite3_bind_zeroblob(m_stmt, index, 0);
    else
        m_rc = sqlite3_bind_blob64(m_stmt, index, data.constData(), sqlite3_uint64(data.size()),
                                   SQLITE_TRANSIENT);
    return *this;
}

int Statement::step()
{
    if (m_rc != SQLITE_OK)
        return m_rc;
    const int rc = sqlite3_step(m_stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        m_rc = rc;
    return rc;
}

qint64 Statement::int64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

QString Statement::text(int column) const
{
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
}

QByteArray Statement::blob(int column) const
{
    const auto* data = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data && size > 0 ? QByteArray(data, size) : QByteArray();
}

} // namespace linvera::platform::registry
