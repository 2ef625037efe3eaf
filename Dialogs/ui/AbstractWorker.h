#pragma once
// Base of the objects that build and run one dialog on the GUI thread. The
// facade moves a worker to the GUI thread and starts ShowGui there with a
// queued call; for modal dialogs it then waits until ShowGui has finished.

#include <QMainWindow>
#include <QObject>
#include <QTranslator>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

class AbstractWorker : public QObject {
    Q_OBJECT
public:
    AbstractWorker();
    ~AbstractWorker() override;

    void SetLanguage(std::string language) { language_ = std::move(language); }
    void SetPinType(int pinType) { pinType_ = pinType; }
    // 0 confirmed, 1 cancelled, anything else failed (-1 until a dialog answered).
    int GetResult() const { return result_; }
    // Quit the (module-owned) application when ShowGui has finished.
    void SetQuitWhenDone(bool quit) { quitWhenDone_ = quit; }

    // Waiting for the end of ShowGui from another thread: lock Mutex()
    // before posting ShowGui, then call WaitForFinish with it held.
    std::mutex& Mutex() { return mutex_; }
    // Waits up to `milliseconds`; true once ShowGui has finished or the
    // worker was cancelled before ShowGui started.
    bool WaitForFinish(std::unique_lock<std::mutex>& lock, int milliseconds);
    bool HasStarted() const;   // call with Mutex() held
    bool HasFinished() const;  // call with Mutex() held

    // Any thread, never blocks. Before ShowGui has started: the result is
    // "cancelled", a waiter stops waiting at once, and ShowGui, when it runs
    // later, shows nothing. Afterwards it only marks the worker.
    void Cancel();
    bool IsCancelled() const;  // takes Mutex()

public slots:
    void ShowGui();

protected:
    virtual void RunDialog(QWidget* parent) = 0;
    virtual void CleanupGui();

    int result_ = -1;
    std::string language_;
    int pinType_ = 0;
    std::unique_ptr<QTranslator> translator_;
    std::unique_ptr<QMainWindow> backdrop_;

private:
    void InstallTranslator();
    void CreateBackdrop();

    bool Settled() const;  // call with mutex_ held

    // Standard primitives rather than Qt's: the thread checker sees them.
    mutable std::mutex mutex_;
    std::condition_variable finished_;
    bool started_ = false;
    bool done_ = false;
    bool cancelled_ = false;
    bool quitWhenDone_ = false;
};

// Window flags of every dialog.
inline constexpr Qt::WindowFlags kDialogWindowFlags = Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint;
