// SPDX-License-Identifier: MIT
#include "lpt-board/Placement.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <QGuiApplication>
#include <QMargins>
#include <QRect>
#include <QScreen>
#include <QtGui/qguiapplication_platform.h>
#include <QWidget>
#include <vector>
#include <xcb/xcb.h>

namespace board
{

namespace
{

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* r)
{
    return Reply<T>(r, &std::free);
}

// The class instance in a window's WM_CLASS ("pc-automation" for the panel).
QByteArray instanceOf(xcb_connection_t* c, xcb_window_t window)
{
    const auto r = reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64), nullptr));
    if (!r)
        return {};
    const QByteArray value(static_cast<const char*>(xcb_get_property_value(r.get())),
                           xcb_get_property_value_length(r.get()));
    return value.left(value.indexOf('\0'));
}

std::vector<xcb_window_t> childrenOf(xcb_connection_t* c, xcb_window_t window)
{
    const auto r = reply(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
    if (!r)
        return {};
    const xcb_window_t* first = xcb_query_tree_children(r.get());
    return {first, first + xcb_query_tree_children_length(r.get())};
}

// What a window manager adds around a client (_NET_FRAME_EXTENTS: left,
// right, top, bottom); nothing without one.
QMargins frameOf(xcb_connection_t* c, xcb_window_t window)
{
    static constexpr char name[] = "_NET_FRAME_EXTENTS";
    const auto atom =
        reply(xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return {};
    const auto r = reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, atom->atom, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (!r || xcb_get_property_value_length(r.get()) != 16)
        return {};
    const auto* e = static_cast<const std::uint32_t*>(xcb_get_property_value(r.get()));
    return QMargins(int(e[0]), int(e[2]), int(e[1]), int(e[3]));
}

// The shown panel's window on the root with its frame, in root coordinates.
// Clients are the root's children, or (with a window manager) its frames'
// children.
std::optional<QRect> panelWindow(xcb_connection_t* c, xcb_window_t root, QMargins& frame)
{
    std::vector<xcb_window_t> windows = childrenOf(c, root);
    for (const xcb_window_t frame : childrenOf(c, root))
        for (const xcb_window_t client : childrenOf(c, frame))
            windows.push_back(client);
    for (const xcb_window_t w : windows) {
        if (instanceOf(c, w) != "pc-automation")
            continue;
        const auto attributes =
            reply(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
        const auto geometry = reply(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
        const auto at = reply(xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr));
        if (attributes && geometry && at && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
            frame = frameOf(c, w);
            return QRect(at->dst_x, at->dst_y, geometry->width, geometry->height) + frame;
        }
    }
    return std::nullopt;
}

} // namespace

void placeBesidePanel(QWidget& view)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!x11 || !x11->connection() || !screen)
        return; // Wayland and others: the compositor places windows
    xcb_connection_t* c = x11->connection();
    QMargins frame;
    const auto panel = panelWindow(c, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, frame);
    if (!panel)
        return;
    // Frames placed: move() places a window's frame, and the viewer's frame
    // is taken to be the panel's.
    constexpr int Gap = 6;
    const QRect room = screen->availableGeometry();
    const QSize size = view.sizeHint().grownBy(frame);
    // Beside it, below, to its left, above; else in the corner farthest from it.
    const QPoint places[] = {
        {panel->right() + 1 + Gap, panel->top()},
        {panel->left(), panel->bottom() + 1 + Gap},
        {panel->left() - Gap - size.width(), panel->top()},
        {panel->left(), panel->top() - Gap - size.height()},
    };
    for (const QPoint& at : places)
        if (room.contains(QRect(at, size))) {
            view.move(at);
            return;
        }
    view.move(
        panel->center().x() < room.center().x() ? room.right() + 1 - size.width() : room.left(),
        panel->center().y() < room.center().y() ? room.bottom() + 1 - size.height() : room.top());
}

} // namespace board
