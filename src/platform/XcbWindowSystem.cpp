#include "platform/WindowSystem.h"

namespace linvera::platform {

DisplaySession DetectDisplaySession(const QProcessEnvironment& environment)
{
    using namespace Qt::StringLiterals;
    if (!environment.value(u"WAYLAND_DISPLAY"_s).isEmpty() ||
        environment.value(u"XDG_SESSION_TYPE"_s).compare(u"wayland"_s, Qt::CaseInsensitive) == 0)
        return DisplaySession::Wayland;
    if (!environment.value(u"DISPLAY"_s).isEmpty())
        return DisplaySession::X11;
    return DisplaySession::None;
}

} // namespace linvera::platform

#if WITH_X11

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <array>
#include <cstdlib>

#include <xcb/xcb.h>

namespace linvera::platform {

namespace {

// Replies of xcb are malloc'ed; this frees them on every path.
template <typename T> struct Reply
{
    T* p = nullptr;
    explicit Reply(T* reply)
        : p(reply)
    {}
    ~Reply() { std::free(p); }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

// Titles longer than this are not read further: 64 KiB is far beyond any caption shown.
constexpr std::uint32_t TitleLongsCap = 16384;
// Band width of the frame: twice a one-pixel border, plus the one-pixel dark edges of its windows.
constexpr int FrameBand = 2;
// Client windows sit at most this deep under a window manager's frame.
constexpr int ClientSearchDepth = 4;

class XcbWindowSystem final : public WindowSystem
{
public:
    XcbWindowSystem(xcb_connection_t* connection, int screenNumber)
        : m_c(connection)
    {
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
        for (int i = 0; i < screenNumber && it.rem > 0; ++i)
            xcb_screen_next(&it);
        m_screen = it.data;
        m_netWmName = atom("_NET_WM_NAME");
        m_utf8String = atom("UTF8_STRING");
        m_wmState = atom("WM_STATE");
    }

    ~XcbWindowSystem() override
    {
        for (xcb_window_t w : m_frame) {
            if (w != 0)
                xcb_destroy_window(m_c, w);
        }
        xcb_disconnect(m_c);
    }

    bool available() const override { return m_screen != nullptr; }

    WindowId topLevelAt(QPoint p) override
    {
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_screen->root), nullptr));
        if (!tree)
            return 0;
        const xcb_window_t* children = xcb_query_tree_children(tree.p);
        const int count = xcb_query_tree_children_length(tree.p);
        // Ask for every child at once, then read the answers: one round trip instead of two per window.
        QList<xcb_get_window_attributes_cookie_t> attributes;
        QList<xcb_get_geometry_cookie_t> geometries;
        for (int i = 0; i < count; ++i) {
            attributes.append(xcb_get_window_attributes(m_c, children[i]));
            geometries.append(xcb_get_geometry(m_c, children[i]));
        }
        WindowId found = 0;
        // Children come bottom to top; the topmost hit is the one the user sees.
        for (int i = count - 1; i >= 0; --i) {
            Reply<xcb_get_window_attributes_reply_t> a(
                xcb_get_window_attributes_reply(m_c, attributes[i], nullptr));
            Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(m_c, geometries[i], nullptr));
            if (found != 0 || !a || !g || isFrameWindow(children[i]))
                continue;
            if (a->map_state != XCB_MAP_STATE_VIEWABLE || a->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
                continue;
            const int border = g->border_width;
            const QRect outer(g->x, g->y, g->width + 2 * border, g->height + 2 * border);
            if (outer.contains(p))
                found = children[i];
        }
        return found;
    }

