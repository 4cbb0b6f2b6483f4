#include "TempRegistry.h"

#include "TestSandbox.h"

using namespace Qt::StringLiterals;

namespace linvera::test {

namespace {

void dumpKey(platform::RegistryStore& store, platform::RegRoot root, const QString& path, QStringList& out)
{
    using platform::RegistryStore;
    out.append(RegistryStore::rootName(root) + u'\\' + path);
    QList<RegistryStore::Value> values;
    if (const qint32 code = store.enumValues(root, path, values); code != RegistryStore::Success)
        out.append(u"  <values not listed: %1>"_s.arg(code));
    for (const auto& value : values)
        out.append(u"  "_s + value.name + u" = "_s + QString::number(value.type) + u':' +
                   QString::fromLatin1(value.data.toHex()));
    QStringList subkeys;
    if (const qint32 code = store.enumSubKeys(root, path, subkeys); code != RegistryStore::Success)
        out.append(u"  <subkeys not listed: %1>"_s.arg(code));
    for (const QString& subkey : subkeys)
        dumpKey(store, root, path.isEmpty() ? subkey : path + u'\\' + subkey, out);
}

} // namespace

QStringList DumpRegistry(platform::RegistryStore& store)
{
    using platform::RegRoot;
    QStringList out;
    for (const RegRoot root : {RegRoot::ClassesRoot, RegRoot::CurrentUser, RegRoot::LocalMachine})
        dumpKey(store, root, QString(), out);
    return out;
}

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
