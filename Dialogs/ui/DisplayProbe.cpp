#include "Dialogs/ui/DisplayProbe.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool EnvironmentSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// The X connection check borrows libxcb only for the moment it is needed:
// a host without X libraries can still load the module, and has no display.
bool X11DisplayReachable()
{
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    void* xcb = ::dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (xcb == nullptr)
        return false;
    const auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    bool reachable = false;
    if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
        void* connection = connect(nullptr, nullptr);
        reachable = connection != nullptr && hasError(connection) == 0;
        // Even a failed connection is an object that must be freed.
        if (connection != nullptr)
            disconnect(connection);
    }
    ::dlclose(xcb);
    return reachable;
}

// A Wayland compositor answers on a Unix socket: WAYLAND_DISPLAY as an
// absolute path, or a name under XDG_RUNTIME_DIR.
bool WaylandDisplayReachable()
{
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if (display == nullptr || display[0] == '\0')
        return false;
    std::string path = display;
    if (path[0] != '/') {
        const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
        if (runtimeDir == nullptr || runtimeDir[0] == '\0')
            return false;
        path = std::string(runtimeDir) + "/" + path;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool reachable = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return reachable;
}

// Qt's plugin folder as the build found it.
bool WaylandPluginInstalled()
{
    struct stat info{};
    return ::stat(BRELT_QT_PLUGINS_DIR "/platforms/libqwayland-generic.so", &info) == 0;
}

}  // namespace

std::optional<std::string> ChooseDisplayPlatform()
{
    if (EnvironmentSet("QT_QPA_PLATFORM")) {
        // An explicit choice is kept; only a lone "xcb" or "wayland" can
        // be checked here, and without its display it would abort the process.
        const char* chosen = std::getenv("QT_QPA_PLATFORM");
        if (std::strcmp(chosen, "xcb") == 0 && !X11DisplayReachable())
            return std::nullopt;
        if (std::strcmp(chosen, "wayland") == 0 && !WaylandDisplayReachable())
            return std::nullopt;
        return std::string();
    }
    if (EnvironmentSet("DISPLAY") && X11DisplayReachable())
        return std::string();
    if (WaylandPluginInstalled() && WaylandDisplayReachable())
        return std::string("wayland");
    return std::nullopt;
}
