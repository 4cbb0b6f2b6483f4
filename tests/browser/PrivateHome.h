#pragma once

#include <QDir>
#include <QFile>
#include <QList>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <utility>

namespace linvera::test {

/// A home folder and XDG folders of their own in a new temporary folder, for the programs a test
/// starts (and for the test itself while apply() is in force), so that none of them reads or writes
/// the files of the user or of another test.
class PrivateHome
{
public:
    PrivateHome()
        : m_dir(QDir::tempPath() + QStringLiteral("/homeXXXXXX"))
    {
        if (!m_dir.isValid())
            return;
        m_variables = {
            {"HOME", m_dir.path()},
            {"XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral(".config"))},
            {"XDG_DATA_HOME", m_dir.filePath(QStringLiteral(".local/share"))},
            {"XDG_STATE_HOME", m_dir.filePath(QStringLiteral(".local/state"))},
            {"XDG_CACHE_HOME", m_dir.filePath(QStringLiteral(".cache"))},
            {"XDG_RUNTIME_DIR", m_dir.filePath(QStringLiteral("runtime"))},
            {"TMPDIR", m_dir.filePath(QStringLiteral("tmp"))},
        };
        for (const auto& [name, folder] : std::as_const(m_variables)) {
            if (!QDir().mkpath(folder))
                m_made = false;
        }
        // The runtime folder must be private, or Qt refuses it.
        QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    ~PrivateHome() { restore(); }

    PrivateHome(const PrivateHome&) = delete;
    PrivateHome& operator=(const PrivateHome&) = delete;

    bool isValid() const { return m_dir.isValid() && m_made; }
    QString path() const { return m_dir.path(); }
    QString configHome() const { return m_dir.filePath(QStringLiteral(".config")); }

    /// This process's environment with the private folders in place of the user's.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, folder] : m_variables)
            environment.insert(QString::fromLatin1(name), folder);
        return environment;
    }

    /// Puts the private folders into this process's environment (inherited by every program it
    /// starts) until restore() or the end of the object.
    void apply()
    {
        if (!m_saved.isEmpty())
            return;
        for (const auto& [name, folder] : std::as_const(m_variables)) {
            m_saved.append({name, qEnvironmentVariableIsSet(name.constData()), qgetenv(name.constData())});
            qputenv(name.constData(), QFile::encodeName(folder));
        }
    }

    void restore()
    {
        for (const Saved& saved : std::as_const(m_saved)) {
            if (saved.wasSet)
                qputenv(saved.name.constData(), saved.value);
            else
                qunsetenv(saved.name.constData());
        }
        m_saved.clear();
    }

private:
    struct Saved
    {
        QByteArray name;
        bool wasSet = false;
        QByteArray value;
    };

    QTemporaryDir m_dir;
    bool m_made = true;
    QList<std::pair<QByteArray, QString>> m_variables;
    QList<Saved> m_saved;
};

} // namespace linvera::test
