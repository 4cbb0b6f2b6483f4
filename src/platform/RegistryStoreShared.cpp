// The process-wide store behind RegistryStore::shared().

#include "platform/RegistryStore.h"

#include <atomic>

namespace linvera::platform {
namespace {

std::atomic<RegistryStore*> g_sharedOverride{nullptr};

} // namespace

RegistryStore& RegistryStore::shared()
{
    if (RegistryStore* store = g_sharedOverride.load())
        return *store;
    static RegistryStore defaultStore(defaultFilePath());
    return defaultStore;
}

void RegistryStore::setShared(RegistryStore* store)
{
    g_sharedOverride.store(store);
}

RegistryStore::SharedOverride::SharedOverride(RegistryStore& store)
    : m_previous(g_sharedOverride.exchange(&store))
{}

RegistryStore::SharedOverride::~SharedOverride()
{
    g_sharedOverride.store(m_previous);
}

} // namespace linvera::platform
