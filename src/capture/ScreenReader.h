#pragma once

#include "platform/ScreenshotPortal.h"
#include "platform/WindowSystem.h"

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <QThread>

#include <functional>
#include <memory>

namespace linvera::capture {

/// A picture of the whole virtual desktop, its device pixel ratio set, and where its top-left
/// corner lies in device pixels.
struct DesktopPicture
{
    QImage image;
    QPoint origin;
    /// The picture covers the whole virtual desktop (false: a window or area the desktop's own
    /// dialog let the user choose).
    bool wholeScreen = true;
};

/// How the capture commands read the screen: straight from the X server, or through the desktop's
/// screenshot portal on Wayland. read() answers through answered(), once, after it returns or
/// within it.
class ScreenReader : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Read, Cancelled, NoPortal, Refused, NoAnswer, Unreadable, Failed };

    using QObject::QObject;

    /// False where the screen cannot be read at all (no display).
    virtual bool available() const = 0;
    /// True when the desktop lets the user choose the window itself (the portal), in place of the
    /// crosshair dialog over the window list.
    virtual bool choosesWindows() const = 0;
    /// True while a read is on its way.
    virtual bool busy() const = 0;
    /// Reads the whole screen; interactive lets the desktop ask the user first.
    virtual void read(bool interactive) = 0;

Q_SIGNALS:
    void answered(linvera::capture::ScreenReader::Outcome outcome,
                  const linvera::capture::DesktopPicture& picture);
};

/// Reads the root window through Qt, on the spot.
class GrabScreenReader : public ScreenReader
{
    Q_OBJECT

public:
    GrabScreenReader(platform::WindowSystem& windows, QObject* parent = nullptr);

    void setGrabber(std::function<DesktopPicture()> grabber) { m_grab = std::move(grabber); }
    bool available() const override;
    bool choosesWindows() const override { return false; }
    bool busy() const override { return false; }
    void read(bool interactive) override;

    /// Grabs the whole virtual desktop through Qt.
    static DesktopPicture GrabDesktop();

private:
    platform::WindowSystem& m_windows;
    std::function<DesktopPicture()> m_grab;
};

/// Asks the desktop's screenshot portal, then reads and decodes its file away from the window's
/// thread.
class PortalScreenReader : public ScreenReader
{
    Q_OBJECT

public:
    /// The largest picture file read: far beyond a PNG of several 8K screens.
    static constexpr qint64 MaxFileBytes = qint64(512) * 1024 * 1024;

    explicit PortalScreenReader(const QDBusConnection& bus, QObject* parent = nullptr);
    ~PortalScreenReader() override;

    platform::ScreenshotPortal& portal() { return m_portal; }
    /// Folders whose portal files are removed after reading (the shared temporary folders).
    void setSharedFolders(const QStringList& folders) { m_shared = folders; }
    bool available() const override { return true; }
    bool choosesWindows() const override { return true; }
    bool busy() const override { return m_portal.busy() || m_loader != nullptr; }
    void read(bool interactive) override;

    /// The picture's place on the virtual desktop: its ratio against the desktop's logical size
    /// (the portal's picture is in device pixels), or, when it is not the whole desktop, as is.
    static DesktopPicture PlaceOnDesktop(const QImage& image, const QRect& logicalDesktop);

private:
    void load(const QString& uri);

    platform::ScreenshotPortal m_portal;
    QStringList m_shared;
    // An interactive request a desktop refused is asked once more without its dialog.
    bool m_askAgain = false;
    QPointer<QThread> m_loader;
};

/// The reader for the session: the portal on Wayland (XWayland included), else the X server.
std::unique_ptr<ScreenReader> CreateScreenReader(platform::DisplaySession session,
                                                 platform::WindowSystem& windows);

} // namespace linvera::capture
