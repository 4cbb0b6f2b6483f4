#pragma once

#include <QProcess>
#include <QString>

namespace linvera::test {

/// A dbus-daemon of our own, started from a session configuration file, for tests that must
/// control which service files the bus sees. Stopped when destroyed.
class PrivateBus
{
public:
    PrivateBus() = default;
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    /// Starts the daemon and waits (bounded) for its address. False with errorText() on failure.
    bool start(const QString& configFile);
    void stop();
    QString address() const { return m_address; }
    QString errorText() const { return m_error; }

private:
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};

} // namespace linvera::test
