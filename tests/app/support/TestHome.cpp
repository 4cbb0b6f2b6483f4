#include "TestHome.h"

#include "RegistryStore.h"
#include "TempRegistry.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace linvera::test {

QList<std::pair<QByteArray, QString>> TestHome::variables(const QString& root)
{
    const QString home = root + u"/home"_s;
    return {
        {"HOME", home},
        {"XDG_CONFIG_HOME", home + u"/.config"_s},
        {"XDG_DATA_HOME", home + u"/.local/share"_s},
        {"XDG_CACHE_HOME", home + u"/.cache"_s},
        {"XDG_RUNTIME_DIR", root + u"/runtime"_s},
        {"TMPDIR", root + u"/tmp"_s},
    };
}

TestHome::TestHome()
{
    if (!m_dir.isValid())
        return;
    bool made = true;
    for (const auto& [name, folder] : variables(m_dir.path()))
        made = made && QDir().mkpath(folder);
    // The runtime folder must be private to the user, or Qt refuses it.
    made = made && QFile::setPermissions(runtimeFolder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                              QFileDevice::ExeOwner);
    if (!made)
        return;
    for (const auto& [name, folder] : variables(m_dir.path())) {
        m_previous.append({name, qEnvironmentVariableIsSet(name.constData())
                                     ? std::optional<QByteArray>(qgetenv(name.constData()))
                                     : std::nullopt});
        qputenv(name.constData(), QFile::encodeName(folder));
    }
    // Made after TMPDIR points here, so the store's folder is inside this home too.
    m_registry = std::make_unique<TempRegistry>();
    m_valid = m_registry->isValid();
}

TestHome::~TestHome()
{
    m_registry.reset();
    for (const auto& [name, value] : std::as_const(m_previous)) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

QString TestHome::home() const
{
    return root() + u"/home"_s;
}

QString TestHome::configHome() const
{
    return home() + u"/.config"_s;
}

QString TestHome::dataHome() const
{
    return home() + u"/.local/share"_s;
}

QString TestHome::cacheHome() const
{
    return home() + u"/.cache"_s;
}

QString TestHome::runtimeFolder() const
{
    return root() + u"/runtime"_s;
}

QString TestHome::tempFolder() const
{
    return root() + u"/tmp"_s;
}

platform::RegistryStore& TestHome::store()
{
    return m_registry->store();
}

} // namespace linvera::test
