#include "mailbox/MailboxService.h"

#include <QDBusMessage>

namespace linvera {

MailboxService::MailboxService(QObject* parent)
    : QObject(parent)
{}

void MailboxService::setCmdData(const QString& txtSrc)
{
    noteCaller();
    m_text = txtSrc;
}

QString MailboxService::getCmdData()
{
    noteCaller();
    return m_text;
}

void MailboxService::setCmdDirty()
{
    noteCaller();
    m_dirty = -1;
}

void MailboxService::clearCmdDirty()
{
    noteCaller();
    m_dirty = 0;
}

int MailboxService::checkCmdDirty()
{
    noteCaller();
    return m_dirty;
}

void MailboxService::noteCaller()
{
    // Direct calls (tests, in-process use) have no bus context and hold nothing.
    if (calledFromDBus()) {
        Q_EMIT calledBy(message().service());
    }
}

} // namespace linvera
