#include "PortalImitation.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace linvera::test {

namespace {

const QString Service = u"org.freedesktop.portal.Desktop"_s;
const QString Path = u"/org/freedesktop/portal/desktop"_s;

} // namespace

PortalImitation::PortalImitation(const QDBusConnection& bus, const QString& folder)
    : m_bus(bus)
    , m_folder(folder)
{}

PortalImitation::~PortalImitation()
{
    if (m_published) {
        m_bus.unregisterObject(Path);
        m_bus.unregisterService(Service);
    }
}

bool PortalImitation::publish(bool screenshot)
{
    QObject* object = screenshot ? static_cast<QObject*>(this) : &m_other;
    if (!m_bus.registerObject(Path, object, QDBusConnection::ExportAllSlots))
        return false;
    m_published = true;
    return m_bus.registerService(Service);
}

QString PortalImitation::pictureFile() const
{
    return m_folder + u"/out.png"_s;
}

QString PortalImitation::linkTarget() const
{
    return m_folder + u"/elsewhere.png"_s;
}

QDBusObjectPath PortalImitation::Screenshot(const QString&, const QVariantMap& options)
{
    ++m_requests;
    m_lastOptions = options;
    if (m_behaviour == Behaviour::Deny) {
        sendErrorReply(QDBusError::AccessDenied, u"not allowed"_s);
        return {};
    }
    const QString caller = message().service();
    QString sender = caller.mid(1);
    sender.replace(u'.', u'_');
    const QString handle =
        Path + u"/request/"_s + sender + u'/' + options.value(u"handle_token"_s).toString();
    const QString uri = QUrl::fromLocalFile(pictureFile()).toString();
    QFile::remove(pictureFile());
    Behaviour behaviour = m_behaviour;
    if (behaviour == Behaviour::NoPicker)
        behaviour = options.value(u"interactive"_s).toBool() ? Behaviour::Fail : Behaviour::Picture;
    // As xdg-desktop-portal-wlr, which keeps the request objects it made: a token used before fails.
    const QString token = options.value(u"handle_token"_s).toString();
    if (m_tokens.contains(token))
        behaviour = Behaviour::Fail;
    m_tokens.insert(token);
    switch (behaviour) {
    case Behaviour::Picture:
        m_picture.save(pictureFile(), "PNG");
        respond(caller, handle, 0, uri);
        break;
    case Behaviour::Cancel:
        respond(caller, handle, 1, {});
        break;
    case Behaviour::Fail:
        respond(caller, handle, 2, {});
        break;
    case Behaviour::MissingFile:
        respond(caller, handle, 0, uri);
        break;
    case Behaviour::PlantedLink:
        m_picture.save(linkTarget(), "PNG");
        QFile::link(linkTarget(), pictureFile());
        respond(caller, handle, 0, uri);
        break;
    case Behaviour::Never:
    case Behaviour::Deny:
    case Behaviour::NoPicker:
        break;
    }
    return QDBusObjectPath(handle);
}

void PortalImitation::respond(const QString& caller, const QString& handle, uint code, const QString& uri)
{
    // After the call's reply, as a real portal answers once the desktop has taken the picture.
    QTimer::singleShot(20, this, [this, caller, handle, code, uri] {
        QDBusMessage signal = QDBusMessage::createTargetedSignal(
            caller, handle, u"org.freedesktop.portal.Request"_s, u"Response"_s);
        QVariantMap results;
        if (!uri.isEmpty())
            results.insert(u"uri"_s, uri);
        signal << code << results;
        m_bus.send(signal);
    });
}

} // namespace linvera::test
