#include "automation/LinveraAutomation.h"

#include "LinveraAdaptor.h"
#include "automation/AutomationTarget.h"

#include <QDBusConnection>
#include <QTimer>

#include <limits>

using namespace Qt::StringLiterals;

namespace linvera {

LinveraAutomation::LinveraAutomation(std::function<AutomationTarget&()> target, QObject* parent)
    : QObject(parent)
    , m_target(std::move(target))
{
    new LinveraAdaptor(this);
}

bool LinveraAutomation::registerObject()
{
    return QDBusConnection::sessionBus().registerObject(QString::fromLatin1(kObjectPath), this);
}

void LinveraAutomation::Quit()
{
    // The answer goes out first, so the caller is not left with a broken call.
    if (calledFromDBus()) {
        setDelayedReply(true);
        connection().send(message().createReply());
    }
    QTimer::singleShot(50, this, [this] { m_target().quitNow(); });
}

void LinveraAutomation::setMainWindowState(int Status)
{
    if (Status < std::numeric_limits<qint16>::min() || Status > std::numeric_limits<qint16>::max()) {
        sendErrorReply(QString::fromLatin1(kOverflowError), u"オーバーフローしました。"_s);
        return;
    }
    if (Status < 0 || Status > 2) {
        sendErrorReply(QString::fromLatin1(kInvalidValueError), u"プロパティの値が不正です。"_s);
        return;
    }
    m_target().setMainWindowState(Status);
}

int LinveraAutomation::getMainWindowState()
{
    return m_target().mainWindowState();
}

QDBusVariant LinveraAutomation::StartConv(const QString& BeforeUrl)
{
    if (!calledFromDBus()) {
        m_target().startConv(BeforeUrl);
        return QDBusVariant(QString());
    }
    // The answer goes out once the conversion has been answered (its expansion or shortening), or a
    // later one replaced it.
    setDelayedReply(true);
    m_target().startConv(BeforeUrl, [bus = connection(), reply = message().createReply(QVariant::fromValue(
                                                             QDBusVariant(QString())))] { bus.send(reply); });
    return QDBusVariant(QString());
}

QDBusVariant LinveraAutomation::GetAfterUrl()
{
    return QDBusVariant(m_target().afterUrl());
}

QDBusVariant LinveraAutomation::GetAfterInfo()
{
    return QDBusVariant(m_target().afterInfo());
}

QDBusVariant LinveraAutomation::GetBeforeInfo()
{
    return QDBusVariant(m_target().beforeInfo());
}

QDBusVariant LinveraAutomation::isProcessing()
{
    return QDBusVariant(m_target().isProcessing());
}

} // namespace linvera
