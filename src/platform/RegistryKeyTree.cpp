#include "platform/RegistryKeyTree.h"

namespace linvera::platform::registry {
namespace {

// Names are compared in their case-folded form, kept beside the spelling first written.
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

// The ids the schema gives the root keys.
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

/// Finds the key below parent; id 0 when missing.
int findChild(sqlite3* db, qint64 parent, const QString& folded, qint64& id)
{
    Statement stmt(db, "SELECT id FROM reg_keys WHERE parent = ?1 AND folded = ?2");
    stmt.bind(1, parent).bind(2, folded);
    const int rc = stmt.step();
    id = rc == SQLITE_ROW ? stmt.int64(0) : 0;
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int countRows(sqlite3* db, const char* sql, qint64 id, qint64& count)
{
    Statement stmt(db, sql);
    stmt.bind(1, id);
    const int rc = stmt.step();
    count = rc == SQLITE_ROW ? stmt.int64(0) : 0;
    return rc == SQLITE_ROW ? SQLITE_OK : rc;
}

} // namespace

int createKeyTree(sqlite3* db)
{
    return exec(db, kSchema);
}

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

StepResult writeValue(sqlite3* db, qint64 key, const QString& name, quint32 type, const QByteArray& data)
{
    Statement upsert(db,
                     "INSERT INTO reg_values(key_id, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                     "ON CONFLICT(key_id, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    upsert.bind(1, key).bind(2, name).bind(3, fold(name)).bind(4, qint64(type)).bindBlob(5, data);
    return StepResult::done(upsert.step());
}

StepResult readValue(sqlite3* db, qint64 key, const QString& name, quint32& type, QByteArray& data)
{
    Statement stmt(db, "SELECT type, data FROM reg_values WHERE key_id = ?1 AND folded = ?2");
    stmt.bind(1, key).bind(2, fold(name));
    const int rc = stmt.step();
    if (rc == SQLITE_DONE)
        return StepResult::registry(RegistryStore::FileNotFound);
    if (rc != SQLITE_ROW)
        return StepResult::sqlite(rc);
    type = quint32(stmt.int64(0));
    data = stmt.blob(1);
    return StepResult::registry(RegistryStore::Success);
}

StepResult removeValue(sqlite3* db, qint64 key, const QString& name)
{
    Statement stmt(db, "DELETE FROM reg_values WHERE key_id = ?1 AND folded = ?2");
    stmt.bind(1, key).bind(2, fold(name));
    const int rc = stmt.step();
    if (rc != SQLITE_DONE)
        return StepResult::sqlite(rc);
    return StepResult::registry(sqlite3_changes(db) > 0 ? RegistryStore::Success
                                                        : RegistryStore::FileNotFound);
}

StepResult removeKey(sqlite3* db, qint64 key)
{
    qint64 subkeys = 0;
    int rc = countRows(db, "SELECT count(*) FROM reg_keys WHERE parent = ?1", key, subkeys);
    if (rc != SQLITE_OK)
        return StepResult::sqlite(rc);
    if (subkeys > 0)
        return StepResult::registry(RegistryStore::AccessDenied);
    Statement values(db, "DELETE FROM reg_values WHERE key_id = ?1");
    values.bind(1, key);
    rc = values.step();
    if (rc != SQLITE_DONE)
        return StepResult::sqlite(rc);
    Statement row(db, "DELETE FROM reg_keys WHERE id = ?1");
    row.bind(1, key);
    return StepResult::done(row.step());
}

StepResult removeTree(sqlite3* db, qint64 key)
{
    Statement values(db, "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
                         "SELECT k.id FROM reg_keys k JOIN tree t ON k.parent = t.id) "
                         "DELETE FROM reg_values WHERE key_id IN tree");
    values.bind(1, key);
    const int rc = values.step();
    if (rc != SQLITE_DONE)
        return StepResult::sqlite(rc);
    Statement keys(db, "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
                       "SELECT k.id FROM reg_keys k JOIN tree t ON k.parent = t.id) "
                       "DELETE FROM reg_keys WHERE id IN tree");
    keys.bind(1, key);
    return StepResult::done(keys.step());
}

StepResult listSubKeys(sqlite3* db, qint64 key, QStringList& names)
{
    names.clear();
    Statement stmt(db, "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY folded, name");
    stmt.bind(1, key);
    int rc = SQLITE_OK;
    while ((rc = stmt.step()) == SQLITE_ROW)
        names.append(stmt.text(0));
    return StepResult::done(rc);
}

StepResult listValues(sqlite3* db, qint64 key, QList<RegistryStore::Value>& values)
{
    values.clear();
    Statement stmt(db, "SELECT name, type, data FROM reg_values WHERE key_id = ?1 ORDER BY id");
    stmt.bind(1, key);
    int rc = SQLITE_OK;
    while ((rc = stmt.step()) == SQLITE_ROW)
        values.append(RegistryStore::Value{stmt.text(0), quint32(stmt.int64(1)), stmt.blob(2)});
    return StepResult::done(rc);
}

} // namespace linvera::platform::registry
