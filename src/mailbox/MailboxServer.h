#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

namespace linvera {

class ClientTracker;
class MailboxService;

/// The mailbox server of H-LinveraHelper: exports the mailbox object, then owns its bus name,
/// and reports when it should end (no clients left, or the bus connection lost).
class MailboxServer : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        /// How long the server stays after its last client has left the bus.
        std::chrono::milliseconds linger{2000};
        /// How long the server waits for its first client after start.
        std::chrono::milliseconds firstClientWait{10000};
    };

    enum class StartResult {
        Serving,   ///< the object is exported and the name is ours
        NameTaken, ///< another server owns the name; this one must not serve
        Failed,    ///< no bus, or the bus refused; see errorText()
    };

    MailboxServer(const QDBusConnection& connection, Options options, QObject* parent = nullptr);
    ~MailboxServer() override;

    StartResult start();
    QString errorText() const { return m_error; }
    /// Gives the name back so that a new client starts a fresh server instead of reaching this one.
    void releaseName();

Q_SIGNALS:
    void finished();

private:
    void checkBus();

    QDBusConnection m_connection;
    Options m_options;
    MailboxService* m_service = nullptr; // child of this
    ClientTracker* m_tracker = nullptr;  // child of this
    QTimer m_busCheck;
    QString m_error;
    bool m_ownsName = false;
};

} // namespace linvera
