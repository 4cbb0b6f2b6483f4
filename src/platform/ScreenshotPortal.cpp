#include "platform/ScreenshotPortal.h"

#include "platform/FileAppend.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace linvera::platform {

namespace {

const QString PortalService = u"org.freedesktop.portal.Desktop"_s;
const QString PortalPath = u"/org/freedesktop/portal/desktop"_s;
const QString ScreenshotInterface = u"org.freedesktop.portal.Screenshot"_s;
const QString RequestInterface = u"org.freedesktop.portal.Request"_s;

// Errors that mean nobody serves the interface, as opposed to a portal that refused.
bool MeansNoPortal(QDBusError::ErrorType type)
{
    switch (type) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownObject:
    case QDBusError::Disconnected:
        return true;
    default:
        return false;
    }
}

// The request object the portal makes for a token: the caller's unique name without its colon,
// dots made underscores.
QString RequestPath(const QString& uniqueName, const QString& token)
{
    QString sender = uniqueName;
    if (sender.startsWith(u':'))
        sender.remove(0, 1);
    sender.replace(u'.', u'_');
    return PortalPath + u"/request/"_s + sender + u'/' + token;
}

} // namespace

ScreenshotPortal::ScreenshotPortal(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        // Let the portal drop the request; its answer, should it still come, is not listened to.
        if (!m_handle.isEmpty()) {
            m_bus.call(QDBusMessage::createMethodCall(PortalService, m_handle, RequestInterface, u"Close"_s),
                       QDBus::NoBlock);
        }
        finish({PortalAnswer::Status::NoAnswer, {}, u"no answer within %1 ms"_s.arg(m_timeoutMs)});
    });
}

ScreenshotPortal::~ScreenshotPortal()
{
    stopListening();
}

void ScreenshotPortal::request(bool interactive)
{
    if (m_busy)
        return;
    m_busy = true;
    ++m_serial;
    m_timer.start(m_timeoutMs);
    if (!m_bus.isConnected()) {
        // Reported after this call returns, as every other answer is.
        QTimer::singleShot(0, this, [this, serial = m_serial] {
            if (m_busy && serial == m_serial)
                finish({PortalAnswer::Status::NoPortal, {}, u"no session bus"_s});
        });
        return;
    }
    // Unique for the whole process: a backend may keep a request object of an earlier token.
    static std::atomic<quint64> tokens{0};
    const QString token = u"linvera%1_%2"_s.arg(QCoreApplication::applicationPid()).arg(++tokens);
    // Listening before the call: the answer may come before the call's own reply.
    listenOn(RequestPath(m_bus.baseService(), token));

    QDBusMessage call =
        QDBusMessage::createMethodCall(PortalService, PortalPath, ScreenshotInterface, u"Screenshot"_s);
    const QVariantMap options{{u"handle_token"_s, token}, {u"interactive"_s, interactive}};
    call << QString() << options;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, m_timeoutMs + 1000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, serial = m_serial](QDBusPendingCallWatcher*) {
                watcher->deleteLater();
                if (!m_busy || serial != m_serial)
                    return;
                const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
                if (reply.isError()) {
                    const QDBusError error = reply.error();
                    const QString detail = error.name() + u": "_s + error.message();
                    if (error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout)
                        finish({PortalAnswer::Status::NoAnswer, {}, detail});
                    else if (MeansNoPortal(error.type()))
                        finish({PortalAnswer::Status::NoPortal, {}, detail});
                    else
                        finish({PortalAnswer::Status::Refused, {}, detail});
                    return;
                }
                // Portals older than handle_token make up their own path.
                const QString handle = reply.value().path();
                if (handle != m_handle)
                    listenOn(handle);
            });
}

void ScreenshotPortal::listenOn(const QString& handle)
{
    stopListening();
    m_handle = handle;
    m_bus.connect(PortalService, m_handle, RequestInterface, u"Response"_s, this,
                  SLOT(onResponse(uint, QVariantMap)));
}

void ScreenshotPortal::stopListening()
{
    if (m_handle.isEmpty())
        return;
    m_bus.disconnect(PortalService, m_handle, RequestInterface, u"Response"_s, this,
                     SLOT(onResponse(uint, QVariantMap)));
    m_handle.clear();
}

void ScreenshotPortal::onResponse(uint response, const QVariantMap& results)
{
    if (!m_busy)
        return;
    switch (response) {
    case 0: {
        const QString uri = results.value(u"uri"_s).toString();
        if (uri.isEmpty())
            finish({PortalAnswer::Status::Refused, {}, u"answer without a picture"_s});
        else
            finish({PortalAnswer::Status::Picture, uri, {}});
        break;
    }
    case 1:
        finish({PortalAnswer::Status::Cancelled, {}, u"cancelled"_s});
        break;
    default:
        finish({PortalAnswer::Status::Refused, {}, u"response %1"_s.arg(response)});
        break;
    }
}

void ScreenshotPortal::finish(const PortalAnswer& answer)
{
    m_timer.stop();
    stopListening();
    m_busy = false;
    Q_EMIT answered(answer);
}

PortalFile ReadPortalFile(const QString& uri, qint64 maxBytes, const QStringList& tempFolders)
{
    PortalFile result;
    const QUrl url(uri);
    if (!url.isLocalFile()) {
        result.error = u"not a local file: "_s + uri;
        return result;
    }
    const QString path = url.toLocalFile();
    // A link planted at the portal's fixed name is refused, not followed.
    switch (ReadSmallFile(path, maxBytes, result.bytes, LinkAtName::Refuse)) {
    case ReadOutcome::Read:
        break;
    case ReadOutcome::Missing:
        result.error = path + u": no such file"_s;
        return result;
    case ReadOutcome::Unreadable:
        result.error = path + u": not a regular file that can be read"_s;
        return result;
    case ReadOutcome::TooLarge:
        result.error = path + u": larger than %1 bytes"_s.arg(maxBytes);
        return result;
    }
    // Only the portal's own drop in a shared folder goes; a picture it saved among the user's
    // files (as some desktops do) stays where the user expects it.
    const QString folder = QFileInfo(path).absolutePath();
    for (const QString& shared : tempFolders) {
        if (shared.isEmpty() || QDir::cleanPath(shared) != folder)
            continue;
        const QByteArray native = QFile::encodeName(path);
        struct stat info = {};
        if (::lstat(native.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid())
            ::unlink(native.constData());
        break;
    }
    result.ok = true;
    return result;
}

} // namespace linvera::platform
