#pragma once

#include "mailbox/MailboxReply.h"

#include <QDBusConnection>
#include <QString>

#include <chrono>
#include <memory>

class MailboxProxy;

namespace linvera {

/// The main program's handle on the command mailbox (its "mailbox object"). Every call goes to
/// the server's well-known bus name, so a server that is restarted is reached again without a
/// new handle. Calls block for at most the time-out and report failure as a value.
class MailboxClient
{
public:
    static constexpr std::chrono::milliseconds DefaultTimeout{2000};
    static constexpr std::chrono::milliseconds DefaultRetryWait{250};

    explicit MailboxClient(const QDBusConnection& connection = QDBusConnection::sessionBus(),
                           std::chrono::milliseconds timeout = DefaultTimeout);
    ~MailboxClient();
    MailboxClient(const MailboxClient&) = delete;
    MailboxClient& operator=(const MailboxClient&) = delete;

    /// Whether this process is connected to the bus at all (without it no server can be reached).
    bool hasBus() const { return m_connection.isConnected(); }
    std::chrono::milliseconds timeout() const;
    /// True when the last connect attempt or call reached the server.
    bool isConnected() const { return m_connected; }
    /// The error of the last failed connect attempt or call; empty after a success.
    QString lastError() const { return m_lastError; }

    /// One attempt to reach the server (a call that changes nothing). The bus starts the server
    /// for it when a service file for the name is installed.
    bool tryConnect();
    /// Reaches the server; when that fails and no server owns the name, starts helperProgram
    /// once, waits until it owns the name (at most retryWait) and tries once more.
    bool connectMailbox(const QString& helperProgram = defaultHelperProgram(),
                        std::chrono::milliseconds retryWait = DefaultRetryWait);
    /// Starts the server program detached, with no arguments and without a shell.
    bool startHelper(const QString& helperProgram);
    /// Whether some process owns the server's bus name now (asks the bus, not the server).
    bool nameHasOwner() const;
    /// The server program beside the running executable.
    static QString defaultHelperProgram();

    MailboxReply<void> setCmdData(const QString& txtSrc);
    MailboxReply<QString> getCmdData();
    MailboxReply<void> setCmdDirty();
    MailboxReply<void> clearCmdDirty();
    /// -1 when a command is waiting, 0 otherwise.
    MailboxReply<int> checkCmdDirty();

private:
    template <typename T> void record(const MailboxReply<T>& reply);

    QDBusConnection m_connection;
    std::unique_ptr<MailboxProxy> m_proxy;
    bool m_connected = false;
    QString m_lastError;
};

} // namespace linvera
