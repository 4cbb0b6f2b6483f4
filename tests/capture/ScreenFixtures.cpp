#include "ScreenFixtures.h"

#include <QPainter>

#include <xcb/xtest.h>

QRgb PatternAt(int x, int y, int seed)
{
    // Neighbours differ in every channel; seed shifts the whole pattern.
    return qRgb((x * 7 + y * 3 + seed * 50) & 0xff, (x * 13 + y * 5 + seed * 90) & 0xff,
                (x * 3 + y * 11) & 0xff);
}

PatternWindow::PatternWindow(const QRect& geometry, int seed, const QString& title)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint)
    , m_seed(seed)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowTitle(title);
    setGeometry(geometry);
}

void PatternWindow::paintEvent(QPaintEvent*)
{
    QImage image(size(), QImage::Format_RGB32);
    const QPoint origin = mapToGlobal(QPoint(0, 0));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, PatternAt(origin.x() + x, origin.y() + y, m_seed));
    }
    QPainter(this).drawImage(0, 0, image);
}

QString FirstPatternMismatch(const QImage& picture, QPoint origin, int seed)
{
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb got = picture.pixel(x, y) & 0xffffff;
            const QRgb expected = PatternAt(origin.x() + x, origin.y() + y, seed) & 0xffffff;
            if (got != expected) {
                return QStringLiteral("%1,%2: got %3 expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(got, 6, 16, QLatin1Char('0'))
                    .arg(expected, 6, 16, QLatin1Char('0'));
            }
        }
    }
    return {};
}

XTestInput::XTestInput()
{
    int screen = 0;
    m_c = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(m_c) != 0) {
        xcb_disconnect(m_c);
        m_c = nullptr;
        return;
    }
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
}

XTestInput::~XTestInput()
{
    if (m_c != nullptr)
        xcb_disconnect(m_c);
}

void XTestInput::fake(std::uint8_t type, std::uint8_t detail, QPoint at)
{
    xcb_test_fake_input(m_c, type, detail, XCB_CURRENT_TIME, m_root, std::int16_t(at.x()),
                        std::int16_t(at.y()), 0);
    // Waits until the server has handled the event, so the order of the steps holds.
    std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
}

void XTestInput::moveTo(QPoint screen)
{
    fake(XCB_MOTION_NOTIFY, 0, screen);
}

void XTestInput::press(int button)
{
    fake(XCB_BUTTON_PRESS, std::uint8_t(button));
}

void XTestInput::release(int button)
{
    fake(XCB_BUTTON_RELEASE, std::uint8_t(button));
}

void XTestInput::key(int keycode)
{
    fake(XCB_KEY_PRESS, std::uint8_t(keycode));
    fake(XCB_KEY_RELEASE, std::uint8_t(keycode));
}

bool WindowManagerRunning()
{
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    bool running = false;
    if (xcb_connection_has_error(c) == 0) {
        const char name[] = "_NET_SUPPORTING_WM_CHECK";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof(name) - 1, name), nullptr);
        if (atom != nullptr) {
            const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
            xcb_get_property_reply_t* property = xcb_get_property_reply(
                c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
            running = property != nullptr && xcb_get_property_value_length(property) == 4;
            std::free(property);
        }
        std::free(atom);
    }
    xcb_disconnect(c);
    return running;
}

QImage RootPixels(const QRect& area)
{
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    QImage image;
    if (xcb_connection_has_error(c) == 0) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, std::int16_t(area.x()), std::int16_t(area.y()),
                          std::uint16_t(area.width()), std::uint16_t(area.height()), ~0u),
            nullptr);
        // Depth 24 comes as 32 bits a pixel, blue first: the layout of Format_RGB32 on little-endian.
        if (reply != nullptr && reply->depth == 24 &&
            xcb_get_image_data_length(reply) == area.width() * area.height() * 4) {
            image = QImage(xcb_get_image_data(reply), area.width(), area.height(), area.width() * 4,
                           QImage::Format_RGB32)
                        .copy();
        }
        std::free(reply);
    }
    xcb_disconnect(c);
    return image;
}
