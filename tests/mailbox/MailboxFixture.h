#pragma once

#include <QDBusConnection>
#include <QIODevice>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>

namespace linvera::test {

/// What one run of the mailbox_client program gave.
struct ClientRun
{
    bool finished = false; ///< ended on its own within the time-out
    int exitCode = -1;
    QStringList results; ///< the answers of its "get" and "check" operations, in order
    QString errorOutput;
};

/// Shared steps of the mailbox tests: the programs under test, separate client processes and
/// questions to the bus that do not make the asker a client of the server.
class MailboxFixture
{
public:
    static QString helperProgram();
    static QString clientProgram();

    /// Reads the results printed so far (one JSON line each) by a running or ended client.
    static QStringList readResults(QIODevice& output);

    /// Runs mailbox_client with the operations (see its header) and waits for it, bounded.
    static ClientRun
    runClient(const QStringList& operations,
              const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
              std::chrono::milliseconds timeout = std::chrono::seconds(20));

    /// Process id of the name's owner, or 0 when nobody owns it.
    static qint64 ownerPid(const QDBusConnection& bus);
    static bool nameHasOwner(const QDBusConnection& bus);
    /// Waits, bounded, until the name has (or has no) owner. Returns whether it happened.
    static bool waitForOwner(const QDBusConnection& bus, bool owned,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

    /// The program file a process runs, from /proc.
    static QString executableOf(qint64 pid);
    /// True when the process has ended (gone, or a zombie nobody reaped yet).
    static bool processEnded(qint64 pid);
    /// Ends a process this test started (directly or through the bus) by its id, bounded.
    static bool killAndWait(qint64 pid, std::chrono::milliseconds timeout = std::chrono::seconds(10));
};

} // namespace linvera::test
