#include "Dialogs/ui/GuiEnvironment.h"

#include "Logger.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <clocale>
#include <cstdlib>
#include <cstring>
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
        // An explicit choice is respected; only a lone "xcb" can be checked
        // here, and without a reachable X server it would abort the process.
        if (std::strcmp(std::getenv("QT_QPA_PLATFORM"), "xcb") == 0 && !X11DisplayReachable())
            return std::nullopt;
        return std::string();
    }
    if (EnvironmentSet("DISPLAY") && X11DisplayReachable())
        return std::string();
    if (EnvironmentSet("WAYLAND_DISPLAY") && WaylandPluginInstalled())
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
