#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>

namespace linvera {

/// Decides how long the mailbox server lives. A client is a bus connection (by its unique
/// name) that has called the mailbox; it counts until it leaves the bus. The server should end
/// a short while after the last client has gone, or when no client arrives soon after start;
/// never before the linger or first-client wait is over.
class ClientTracker : public QObject
{
    Q_OBJECT

public:
    ClientTracker(const QDBusConnection& connection, std::chrono::milliseconds linger,
                  std::chrono::milliseconds firstClientWait, QObject* parent = nullptr);

    /// Counts the caller as a client from now until its connection leaves the bus.
    void noteCaller(const QString& uniqueName);
    qsizetype clientCount() const { return m_clients.size(); }

Q_SIGNALS:
    /// No client for the linger time (or none arrived in the first-client wait).
    void noClientsLeft();

private:
    void forget(const QString& uniqueName);

    QDBusConnection m_connection;
    QDBusServiceWatcher m_watcher;
    QSet<QString> m_clients;
    QTimer m_idleTimer;
    std::chrono::milliseconds m_linger;
};

} // namespace linvera
