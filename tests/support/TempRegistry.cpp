#include "TempRegistry.h"

using namespace Qt::StringLiterals;

namespace linvera::test {

TempRegistry::TempRegistry()
    : m_store(m_dir.filePath(u"registry.sqlite3"_s))
    , m_override(m_store)
{}

TempRegistry::~TempRegistry() = default;

} // namespace linvera::test
