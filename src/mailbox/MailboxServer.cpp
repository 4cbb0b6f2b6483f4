#include "mailbox/MailboxServer.h"

#include "MailboxAdaptor.h"
#include "mailbox/ClientTracker.h"
#include "mailbox/MailboxNames.h"
#include "mailbox/MailboxService.h"

#include <QDBusConnectionInterface>

using namespace Qt::StringLiterals;

namespace linvera {

MailboxServer::MailboxServer(const QDBusConnection& connection, Options options, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
    , m_options(options)
{}

MailboxServer::~MailboxServer()
{
    releaseName();
}

MailboxServer::StartResult MailboxServer::start()
{
    if (!m_connection.isConnected()) {
        m_error = u"cannot reach the session bus: "_s + m_connection.lastError().message();
        return StartResult::Failed;
    }

    m_service = new MailboxService(this);
    new MailboxAdaptor(m_service); // owned by the service, exports its interface
    // The object must be there before the name is: a client's first call may follow at once.
    if (!m_connection.registerObject(MailboxNames::objectPath(), m_service,
                                     QDBusConnection::ExportAdaptors)) {
        m_error = u"cannot export the mailbox object: "_s + m_connection.lastError().message();
        return StartResult::Failed;
    }

    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        m_connection.interface()->registerService(MailboxNames::service(),
                                                  QDBusConnectionInterface::DontQueueService,
                                                  QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        m_error = u"cannot own the name "_s + MailboxNames::service() + u": "_s + reply.error().message();
        return StartResult::Failed;
    }
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        m_connection.unregisterObject(MailboxNames::objectPath());
        return StartResult::NameTaken;
    }
    m_ownsName = true;

    m_tracker = new ClientTracker(m_connection, m_options.linger, m_options.firstClientWait, this);
    connect(m_service, &MailboxService::calledBy, m_tracker, &ClientTracker::noteCaller);
    connect(m_tracker, &ClientTracker::noClientsLeft, this, [this] {
        releaseName();
        Q_EMIT finished();
    });

    // Nothing tells a Qt program that its bus went away; without this check a server whose
    // session ended would stay forever.
    m_busCheck.setInterval(std::chrono::seconds(1));
    connect(&m_busCheck, &QTimer::timeout, this, &MailboxServer::checkBus);
    m_busCheck.start();
    return StartResult::Serving;
}

void MailboxServer::releaseName()
{
    if (m_ownsName) {
        m_ownsName = false;
        if (m_connection.isConnected()) {
            m_connection.interface()->unregisterService(MailboxNames::service());
        }
    }
}

void MailboxServer::checkBus()
{
    if (!m_connection.isConnected()) {
        m_busCheck.stop();
        m_ownsName = false;
        Q_EMIT finished();
    }
}

} // namespace linvera
