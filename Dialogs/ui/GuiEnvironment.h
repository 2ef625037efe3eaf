#pragma once
// Where the PIN dialogs can run: the host's Qt application or one the module
// creates for itself once the display check (DisplayProbe.h) has passed.

#include <QtGlobal>
#include <memory>
#include <mutex>

class QApplication;
class QCoreApplication;

// False on the offscreen and minimal platforms, which cannot raise or
// activate windows and only complain when asked to.
bool PlatformActivatesWindows();

// Whether a window may ask for a translucent background. False on an X
// server without a compositing manager, where nothing can be translucent: the
// window would only get a visual with alpha whose transparent pixels show
// black, and screen captures that read each window by its own visual (xwd
// -root) then draw the windows stacked under it wrongly (the keyboard under
// the length notice came out solid black). True everywhere else.
bool TranslucencyAvailable();

// True when `instance` can host widgets (a QApplication, not merely a
// QCoreApplication or QGuiApplication).
bool CanHostWidgets(const QCoreApplication* instance);

// Held while deciding whether the module must create its own application
// and, for a modal dialog, as long as that application lives: two
// application objects in one process would abort it.
std::mutex& ApplicationCreationMutex();

// A QApplication owned by the module on the current thread. Keeps argc and
// argv alive as long as the application, leaves the host's C locale as it
// was, loads no desktop theme into the host and routes Qt's messages into
// the trace log while it exists.
class OwnApplication {
public:
    OwnApplication();
    ~OwnApplication();
    OwnApplication(const OwnApplication&) = delete;
    OwnApplication& operator=(const OwnApplication&) = delete;

    // False (logged) when no display can be used.
    bool Create();
    int Exec();
    void Destroy();
    QApplication* Get() const { return app_.get(); }

private:
    int argc_ = 1;
    char arg0_[1] = {0};
    char platformOption_[10] = "-platform";
    char platformName_[16] = {0};
    char* argv_[4] = {arg0_, nullptr, nullptr, nullptr};
    std::unique_ptr<QApplication> app_;
    QtMessageHandler previousHandler_ = nullptr;
};
