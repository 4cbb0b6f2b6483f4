#include "TempRegistry.h"

#include "TestSandbox.h"

using namespace Qt::StringLiterals;

namespace linvera::test {

TempRegistry::TempRegistry()
    : m_store(m_dir.filePath(u"config/halvex-linvera/registry.sqlite3"_s))
    , m_override(m_store)
{
    requireSandbox();
}

TempRegistry::~TempRegistry() = default;

QString TempRegistry::configHome() const
{
    return m_dir.filePath(u"config"_s);
}

} // namespace linvera::test
