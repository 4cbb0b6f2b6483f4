#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace linvera::test {

/// A dbus-daemon of the tests' one bus configuration (tests/support/dbus/session.conf.in) with a
/// service folder of the test's choosing as the only one it activates from: neither $XDG_DATA_DIRS
/// (an installed package) nor the user's folders are searched. Stopped when destroyed.
class TestBus
{
public:
    TestBus();
    ~TestBus();
    TestBus(const TestBus&) = delete;
    TestBus& operator=(const TestBus&) = delete;

    /// The build tree's own service files (the mailbox server's, naming the built program).
    static QString buildServiceFolder();
    /// The configuration text for a bus that listens on `listen` and activates from `serviceFolder`.
    static QByteArray configText(const QString& serviceFolder, const QString& listen);

    /// Starts the daemon and waits (bounded) until it listens. The programs it starts get
    /// `environment` with this bus as their session bus. False with errorText() on failure.
    bool start(const QString& serviceFolder,
               QProcessEnvironment environment = QProcessEnvironment::systemEnvironment());
    void stop();
    /// The address to connect to; known before start().
    QString address() const { return m_address; }
    QString errorText() const { return m_error; }

private:
    bool fail(const QString& error);

    // The socket's path must stay short: the sandbox's own temporary folder lies deep in the build tree.
    QTemporaryDir m_dir{QStringLiteral("/tmp/linvera-bus-XXXXXX")};
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};

} // namespace linvera::test
