#include "mailbox/ClientTracker.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

using namespace Qt::StringLiterals;

namespace linvera {

ClientTracker::ClientTracker(const QDBusConnection& connection, std::chrono::milliseconds linger,
                             std::chrono::milliseconds firstClientWait, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
    , m_linger(linger)
{
    m_watcher.setConnection(m_connection);
    m_watcher.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &ClientTracker::forget);

    m_idleTimer.setSingleShot(true);
    // Both waits are promises to clients that are about to call: a coarse timer may end them up
    // to 5% early (a whole half second of the 10 s first-client wait), a precise one never does.
    m_idleTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_idleTimer, &QTimer::timeout, this, &ClientTracker::noClientsLeft);
    m_idleTimer.start(firstClientWait);
}

void ClientTracker::noteCaller(const QString& uniqueName)
{
    // Only unique names can be watched for their departure; a caller always has one.
    if (!uniqueName.startsWith(u':') || m_clients.contains(uniqueName)) {
        return;
    }
    m_clients.insert(uniqueName);
    m_idleTimer.stop();
    m_watcher.addWatchedService(uniqueName);

    // A caller that sent its last call and left at once may be gone before the watch was in
    // place; ask the bus after adding the watch, so one of the two sees it leave.
    const QDBusPendingCall call = m_connection.interface()->asyncCall(u"NameHasOwner"_s, uniqueName);
    auto* pending = new QDBusPendingCallWatcher(call, this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, uniqueName](QDBusPendingCallWatcher* w) {
                const QDBusPendingReply<bool> reply = *w;
                if (reply.isValid() && !reply.value()) {
                    forget(uniqueName);
                }
                w->deleteLater();
            });
}

void ClientTracker::forget(const QString& uniqueName)
{
    if (!m_clients.remove(uniqueName)) {
        return;
    }
    m_watcher.removeWatchedService(uniqueName);
    if (m_clients.isEmpty()) {
        m_idleTimer.start(m_linger);
    }
}

} // namespace linvera
