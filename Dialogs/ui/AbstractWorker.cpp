#include "Dialogs/ui/AbstractWorker.h"

#include "Dialogs/ui/DialogLog.h"
#include "Dialogs/ui/GuiEnvironment.h"
#include "Dialogs/ui/ScopeExit.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <chrono>

AbstractWorker::AbstractWorker() = default;

AbstractWorker::~AbstractWorker() = default;

bool AbstractWorker::Settled() const
{
    return done_ || (cancelled_ && !started_);
}

bool AbstractWorker::WaitForFinish(std::unique_lock<std::mutex>& lock, int milliseconds)
{
    return finished_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return Settled(); });
}

void AbstractWorker::Cancel()
{
    std::lock_guard lock(mutex_);
    if (!started_ && !cancelled_)
        result_ = 1;  // nothing will run that could set it
    cancelled_ = true;
    finished_.notify_all();
}

bool AbstractWorker::IsCancelled() const
{
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool AbstractWorker::HasStarted() const
{
    return started_;
}

bool AbstractWorker::HasFinished() const
{
    return done_;
}

void AbstractWorker::InstallTranslator()
{
    translator_ = std::make_unique<QTranslator>();
    const QString catalogue = language_ == "EN" ? QStringLiteral("virtualkeyboard_en.qm")
                                                : QStringLiteral("virtualkeyboard_sk.qm");
    if (translator_->load(catalogue, QStringLiteral(":/VestrinaApp")))
        QCoreApplication::installTranslator(translator_.get());
}

void AbstractWorker::CreateBackdrop()
{
    backdrop_ = std::make_unique<QMainWindow>(nullptr, Qt::WindowStaysOnTopHint);
    // Closing our backdrop must never end a host application's event loop.
    backdrop_->setAttribute(Qt::WA_QuitOnClose, false);
    backdrop_->setWindowModality(Qt::ApplicationModal);
    backdrop_->setWindowOpacity(0.8);
    // Without a window manager a full-screen request alone leaves the
    // window small: give it the screen's geometry first.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        backdrop_->setGeometry(screen->geometry());
    backdrop_->showFullScreen();
    if (PlatformActivatesWindows())
        backdrop_->raise();
    backdrop_->show();
    if (PlatformActivatesWindows())
        backdrop_->activateWindow();
}

void AbstractWorker::ShowGui()
{
    bool cancelledBeforeStart = false;
    {
        std::lock_guard lock(mutex_);
        cancelledBeforeStart = cancelled_;
        started_ = !cancelled_;
    }
    if (!cancelledBeforeStart) {
        // The backdrop covers the whole screen and blocks every window:
        // it must go whatever happened while the dialog ran.
        ScopeExit cleanup([this] {
            RunGuarded("AbstractWorker::ShowGui", 122, "Catching AbstractWorker::ShowGui() exception",
                       [this] { CleanupGui(); });
        });
        RunGuarded("AbstractWorker::ShowGui", 122, "Catching AbstractWorker::ShowGui() exception", [this] {
            InstallTranslator();
            CreateBackdrop();
            RunDialog(backdrop_.get());
        });
    }
    if (quitWhenDone_)
        QCoreApplication::quit();
    std::lock_guard lock(mutex_);
    done_ = true;
    finished_.notify_all();
}

void AbstractWorker::CleanupGui()
{
    translator_.reset();
    backdrop_.reset();
}
