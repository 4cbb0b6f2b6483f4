#include "mailbox/MailboxPoller.h"

#include "mailbox/CommandLine.h"
#include "mailbox/MailboxClient.h"

using namespace Qt::StringLiterals;

namespace linvera {

MailboxPoller::MailboxPoller(MailboxClient& client, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_helperProgram(MailboxClient::defaultHelperProgram())
{
    m_timer.setObjectName(u"TimerHelper"_s);
    connect(&m_timer, &QTimer::timeout, this, &MailboxPoller::tick);
}

void MailboxPoller::start()
{
    m_timer.setInterval(FirstInterval);
    m_timer.start();
}

QString MailboxPoller::beforeUrlFor(const QStringList& argList)
{
    const qsizetype count = argList.size() - 1;
    return count == 1 || count == 2 ? argList.at(1) : QString();
}

void MailboxPoller::tick()
{
    m_timer.setInterval(SteadyInterval);
    if (!m_pausedUntil.hasExpired()) {
        return;
    }

    QElapsedTimer took;
    took.start();
    const auto dirty = m_client.checkCmdDirty();
    if (!dirty.ok) {
        handleFailedLook(dirty.error, std::chrono::milliseconds(took.elapsed()));
        return;
    }
    if (dirty.value == 0) {
        return;
    }
    if (!m_client.clearCmdDirty().ok) {
        return; // the flag stays raised on a live server; the next look takes the command
    }
    const auto text = m_client.getCmdData();
    if (!text.ok) {
        return; // the server went away with the command
    }
    m_argList = SplitArgs(text.value, 10);
    Q_EMIT commandArrived(beforeUrlFor(m_argList));
}

void MailboxPoller::handleFailedLook(const QString& error, std::chrono::milliseconds took)
{
    Q_EMIT mailboxUnreachable(error);
    if (!m_client.hasBus()) {
        return; // a server could not reach the bus either
    }
    if (m_client.nameHasOwner()) {
        // The server is there but did not answer: busy or stuck. A second one could not take
        // the name, and calling it at every tick would block the window again and again.
        if (took * 2 >= m_client.timeout()) {
            m_pausedUntil.setRemainingTime(m_stuckPause);
        }
        return;
    }
    // Gone: start it again. Throttled, so that a program that cannot run is not spawned at
    // every look.
    if (m_sinceRestart.isValid() && !m_sinceRestart.hasExpired(m_restartInterval.count())) {
        return;
    }
    m_sinceRestart.start();
    m_client.startHelper(m_helperProgram);
}

} // namespace linvera
