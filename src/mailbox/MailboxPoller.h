#pragma once

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>

namespace linvera {

class MailboxClient;

/// Polls the command mailbox from the timer `TimerHelper`: the first look about 30 ms after
/// start(), then every 200 ms, for as long as the poller lives. A command found replaces the
/// argument list and is handed on through commandArrived(); the window puts the text into its
/// input box and starts a conversion.
///
/// A look that finds the server gone starts the server program again (at most once per
/// restart interval) and the following looks reach the new server through the same name.
/// A server that owns the name but does not answer costs one call time-out, after which the
/// looks pause for a while instead of blocking the window at every tick.
class MailboxPoller : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds FirstInterval{30};
    static constexpr std::chrono::milliseconds SteadyInterval{200};
    static constexpr std::chrono::milliseconds DefaultRestartInterval{2000};
    static constexpr std::chrono::milliseconds DefaultStuckPause{5000};

    /// The client must outlive the poller.
    explicit MailboxPoller(MailboxClient& client, QObject* parent = nullptr);

    void setHelperProgram(const QString& program) { m_helperProgram = program; }
    void setRestartInterval(std::chrono::milliseconds interval) { m_restartInterval = interval; }
    void setStuckPause(std::chrono::milliseconds pause) { m_stuckPause = pause; }

    /// Arms the timer for the first look.
    void start();
    const QTimer& timer() const { return m_timer; }
    /// The arguments of the last command found (element 0 empty, as SplitArgs gives them).
    const QStringList& argList() const { return m_argList; }

    /// The input text for a command's argument list: argument 1 when there are one or two
    /// arguments (a URL, maybe with a page title), empty text otherwise.
    static QString beforeUrlFor(const QStringList& argList);

public Q_SLOTS:
    /// One look at the mailbox.
    void tick();

Q_SIGNALS:
    /// A command was taken from the mailbox; emitted once per command, also for an empty one.
    void commandArrived(const QString& beforeUrl);
    /// A look could not reach the mailbox server (it is being started again when it is gone).
    void mailboxUnreachable(const QString& error);

private:
    void handleFailedLook(const QString& error, std::chrono::milliseconds took);

    MailboxClient& m_client;
    QTimer m_timer;
    QStringList m_argList{QString()};
    QString m_helperProgram;
    std::chrono::milliseconds m_restartInterval{DefaultRestartInterval};
    std::chrono::milliseconds m_stuckPause{DefaultStuckPause};
    QElapsedTimer m_sinceRestart;
    QDeadlineTimer m_pausedUntil;
};

} // namespace linvera
