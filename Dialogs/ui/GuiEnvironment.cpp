#include "Dialogs/ui/GuiEnvironment.h"

#include "Dialogs/ui/DialogLog.h"
#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/DisplayProbe.h"

#include <QApplication>
#include <clocale>
#include <cstring>
#include <string>

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
