#include "capture/ScreenReader.h"

#include <QBuffer>
#include <QDir>
#include <QGuiApplication>
#include <QImageReader>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <utility>

namespace linvera::capture {

GrabScreenReader::GrabScreenReader(platform::WindowSystem& windows, QObject* parent)
    : ScreenReader(parent)
    , m_windows(windows)
    , m_grab(&GrabScreenReader::GrabDesktop)
{}

bool GrabScreenReader::available() const
{
    return m_windows.available() && QGuiApplication::platformName() == QStringLiteral("xcb");
}

void GrabScreenReader::read(bool)
{
    const DesktopPicture picture = m_grab();
    Q_EMIT answered(picture.image.isNull() ? Outcome::Failed : Outcome::Read, picture);
}

DesktopPicture GrabScreenReader::GrabDesktop()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return {};
    const QRect desktop = screen->virtualGeometry();
    const QRect own = screen->geometry();
    // Window 0 is the root window; the rectangle is given relative to this screen.
    const QPixmap pixmap = screen->grabWindow(0, desktop.x() - own.x(), desktop.y() - own.y(),
                                              desktop.width(), desktop.height());
    DesktopPicture picture;
    picture.image = pixmap.toImage();
    const double ratio = screen->devicePixelRatio();
    picture.image.setDevicePixelRatio(ratio);
    picture.origin = QPoint(qRound(desktop.x() * ratio), qRound(desktop.y() * ratio));
    return picture;
}

PortalScreenReader::PortalScreenReader(const QDBusConnection& bus, QObject* parent)
    : ScreenReader(parent)
    , m_portal(bus)
    , m_shared{QDir::tempPath(), QStringLiteral("/tmp"), QStringLiteral("/var/tmp")}
{
    connect(&m_portal, &platform::ScreenshotPortal::answered, this, [this](const platform::PortalAnswer& a) {
        using Status = platform::PortalAnswer::Status;
        if (a.status != Status::Refused)
            m_askAgain = false;
        switch (a.status) {
        case Status::Picture:
            load(a.uri);
            return;
        case Status::Cancelled:
            Q_EMIT answered(Outcome::Cancelled, {});
            return;
        case Status::NoPortal:
            qWarning("screenshot portal: %s", qPrintable(a.detail));
            Q_EMIT answered(Outcome::NoPortal, {});
            return;
        case Status::Refused:
            qWarning("screenshot portal: %s", qPrintable(a.detail));
            // wlroots backends have no picker and refuse the interactive request; the portal still
            // guards the plain one by its own permission.
            if (std::exchange(m_askAgain, false)) {
                m_portal.request(false);
                return;
            }
            Q_EMIT answered(Outcome::Refused, {});
            return;
        case Status::NoAnswer:
            qWarning("screenshot portal: %s", qPrintable(a.detail));
            Q_EMIT answered(Outcome::NoAnswer, {});
            return;
        }
    });
}

PortalScreenReader::~PortalScreenReader()
{
    // The loader holds nothing of this object, but must not outlive the program's data.
    if (m_loader) {
        m_loader->wait();
        delete m_loader.data();
    }
}

void PortalScreenReader::read(bool interactive)
{
    if (busy())
        return;
    m_askAgain = interactive;
    m_portal.request(interactive);
}

DesktopPicture PortalScreenReader::PlaceOnDesktop(const QImage& image, const QRect& logicalDesktop)
{
    DesktopPicture picture;
    picture.image = image;
    if (image.isNull() || logicalDesktop.isEmpty()) {
        picture.wholeScreen = false;
        return picture;
    }
    const double ratio = double(image.width()) / logicalDesktop.width();
    picture.wholeScreen = std::abs(image.height() - logicalDesktop.height() * ratio) <= 1.0;
    if (!picture.wholeScreen)
        return picture;
    picture.image.setDevicePixelRatio(ratio);
    picture.origin = QPoint(qRound(logicalDesktop.x() * ratio), qRound(logicalDesktop.y() * ratio));
    return picture;
}

void PortalScreenReader::load(const QString& uri)
{
    // Reading and decoding a screen-sized PNG takes longer than a frame: away from the window's thread.
    auto result = std::make_shared<QImage>();
    auto error = std::make_shared<QString>();
    m_loader = QThread::create([uri, shared = m_shared, result, error] {
        const platform::PortalFile file = platform::ReadPortalFile(uri, MaxFileBytes, shared);
        if (!file.ok) {
            *error = file.error;
            return;
        }
        QBuffer buffer;
        buffer.setData(file.bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        *result = reader.read();
        // A screen has no transparency: the picture takes the form an X11 grab has, which the PNG
        // encoder writes without an alpha channel, faster and smaller.
        if (!result->isNull() && result->format() != QImage::Format_RGB32)
            *result = result->convertToFormat(QImage::Format_RGB32);
        if (result->isNull())
            *error = uri + QStringLiteral(": ") + reader.errorString();
    });
    connect(m_loader, &QThread::finished, this, [this, result, error] {
        m_loader->deleteLater();
        m_loader = nullptr;
        if (result->isNull()) {
            qWarning("screenshot portal: %s", qPrintable(*error));
            Q_EMIT answered(Outcome::Unreadable, {});
            return;
        }
        QScreen* screen = QGuiApplication::primaryScreen();
        Q_EMIT answered(Outcome::Read,
                        PlaceOnDesktop(*result, screen != nullptr ? screen->virtualGeometry() : QRect()));
    });
    m_loader->start();
}

std::unique_ptr<ScreenReader> CreateScreenReader(platform::DisplaySession session,
                                                 platform::WindowSystem& windows)
{
    if (session == platform::DisplaySession::Wayland)
        return std::make_unique<PortalScreenReader>(QDBusConnection::sessionBus());
    return std::make_unique<GrabScreenReader>(windows);
}

} // namespace linvera::capture
