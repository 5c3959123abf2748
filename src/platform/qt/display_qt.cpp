// display_qt.cpp - whether a display can be opened, asked before the QApplication exists: the
// toolkit ends the process when none of its platforms can connect, and the program must
// report "Screen error" instead. And whether the open display was lost since: the toolkit
// then ends the process from inside its event loop, where the program would crash.
#include <dlfcn.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QByteArrayList>
#include <QDir>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <cstdlib>
#include <cstring>

#include "platform/qt/qt_internal.h"
#include "platform/qt/qt_platform.h"
#include "platform/signals.h"

namespace qt_platform {

namespace {

int saved_argc = 0;
char** saved_argv = nullptr;

// The value following `-name` or `--name` among the program's arguments.
QByteArray argument(const char* name) {
    for (int i = 1; i + 1 < saved_argc; ++i) {
        const char* arg = saved_argv[i];
        if (!arg || arg[0] != '-') continue;
        if (arg[1] == '-') ++arg;
        if (std::strcmp(arg + 1, name) == 0) return saved_argv[i + 1];
    }
    return {};
}

// The platforms the toolkit will try, in its order: the -platform argument, else
// QT_QPA_PLATFORM, else the session's own kind followed by X11.
QByteArrayList platform_candidates() {
    QByteArray names = argument("platform");
    if (names.isEmpty()) names = qgetenv("QT_QPA_PLATFORM");
    if (names.isEmpty()) {
        names = qgetenv("XDG_SESSION_TYPE") == "wayland" ? "wayland;xcb" : "xcb";
    }
    QByteArrayList result;
    for (const QByteArray& entry : names.split(';')) {
        const QByteArray name = entry.split(':').first().trimmed();  // drop plugin options
        if (!name.isEmpty()) result << name;
    }
    return result;
}

// True when a platform plugin for `name` lies where the toolkit looks for it
// (libqxcb.so for "xcb", libqwayland-generic.so for "wayland", ...).
bool plugin_installed(const QByteArray& name) {
    QStringList folders;
    const QString own = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH");
    if (!own.isEmpty()) folders << own;
    for (const QString& path :
         qEnvironmentVariable("QT_PLUGIN_PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts)) {
        folders << path + QStringLiteral("/platforms");
    }
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
    const QStringList pattern{QStringLiteral("libq") + QString::fromLatin1(name) +
                              QLatin1Char('*')};
    for (const QString& folder : folders) {
        if (!QDir(folder).entryList(pattern, QDir::Files).isEmpty()) return true;
    }
    return false;
}

// Connects to the X server through libxcb, loaded only for this question, as the toolkit's
// X11 platform would.
bool x11_reachable() {
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb) return false;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    const auto has_error = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool ok = false;
    if (connect && has_error && disconnect) {
        const QByteArray display = argument("display");
        void* connection = connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
        ok = connection && has_error(connection) == 0;
        if (connection) disconnect(connection);
    }
    dlclose(xcb);
    return ok;
}

// A Wayland compositor listens on a socket named by WAYLAND_DISPLAY.
bool wayland_reachable() {
    QByteArray socket = qgetenv("WAYLAND_DISPLAY");
    if (socket.isEmpty()) socket = "wayland-0";
    if (!socket.startsWith('/')) {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (runtime.isEmpty()) return false;
        socket = runtime + '/' + socket;
    }
    struct stat info {};
    return stat(socket.constData(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// The X connection of the running application, and libxcb's question whether it broke.
using HasError = int (*)(void*);
void* xcb_library = nullptr;
HasError connection_has_error = nullptr;
void* x11_connection = nullptr;

// Run by exit(): the toolkit calls it when it finds its connection broken; the program's own
// static objects would be torn down next, the application among them, and crash.
void end_on_toolkit_exit() {
    end_if_display_lost();
}

}  // namespace

void watch_display_connection() {
    forget_display_connection();
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11) return;  // offscreen, Wayland: no X connection to watch
    // The toolkit's X11 platform has loaded libxcb already.
    xcb_library = dlopen("libxcb.so.1", RTLD_NOW | RTLD_NOLOAD);
    if (!xcb_library) return;
    connection_has_error =
        reinterpret_cast<HasError>(dlsym(xcb_library, "xcb_connection_has_error"));
    x11_connection = x11->connection();
    static bool registered = false;
    if (!registered) registered = std::atexit(end_on_toolkit_exit) == 0;
}

void forget_display_connection() {
    x11_connection = nullptr;
    connection_has_error = nullptr;
    if (xcb_library) dlclose(xcb_library);
    xcb_library = nullptr;
}

void end_if_display_lost() {
    // Once broken, an X connection stays broken; nothing of the toolkit may run any more.
    if (x11_connection && connection_has_error && connection_has_error(x11_connection) != 0) {
        platform::end_at_once(1, "the display connection was lost");
    }
}

void remember_arguments_for_display(int argc, char** argv) {
    saved_argc = argc;
    saved_argv = argv;
}

bool display_reachable() {
    for (const QByteArray& name : platform_candidates()) {
        if (!plugin_installed(name)) continue;
        if (name == "xcb") {
            if (x11_reachable()) return true;
        } else if (name.startsWith("wayland")) {
            if (wayland_reachable()) return true;
        } else {
            return true;  // offscreen, VNC, framebuffer: they need no display server
        }
    }
    return false;
}

}  // namespace qt_platform
