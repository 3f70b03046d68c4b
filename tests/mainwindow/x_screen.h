// The user's hand and eye on a virtual X screen: a pointer click that goes through the X
// server, and so through the window manager, and the window manager's stacking order.
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
