#pragma once

#include <QPoint>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>

#include <cstdint>
#include <memory>

namespace linvera::platform {

/// The few window-system questions the window capture asks: which top-level window lies under a
/// screen point, where it is, what it is called, and a visible frame around it. Coordinates are
/// device pixels of the whole virtual desktop (the root window on X11).
class WindowSystem
{
public:
    using WindowId = std::uint32_t;

    virtual ~WindowSystem() = default;

    /// False when there is no window system to ask (a Wayland-only session).
    virtual bool available() const = 0;
    /// The top-level window at the point, as the window manager placed it (its frame window when
    /// it has one); 0 when only the desktop is there.
    virtual WindowId topLevelAt(QPoint screenPoint) = 0;
    /// The window's outer rectangle, frame and border included; empty when it has gone.
    virtual QRect outerRect(WindowId window) = 0;
    /// The title of the application window inside the top-level window (_NET_WM_NAME, else
    /// WM_NAME); empty when it has none.
    virtual QString title(WindowId window) = 0;
    /// Shows a frame along the inside of the window's outer rectangle, replacing any frame shown
    /// before. The frame lives in windows of its own, so the framed window's pixels are never drawn on.
    virtual void showFrame(WindowId window) = 0;
    /// Removes the frame, if one is shown.
    virtual void hideFrame() = 0;
    /// Sends the pending requests and waits until the server has handled them.
    virtual void sync() = 0;
};

/// Answers nothing: no window is ever found. Used where there is no X11 display.
class NullWindowSystem : public WindowSystem
{
public:
    bool available() const override { return false; }
    WindowId topLevelAt(QPoint) override { return 0; }
    QRect outerRect(WindowId) override { return {}; }
    QString title(WindowId) override { return {}; }
    void showFrame(WindowId) override {}
    void hideFrame() override {}
    void sync() override {}
};

/// How the session shows windows, and so how the screen can be read.
enum class DisplaySession {
    X11,     ///< an X server is the display: the root window can be read
    Wayland, ///< a Wayland compositor, with or without XWayland: only its screenshot portal can
    None,    ///< no display at all
};

/// Wayland when WAYLAND_DISPLAY is set or XDG_SESSION_TYPE is "wayland", even when DISPLAY names
/// the XWayland server of that session; X11 when only DISPLAY is set.
DisplaySession DetectDisplaySession(const QProcessEnvironment& environment);

/// The X11 implementation in an X11 session (DISPLAY set and reachable, and built with X11), else
/// the null one: under XWayland the X server knows only the X windows, not what the user sees.
std::unique_ptr<WindowSystem> CreateWindowSystem();

} // namespace linvera::platform
