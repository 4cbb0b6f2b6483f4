#pragma once

// Inside the registry store only: the tables of keys and values and the SQL over them. Each
// function runs inside a transaction the store has begun.

#include "platform/RegistrySql.h"
#include "platform/RegistryStore.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace linvera::platform::registry {

/// Creates the tables and the three root keys in an empty database.
int createKeyTree(sqlite3* db);

/// A key path split into its names, with their case-folded forms for lookups.
struct KeyPath
{
    QStringList names;
    QStringList folded;
    qint32 status = RegistryStore::Success; // BadPathname or InvalidParameter for a bad path
};

KeyPath parseKeyPath(const QString& path);

/// Finds the key; id 0 when missing.
int findKey(sqlite3* db, RegRoot root, const KeyPath& path, qint64& id);
/// Finds the key, creating it and every missing parent.
int createPath(sqlite3* db, RegRoot root, const KeyPath& path, qint64& id);

/// Inserts or overwrites the value's type and data; a value keeps the spelling of its name from
/// when it was first written.
StepResult writeValue(sqlite3* db, qint64 key, const QString& name, quint32 type, const QByteArray& data);
/// FileNotFound when the key has no such value.
StepResult readValue(sqlite3* db, qint64 key, const QString& name, quint32& type, QByteArray& data);
/// FileNotFound when the key has no such value.
StepResult removeValue(sqlite3* db, qint64 key, const QString& name);
/// Removes a key with its values; AccessDenied while it has subkeys.
StepResult removeKey(sqlite3* db, qint64 key);
/// Removes a key with all its subkeys and values.
StepResult removeTree(sqlite3* db, qint64 key);
/// Subkey names as first written, sorted case-insensitively.
StepResult listSubKeys(sqlite3* db, qint64 key, QStringList& names);
/// Values in the order they were first written.
StepResult listValues(sqlite3* db, qint64 key, QList<RegistryStore::Value>& values);

/// The body of a transaction on an existing key: finds the key, reports a missing one as
/// FileNotFound and otherwise runs body(db, id).
template <typename Body> auto onExistingKey(RegRoot root, const KeyPath& path, Body body)
{
    return [root, &path, body](sqlite3* db) {
        qint64 id = 0;
        const int rc = findKey(db, root, path, id);
        if (rc != SQLITE_OK)
            return StepResult::sqlite(rc);
        if (id == 0)
            return StepResult::registry(RegistryStore::FileNotFound);
        return body(db, id);
    };
}

} // namespace linvera::platform::registry
