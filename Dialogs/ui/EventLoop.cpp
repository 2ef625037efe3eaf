#include "Dialogs/ui/EventLoop.h"

#include "Dialogs/ui/GuiEnvironment.h"

#include <QCoreApplication>
#include <QEvent>
#include <chrono>

EventLoop::EventLoop() : readyResult_(ready_.get_future())
{
}

EventLoop::~EventLoop() = default;

bool EventLoop::WaitReady(int milliseconds)
{
    if (readyResult_.wait_for(std::chrono::milliseconds(milliseconds)) != std::future_status::ready)
        return false;
    return readyResult_.get();
}

void EventLoop::run()
{
    OwnApplication application;
    bool created = false;
    {
        std::lock_guard creation(ApplicationCreationMutex());
        created = QCoreApplication::instance() == nullptr && application.Create();
    }
    ready_.set_value(created);
    if (!created)
        return;
    application.Exec();
    // Workers closed just before the quit are deleted while the
    // application still exists.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    application.Destroy();
}
