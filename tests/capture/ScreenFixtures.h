#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <xcb/xcb.h>

/// The colour every test window shows at a screen pixel: a pattern that differs from pixel to
/// pixel, so a picture shifted by one pixel never matches. seed tells windows apart.
QRgb PatternAt(int x, int y, int seed = 0);

/// A frameless window that stays exactly where it is put (no window manager moves it) and paints
/// PatternAt over its whole area in screen coordinates.
class PatternWindow : public QWidget
{
public:
    PatternWindow(const QRect& geometry, int seed, const QString& title = QString());
    int seed() const { return m_seed; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_seed;
};

/// The first place where the picture differs from the pattern of the screen area starting at
/// origin, as "x,y: got … expected …"; empty when every pixel matches.
QString FirstPatternMismatch(const QImage& picture, QPoint origin, int seed = 0);

/// Drives the real pointer and keyboard of the X server through the XTest extension, as a user would.
class XTestInput
{
public:
    XTestInput();
    ~XTestInput();
    XTestInput(const XTestInput&) = delete;
    XTestInput& operator=(const XTestInput&) = delete;

    bool isOpen() const { return m_c != nullptr; }
    void moveTo(QPoint screen);
    void press(int button = 1);
    void release(int button = 1);
    /// Press and release of a key by its X key code.
    void key(int keycode);

private:
    void fake(std::uint8_t type, std::uint8_t detail, QPoint at = QPoint());
    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = 0;
};

/// The pixels of the root window in a rectangle of device pixels, read straight from the X server
/// (24-bit TrueColor displays such as Xvfb's); null on failure.
QImage RootPixels(const QRect& area);

/// True when a window manager announces itself on the root window (_NET_SUPPORTING_WM_CHECK).
bool WindowManagerRunning();

/// The key code of Escape in the X server's default keymap.
inline constexpr int EscapeKeycode = 9;
