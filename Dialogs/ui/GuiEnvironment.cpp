#include "Dialogs/ui/GuiEnvironment.h"

#include "Dialogs/ui/DialogLog.h"
#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/DisplayProbe.h"

#include <QApplication>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <xcb/xcb.h>

namespace {

void RouteQtMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    LogDialogMessage(kPinDialogLogDebug, "Qt", 0, message.toLocal8Bit().constData());
}

}  // namespace

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

bool TranslucencyAvailable()
{
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr)
        return true;
    xcb_connection_t* connection = x11->connection();
    // A compositing manager owns the selection _NET_WM_CM_S<screen>.
    char* host = nullptr;
    int display = 0;
    int screen = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) == 0)
        screen = 0;
    std::free(host);
    const std::string selection = "_NET_WM_CM_S" + std::to_string(screen);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, 1, static_cast<uint16_t>(selection.size()), selection.c_str()),
                              nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
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
        LogDialogMessage(kPinDialogLogError, "OwnApplication::Create", __LINE__, "no display for the PIN dialog");
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
