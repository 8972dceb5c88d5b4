// SPDX-License-Identifier: MIT
#include "lpt-board/Placement.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <QGuiApplication>
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

// The shown panel's window on the root, in root coordinates. Clients are the
// root's children, or (with a window manager) its frames' children.
std::optional<QRect> panelWindow(xcb_connection_t* c, xcb_window_t root)
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
        if (attributes && geometry && at && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
            return QRect(at->dst_x, at->dst_y, geometry->width, geometry->height);
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
    const auto panel = panelWindow(c, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root);
    if (!panel)
        return;
    // Room for window frames, as a window manager may add them.
    constexpr int Frame = 40;
    const QRect room = screen->availableGeometry();
    const QSize size = view.sizeHint();
    if (panel->right() + Frame + size.width() <= room.right())
        view.move(panel->right() + 1 + Frame / 2, panel->top());
    else if (panel->bottom() + Frame + size.height() <= room.bottom())
        view.move(panel->left(), panel->bottom() + 1 + Frame);
    else
        view.move(room.right() - size.width() - Frame / 2,
                  room.bottom() - size.height() - Frame / 2);
}

} // namespace board
