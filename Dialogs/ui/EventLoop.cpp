#include "Dialogs/ui/EventLoop.h"

#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/GuiEnvironment.h"

#include <QCoreApplication>
#include <QEvent>
#include <chrono>

EventLoop::EventLoop() = default;

EventLoop::~EventLoop() = default;

bool EventLoop::WaitReady(int milliseconds)
{
    std::unique_lock lock(stateMutex_);
    // The thread holds stateMutex_ while it creates its application, so a
    // creation under way is waited for; only a thread that has not begun
    // within the time is given up.
    stateChanged_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return state_ != State::Starting; });
    if (state_ == State::Starting)
        state_ = State::GivenUp;
    return state_ == State::Ready;
}

void EventLoop::run()
{
    PinDialogsTesting::NotifyStep(PinDialogsTesting::Step::EventLoopStarting);
    OwnApplication application;
    {
        std::lock_guard lock(stateMutex_);
        if (state_ == State::GivenUp)
            return;  // nobody waits for this thread any more: no window may open
        const bool created = QCoreApplication::instance() == nullptr && application.Create();
        state_ = created ? State::Ready : State::Failed;
        stateChanged_.notify_all();
    }
    if (!application.Get())
        return;
    application.Exec();
    // The application goes under the creation lock, so that no facade can
    // find it half destroyed; workers closed just before the quit are
    // deleted while it still exists.
    std::lock_guard creation(ApplicationCreationMutex());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    application.Destroy();
}
