#include "Dialogs/ui/GuiEnvironment.h"

#include "Dialogs/ui/DialogShownHook.h"
#include "Logger.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

bool EnvironmentSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

bool X11DisplayReachable()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = connection != nullptr && xcb_connection_has_error(connection) == 0;
    if (connection != nullptr)
        xcb_disconnect(connection);
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

bool WaylandPluginInstalled()
{
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    return QFileInfo::exists(plugins + QStringLiteral("/platforms/libqwayland-generic.so"));
}

void RouteQtMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    LogMessage(LOG_LEVEL_DEBUG, true, "Qt", 0, true, "%s", message.toLocal8Bit().constData());
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

std::mutex& ApplicationCreationMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool PlatformActivatesWindows()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

bool CanHostWidgets(const QCoreApplication* instance)
{
    return qobject_cast<const QApplication*>(instance) != nullptr;
}

OwnApplication::OwnApplication() = default;

OwnApplication::~OwnApplication()
{
    Destroy();
}

bool OwnApplication::Create()
{
    PinDialogsTesting::NotifyStep(PinDialogsTesting::Step::ModuleApplicationCreating);
    const std::optional<std::string> platform = ChooseDisplayPlatform();
    if (!platform) {
        LogMessage(LOG_LEVEL_ERROR, true, "OwnApplication::Create", __LINE__, true,
                   "no display for the PIN dialog");
        return false;
    }
    argc_ = 1;
    argv_[1] = argv_[2] = argv_[3] = nullptr;
    if (!platform->empty() && platform->size() < sizeof platformName_) {
        std::memcpy(platformName_, platform->c_str(), platform->size() + 1);
        argv_[1] = platformOption_;
        argv_[2] = platformName_;
        argc_ = 3;
    }
    // Creating the application sets the C locale from the environment;
    // the host's number formatting must not change behind its back.
    const char* current = std::setlocale(LC_ALL, nullptr);
    const std::string savedLocale = current ? current : "C";
    QGuiApplication::setDesktopSettingsAware(false);
    previousHandler_ = qInstallMessageHandler(RouteQtMessage);
    app_ = std::make_unique<QApplication>(argc_, argv_);
    std::setlocale(LC_ALL, savedLocale.c_str());
    app_->setQuitOnLastWindowClosed(false);
    return true;
}

int OwnApplication::Exec()
{
    return app_ ? QApplication::exec() : -1;
}

void OwnApplication::Destroy()
{
    if (!app_)
        return;
    const char* current = std::setlocale(LC_ALL, nullptr);
    const std::string savedLocale = current ? current : "C";
    app_.reset();
    std::setlocale(LC_ALL, savedLocale.c_str());
    qInstallMessageHandler(previousHandler_);
    previousHandler_ = nullptr;
}
