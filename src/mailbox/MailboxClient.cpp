#include "mailbox/MailboxClient.h"

#include "MailboxProxy.h"
#include "mailbox/MailboxNames.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

using namespace Qt::StringLiterals;

namespace linvera {

namespace {

QString describe(const QDBusError& error)
{
    if (error.message().isEmpty()) {
        return error.name();
    }
    return error.name() + u": "_s + error.message();
}

template <typename T> MailboxReply<T> finish(QDBusPendingReply<T> pending)
{
    pending.waitForFinished(); // bounded by the proxy's time-out
    MailboxReply<T> reply;
    if (pending.isError()) {
        reply.error = describe(pending.error());
    } else {
        reply.ok = true;
        reply.value = pending.value();
    }
    return reply;
}

MailboxReply<void> finish(QDBusPendingReply<> pending)
{
    pending.waitForFinished();
    MailboxReply<void> reply;
    if (pending.isError()) {
        reply.error = describe(pending.error());
    } else {
        reply.ok = true;
    }
    return reply;
}

} // namespace

MailboxClient::MailboxClient(const QDBusConnection& connection, std::chrono::milliseconds timeout)
    : m_connection(connection)
    , m_proxy(std::make_unique<MailboxProxy>(MailboxNames::service(), MailboxNames::objectPath(), connection))
{
    m_proxy->setTimeout(int(timeout.count()));
}

MailboxClient::~MailboxClient() = default;

std::chrono::milliseconds MailboxClient::timeout() const
{
    return std::chrono::milliseconds(m_proxy->timeout());
}

template <typename T> void MailboxClient::record(const MailboxReply<T>& reply)
{
    m_connected = reply.ok;
    m_lastError = reply.error;
}

bool MailboxClient::tryConnect()
{
    // Reading the flag changes nothing and makes this connection one of the server's clients.
    return checkCmdDirty().ok;
}

bool MailboxClient::connectMailbox(const QString& helperProgram, std::chrono::milliseconds retryWait)
{
    if (tryConnect()) {
        return true;
    }
    if (!hasBus()) {
        return false; // a server could not reach the bus either
    }
    if (!nameHasOwner() && !startHelper(helperProgram)) {
        return false;
    }
    // The helper owns its name only once its object is exported; waiting for the name instead
    // of a fixed pause returns as soon as it is ready.
    const QDeadlineTimer deadline(retryWait);
    while (!nameHasOwner() && !deadline.hasExpired()) {
        QThread::msleep(10);
    }
    return tryConnect();
}

bool MailboxClient::startHelper(const QString& helperProgram)
{
    const QFileInfo info(helperProgram);
    if (!info.isFile() || !info.isExecutable()) {
        m_connected = false;
        m_lastError = u"cannot start the mailbox server "_s + helperProgram + u": no such program"_s;
        return false;
    }
    if (!QProcess::startDetached(helperProgram, {}, QDir::rootPath())) {
        m_connected = false;
        m_lastError = u"cannot start the mailbox server "_s + helperProgram;
        return false;
    }
    return true;
}

bool MailboxClient::nameHasOwner() const
{
    if (!m_connection.isConnected()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                                       u"org.freedesktop.DBus"_s, u"NameHasOwner"_s);
    call << MailboxNames::service();
    const QDBusMessage answer = m_connection.call(call, QDBus::Block, m_proxy->timeout());
    return answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty() &&
           answer.arguments().constFirst().toBool();
}

QString MailboxClient::defaultHelperProgram()
{
    return QCoreApplication::applicationDirPath() + u'/' + MailboxNames::helperProgramName();
}

MailboxReply<void> MailboxClient::setCmdData(const QString& txtSrc)
{
    // A D-Bus string cannot hold NUL or broken UTF-16; the text would arrive cut or changed.
    if (txtSrc.contains(QChar(u'\0')) || !txtSrc.isValidUtf16()) {
        MailboxReply<void> refused;
        refused.error = u"the command text holds a NUL character or broken UTF-16 and was not sent"_s;
        return refused;
    }
    auto reply = finish(m_proxy->setCmdData(txtSrc));
    record(reply);
    return reply;
}

MailboxReply<QString> MailboxClient::getCmdData()
{
    auto reply = finish(m_proxy->getCmdData());
    record(reply);
    return reply;
}

MailboxReply<void> MailboxClient::setCmdDirty()
{
    auto reply = finish(m_proxy->setCmdDirty());
    record(reply);
    return reply;
}

MailboxReply<void> MailboxClient::clearCmdDirty()
{
    auto reply = finish(m_proxy->clearCmdDirty());
    record(reply);
    return reply;
}

MailboxReply<int> MailboxClient::checkCmdDirty()
{
    auto reply = finish(m_proxy->checkCmdDirty());
    record(reply);
    return reply;
}

} // namespace linvera
