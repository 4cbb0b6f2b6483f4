#pragma once

#include "TestSandbox.h"

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>
#include <utility>

namespace linvera::platform {
class RegistryStore;
}

namespace linvera::test {

class TempRegistry;

/// A home of its own for one test program and every program it starts: a new temporary folder
/// holding the folders named by HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME,
/// XDG_RUNTIME_DIR and TMPDIR, set in this process's environment for the object's lifetime (the
/// earlier values come back afterwards), and a registry store of its own inside it. Made before
/// the application object (see LINVERA_APP_TEST_MAIN), nothing the test or its programs do
/// reaches the user's files, settings or caches, however the test is started.
class TestHome
{
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    bool isValid() const { return m_valid; }
    QString root() const { return m_dir.path(); }
    QString home() const;
    QString configHome() const;
    QString dataHome() const;
    QString cacheHome() const;
    QString runtimeFolder() const;
    QString tempFolder() const;
    /// The process-wide registry store while this home lives.
    platform::RegistryStore& store();

    /// The variables a home sets, with their values for a home at `root`.
    static QList<std::pair<QByteArray, QString>> variables(const QString& root);

private:
    // Inside the test's sandbox whatever TMPDIR says at the time.
    QTemporaryDir m_dir{sandboxRoot() + QStringLiteral("/home-XXXXXX")};
    QList<std::pair<QByteArray, std::optional<QByteArray>>> m_previous;
    std::unique_ptr<TempRegistry> m_registry;
    bool m_valid = false;
};

} // namespace linvera::test

/// QTEST_MAIN with a TestHome made before the application object, which reads some of the folders.
#define LINVERA_APP_TEST_MAIN(TestObject)                                                                    \
    QTEST_MAIN_WRAPPER(TestObject, const linvera::test::TestHome linveraTestHome;                            \
                       if (!linveraTestHome.isValid()) return 1; QTEST_MAIN_SETUP())

/// QTEST_GUILESS_MAIN with a TestHome made before the application object.
#define LINVERA_APP_TEST_GUILESS_MAIN(TestObject)                                                            \
    QTEST_MAIN_WRAPPER(TestObject, const linvera::test::TestHome linveraTestHome;                            \
                       if (!linveraTestHome.isValid()) return 1; QTEST_QAPP_SETUP(QCoreApplication))
