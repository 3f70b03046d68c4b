// The user's hand and eye on a virtual X screen: a pointer click and a close request that
// go through the X server, and so through the window manager, and the window manager's
// stacking order.
// Off X (the offscreen platform) the click is Qt's own, followed by the activation a
// window manager would give the clicked window.
#pragma once

#include "tests/support/run_command.h"

#include <QGuiApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <qguiapplication_platform.h>

#include <dlfcn.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace kestrane::testing {

inline bool onXScreen() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

// The client windows as the window manager stacks them, bottom first; empty without a
// window manager (or without xprop).
inline std::vector<unsigned long> wmStackingOrder() {
    if (!onXScreen())
        return {};
    // "_NET_CLIENT_LIST_STACKING: window id # 0x400005, 0x600003"
    const std::string out = runCommand("xprop -root -notype _NET_CLIENT_LIST_STACKING 2>/dev/null").out;
    std::vector<unsigned long> ids;
    const auto hash = out.find('#');
    if (hash == std::string::npos)
        return ids;
    std::istringstream in(out.substr(hash + 1));
    for (std::string id; in >> id;)
        ids.push_back(std::stoul(id, nullptr, 16));
    return ids;
}

// Where the window stands in the window manager's stacking order, bottom first; -1 when
// it is not listed.
inline int stackingPlace(const std::vector<unsigned long>& order, const QWidget& window) {
    for (std::size_t i = 0; i < order.size(); ++i)
        if (order[i] == static_cast<unsigned long>(window.winId()))
            return int(i);
    return -1;
}

// A left click at the widget's point through the XTEST extension; false when the X
// library for it is not at hand.
inline bool xTestClick(QWidget* widget, QPoint at) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    static void* xtst = ::dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    static void* xlib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (x11 == nullptr || x11->display() == nullptr || xtst == nullptr || xlib == nullptr)
        return false;
    using Motion = int (*)(Display*, int, int, int, unsigned long);
    using Button = int (*)(Display*, unsigned, int, unsigned long);
    using Flush = int (*)(Display*);
    auto motion = reinterpret_cast<Motion>(::dlsym(xtst, "XTestFakeMotionEvent"));
    auto button = reinterpret_cast<Button>(::dlsym(xtst, "XTestFakeButtonEvent"));
    auto flush = reinterpret_cast<Flush>(::dlsym(xlib, "XFlush"));
    if (motion == nullptr || button == nullptr || flush == nullptr)
        return false;
    const QPoint global = widget->mapToGlobal(at);
    Display* display = x11->display();
    // The pointer comes to rest on the point first, as a hand brings it there; a press that
    // comes with the move can reach the window manager before it knows where the pointer is.
    motion(display, -1, global.x(), global.y(), 0);
    flush(display);
    QTest::qWait(100);
    button(display, 1, 1, 0);
    button(display, 1, 0, 0);
    flush(display);
    return true;
}

// Asks through the X server for the window to be closed, as its title bar's close box or
// Alt+F4 does: under a window manager the request goes to the manager (_NET_CLOSE_WINDOW),
// which sends the window WM_DELETE_WINDOW; on a bare screen WM_DELETE_WINDOW goes straight
// to the window, as a manager would send it. False off X or when the X library for it is
// not at hand.
inline bool xCloseRequest(QWidget* window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    static void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (x11 == nullptr || x11->connection() == nullptr || xcb == nullptr)
        return false;
    using InternAtom = xcb_intern_atom_cookie_t (*)(xcb_connection_t*, uint8_t, uint16_t, const char*);
    using InternAtomReply =
        xcb_intern_atom_reply_t* (*)(xcb_connection_t*, xcb_intern_atom_cookie_t, xcb_generic_error_t**);
    using GetSetup = const xcb_setup_t* (*)(xcb_connection_t*);
    using RootsIterator = xcb_screen_iterator_t (*)(const xcb_setup_t*);
    using SendEvent = xcb_void_cookie_t (*)(xcb_connection_t*, uint8_t, xcb_window_t, uint32_t, const char*);
    using Flush = int (*)(xcb_connection_t*);
    auto internAtom = reinterpret_cast<InternAtom>(::dlsym(xcb, "xcb_intern_atom"));
    auto internAtomReply = reinterpret_cast<InternAtomReply>(::dlsym(xcb, "xcb_intern_atom_reply"));
    auto getSetup = reinterpret_cast<GetSetup>(::dlsym(xcb, "xcb_get_setup"));
    auto rootsIterator = reinterpret_cast<RootsIterator>(::dlsym(xcb, "xcb_setup_roots_iterator"));
    auto sendEvent = reinterpret_cast<SendEvent>(::dlsym(xcb, "xcb_send_event"));
    auto flush = reinterpret_cast<Flush>(::dlsym(xcb, "xcb_flush"));
    if (!internAtom || !internAtomReply || !getSetup || !rootsIterator || !sendEvent || !flush)
        return false;
    xcb_connection_t* connection = x11->connection();
    auto atom = [&](const char* name) -> xcb_atom_t {
        xcb_intern_atom_reply_t* reply =
            internAtomReply(connection, internAtom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
        if (reply == nullptr)
            return XCB_ATOM_NONE;
        const xcb_atom_t found = reply->atom;
        std::free(reply);
        return found;
    };

    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = xcb_window_t(window->winId());
    xcb_window_t destination = message.window;
    std::uint32_t mask = XCB_EVENT_MASK_NO_EVENT; // to the client that made the window
    if (!wmStackingOrder().empty()) {
        message.type = atom("_NET_CLOSE_WINDOW");
        message.data.data32[0] = XCB_CURRENT_TIME;
        message.data.data32[1] = 2; // source: a pager, that is the user's own request
        destination = rootsIterator(getSetup(connection)).data->root;
        mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
    } else {
        message.type = atom("WM_PROTOCOLS");
        message.data.data32[0] = atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
    }
    if (message.type == XCB_ATOM_NONE)
        return false;
    sendEvent(connection, 0, destination, mask, reinterpret_cast<const char*>(&message));
    flush(connection);
    return true;
}

// The user clicks the widget at `at`. On X the click goes through the X server: a window
// manager activates and raises the window as it does for a real click; without one the
// window is activated as a window manager would. Off X, Qt's click and the activation.
inline void userClick(QWidget* widget, QPoint at) {
    const bool managed = !wmStackingOrder().empty();
    if (!onXScreen() || !xTestClick(widget, at))
        QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    if (!managed)
        widget->window()->activateWindow();
}

} // namespace kestrane::testing
