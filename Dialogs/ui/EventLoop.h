#pragma once
// The module's own GUI thread when the host has no Qt application: a PIN-pad
// notice starts it, and it runs the module's application until the last
// dialog sharing it has gone (two logins on two PIN-pad readers, or a
// keyboard raised while a notice is up, share one loop). The last share to
// go quits the loop, joins the thread and frees it, so no dialog is left on
// a thread that has ended, nor finds the loop's application half destroyed.

#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>

class QCoreApplication;

class EventLoop : public QThread {
    Q_OBJECT
public:
    EventLoop();
    ~EventLoop() override;

    // Called by the starter while it holds ApplicationCreationMutex(), which
    // stands for the thread's application creation as well. Waits until the
    // thread's application exists (true) or the thread could not create one
    // (false). A thread that has not begun by then is given up (false): when
    // it does begin, it creates nothing and ends at once, so the starter can
    // join it.
    bool WaitReady(int milliseconds);

    // Any thread: ends the loop after the events already queued for it;
    // nothing once its application is gone.
    void Quit();

protected:
    void run() override;

private:
    enum class State { Starting, Ready, Failed, GivenUp };

    std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    State state_ = State::Starting;
    QCoreApplication* application_ = nullptr;  // while it exists
};

// A dialog's share of the module's event loop.
using EventLoopShare = std::shared_ptr<EventLoop>;

// Both with ApplicationCreationMutex() held through `creation`.
//
// A share of the module's loop when the current application is that loop's;
// null when there is no application or it is the host's. A loop whose last
// share has gone is waited for (without the lock meanwhile) until its
// application is gone.
EventLoopShare ShareModuleEventLoop(std::unique_lock<std::mutex>& creation);
// With no application: starts a loop and waits for its application. `ready`
// false: it did not start in time or could not create its application; the
// share then only serves to join the thread, and no other dialog finds it.
EventLoopShare StartModuleEventLoop(std::unique_lock<std::mutex>& creation, bool& ready);
