#pragma once
// The GUI thread of the PIN-pad notice when the host has no Qt application:
// it creates the module's own application, runs it until the notice is
// closed, and deletes it.

#include <QThread>
#include <condition_variable>
#include <mutex>

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

protected:
    void run() override;

private:
    enum class State { Starting, Ready, Failed, GivenUp };

    std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    State state_ = State::Starting;
};