    QRect outerRect(WindowId window) override
    {
        if (window == 0)
            return {};
        Reply<xcb_get_geometry_reply_t> g(
            xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr));
        if (!g)
            return {};
        Reply<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(
            m_c, xcb_translate_coordinates(m_c, window, m_screen->root, 0, 0), nullptr));
        if (!t)
            return {};
        const int border = g->border_width;
        return QRect(t->dst_x - border, t->dst_y - border, g->width + 2 * border, g->height + 2 * border);
    }

    QString title(WindowId window) override
    {
        if (window == 0)
            return {};
        const xcb_window_t client = clientOf(window, ClientSearchDepth);
        const xcb_window_t named = client != 0 ? client : window;
        QString text = textProperty(named, m_netWmName, m_utf8String);
        if (text.isEmpty())
            text = textProperty(named, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY);
        return text;
    }

    void showFrame(WindowId window) override
    {
        const QRect r = outerRect(window);
        if (r.isEmpty()) {
            hideFrame();
            return;
        }
        // Each band is a window of its own: white inside a one-pixel black border, visible on any
        // background, and unmapping it lets the server repaint what lay below.
        const int thick = FrameBand;
        const int w = std::max(1, r.width() - 2);
        const int h = std::max(1, r.height() - 2);
        const std::array<QRect, 4> bands = {
            QRect(r.left(), r.top(), w, thick),
            QRect(r.left(), r.bottom() - thick - 1, w, thick),
            QRect(r.left(), r.top(), thick, h),
            QRect(r.right() - thick - 1, r.top(), thick, h),
        };
        for (std::size_t i = 0; i < bands.size(); ++i) {
            if (m_frame[i] == 0)
                m_frame[i] = createBand();
            const std::uint32_t values[] = {std::uint32_t(bands[i].x()), std::uint32_t(bands[i].y()),
                                            std::uint32_t(bands[i].width()), std::uint32_t(bands[i].height()),
                                            XCB_STACK_MODE_ABOVE};
            xcb_configure_window(m_c, m_frame[i],
                                 XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                     XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE,
                                 values);
            xcb_map_window(m_c, m_frame[i]);
        }
        xcb_flush(m_c);
    }

    void hideFrame() override
    {
        for (xcb_window_t w : m_frame) {
            if (w != 0)
                xcb_unmap_window(m_c, w);
        }
        xcb_flush(m_c);
    }

    void sync() override
    {
        Reply<xcb_get_input_focus_reply_t> r(
            xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    }

private:
    xcb_atom_t atom(const char* name)
    {
        Reply<xcb_intern_atom_reply_t> r(
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, std::uint16_t(qstrlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    bool isFrameWindow(xcb_window_t w) const
    {
        return std::find(m_frame.begin(), m_frame.end(), w) != m_frame.end();
    }

    xcb_window_t createBand()
    {
        const xcb_window_t w = xcb_generate_id(m_c);
        const std::uint32_t values[] = {m_screen->white_pixel, m_screen->black_pixel, 1};
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, w, m_screen->root, 0, 0, 1, 1, 1,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        return w;
    }

    bool hasWmState(xcb_window_t w)
    {
        Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, w, m_wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
        return r && r->type != XCB_ATOM_NONE;
    }

    // The application's own window: the one carrying WM_STATE, the window itself without a manager.
    xcb_window_t clientOf(xcb_window_t w, int depth)
    {
        if (hasWmState(w))
            return w;
        if (depth == 0)
            return 0;
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr));
        if (!tree)
            return 0;
        const xcb_window_t* children = xcb_query_tree_children(tree.p);
        for (int i = xcb_query_tree_children_length(tree.p) - 1; i >= 0; --i) {
            if (const xcb_window_t found = clientOf(children[i], depth - 1))
                return found;
        }
        return 0;
    }

    QString textProperty(xcb_window_t w, xcb_atom_t property, xcb_atom_t type)
    {
        Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, w, property, type, 0, TitleLongsCap), nullptr));
        if (!r || r->format != 8)
            return {};
        const QByteArray bytes(static_cast<const char*>(xcb_get_property_value(r.p)),
                               xcb_get_property_value_length(r.p));
        // WM_NAME of type STRING is Latin-1 by the ICCCM; UTF8_STRING and what modern toolkits write is
        // UTF-8.
        if (r->type == XCB_ATOM_STRING)
            return QString::fromLatin1(bytes);
        return QString::fromUtf8(bytes);
    }

    xcb_connection_t* m_c;
    xcb_screen_t* m_screen = nullptr;
    xcb_atom_t m_netWmName = XCB_ATOM_NONE;
    xcb_atom_t m_utf8String = XCB_ATOM_NONE;
    xcb_atom_t m_wmState = XCB_ATOM_NONE;
    std::array<xcb_window_t, 4> m_frame{};
};

} // namespace

std::unique_ptr<WindowSystem> CreateWindowSystem()
{
    if (DetectDisplaySession(QProcessEnvironment::systemEnvironment()) != DisplaySession::X11)
        return std::make_unique<NullWindowSystem>();
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (c == nullptr || xcb_connection_has_error(c) != 0) {
        if (c != nullptr)
            xcb_disconnect(c);
        return std::make_unique<NullWindowSystem>();
    }
    return std::make_unique<XcbWindowSystem>(c, screenNumber);
}

} // namespace linvera::platform

#else

namespace linvera::platform {

std::unique_ptr<WindowSystem> CreateWindowSystem()
{
    return std::make_unique<NullWindowSystem>();
}

} // namespace linvera::platform

#endif
