#pragma once

#include "RegistryStore.h"

#include <QTemporaryDir>

namespace linvera::test {

/// A registry store of its own in a new temporary folder, made the process-wide store for the
/// object's lifetime, so that nothing a test writes reaches the user's store.
class TempRegistry
{
public:
    TempRegistry();
    ~TempRegistry();

    bool isValid() const { return m_dir.isValid(); }
    platform::RegistryStore& store() { return m_store; }
    QString folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    platform::RegistryStore m_store;
    platform::RegistryStore::SharedOverride m_override;
};

} // namespace linvera::test
