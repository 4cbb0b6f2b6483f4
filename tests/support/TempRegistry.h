#pragma once

#include "platform/RegistryStore.h"

#include <QStringList>
#include <QTemporaryDir>

namespace linvera::test {

/// A registry store of its own in a new temporary folder, made the process-wide store for the
/// object's lifetime, so that nothing a test writes reaches the user's store. The store lies where
/// the programs look for it under configHome(): a program started with XDG_CONFIG_HOME set to that
/// folder reads and writes the same store.
class TempRegistry
{
public:
    TempRegistry();
    ~TempRegistry();
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    platform::RegistryStore& store() { return m_store; }
    /// The temporary folder; other files of the test may go here too.
    QString folder() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    /// The folder to hand a program as XDG_CONFIG_HOME so that it uses this store.
    QString configHome() const;
    QString storeFile() const { return m_store.filePath(); }

private:
    QTemporaryDir m_dir;
    platform::RegistryStore m_store;
    platform::RegistryStore::SharedOverride m_override;
};

/// Every key and value of the store, one line each ("  name = type:hex bytes" under its key), for
/// comparing a store before and after. A key that cannot be listed gives a line saying so.
QStringList DumpRegistry(platform::RegistryStore& store);

} // namespace linvera::test
