#pragma once
// The GUI thread of the PIN-pad notice when the host has no Qt application:
// it creates the module's own application, runs it until the notice is
// closed, and deletes it.

#include <QThread>
#include <future>

class EventLoop : public QThread {
    Q_OBJECT
public:
    EventLoop();
    ~EventLoop() override;

    // Waits until the thread's application exists (true) or the thread
    // could not create one (false, also on time-out).
    bool WaitReady(int milliseconds);

protected:
    void run() override;

private:
    std::promise<bool> ready_;
    std::future<bool> readyResult_;
};
