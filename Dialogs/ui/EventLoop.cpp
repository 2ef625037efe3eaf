#include "Dialogs/ui/EventLoop.h"

#include "Dialogs/ui/DialogLog.h"
#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/GuiEnvironment.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <chrono>

namespace {

// How long the last share waits for the loop's thread to end.
constexpr int kEventLoopWaitMs = 10000;

// Guarded by ApplicationCreationMutex(): the shared loop dialogs may join,
// and its application while that exists.
std::weak_ptr<EventLoop> g_sharedLoop;
QCoreApplication* g_loopApplication = nullptr;
std::condition_variable g_loopApplicationGone;

// Runs where the last share goes, never on the loop's own thread (which
// holds no share) and never with ApplicationCreationMutex() held (the loop
// needs it to destroy its application).
void EndLoop(EventLoop* loop)
{
    loop->Quit();
    if (loop->wait(QDeadlineTimer(kEventLoopWaitMs))) {
        delete loop;
        return;
    }
    // A thread object may not be destroyed while its thread runs.
    LogDialogMessage(kPinDialogLogError, "VirtualKeyboard::ClosePinPadDialog", __LINE__,
                     "the PIN-pad event loop did not end; left alive");
}

}  // namespace

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

void EventLoop::Quit()
{
    std::lock_guard lock(stateMutex_);
    if (application_ != nullptr)
        QMetaObject::invokeMethod(application_, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
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
        application_ = application.Get();
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
    {
        std::lock_guard lock(stateMutex_);
        application_ = nullptr;
    }
    if (g_loopApplication == application.Get()) {
        g_loopApplication = nullptr;
        g_loopApplicationGone.notify_all();
    }
    application.Destroy();
}

EventLoopShare ShareModuleEventLoop(std::unique_lock<std::mutex>& creation)
{
    while (g_loopApplication != nullptr) {
        if (EventLoopShare share = g_sharedLoop.lock())
            return share;
        // Its last share has gone: the loop is ending.
        g_loopApplicationGone.wait(creation, [] { return g_loopApplication == nullptr; });
    }
    return nullptr;
}

EventLoopShare StartModuleEventLoop(std::unique_lock<std::mutex>&, bool& ready)
{
    EventLoopShare loop(new EventLoop(), EndLoop);
    loop->start(QThread::InheritPriority);
    ready = loop->WaitReady(PinDialogsTesting::EventLoopStartTimeout());
    if (ready) {
        g_sharedLoop = loop;
        g_loopApplication = QCoreApplication::instance();
    }
    return loop;
}
