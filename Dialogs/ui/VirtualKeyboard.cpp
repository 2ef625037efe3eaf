#include "Dialogs/ui/VirtualKeyboard.h"

#include "BaseTypes.h"
#include "Dialogs/ui/DeleteAndNull.h"
#include "Dialogs/ui/DialogLog.h"
#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/EventLoop.h"
#include "Dialogs/ui/GuiEnvironment.h"
#include "Dialogs/ui/MessageDlgWorkers.h"
#include "Dialogs/ui/PinDialogScript.h"
#include "Dialogs/ui/PinPadReqDlgWorker.h"
#include "Dialogs/ui/Resources.h"
#include "Dialogs/ui/ScopeExit.h"
#include "Dialogs/ui/VirtualKeyboardDlgWorker.h"
#include "Logger.h"

#include <QApplication>
#include <QThread>
#include <atomic>
#include <memory>
#include <string.h>
#include <type_traits>

namespace {

// How long ClosePinPadDialog waits for the EventLoop thread to end.
constexpr int kEventLoopWaitMs = 10000;
// Slice of the wait for a modal dialog: between slices the caller checks
// that the GUI thread still runs.
constexpr int kWaitSliceMs = 500;

CK_RV MapResult(int result)
{
    if (result == 0)
        return CKR_OK;
    if (result == 1)
        return CKR_FUNCTION_CANCELED;
    return CKR_FUNCTION_FAILED;
}

bool OnThreadOf(const QObject* object)
{
    return object->thread() == QThread::currentThread();
}

}  // namespace

VirtualKeyboard::VirtualKeyboard(std::string language, int pinType)
    : pinType_(pinType), language_(std::move(language))
{
    RunGuarded("VirtualKeyboard::VirtualKeyboard", 286, "Catching VirtualKeyboard::VirtualKeyboard(...) exception",
               [] { InitResources(); });
}

VirtualKeyboard::~VirtualKeyboard()
{
    RunGuarded("VirtualKeyboard::~VirtualKeyboard", __LINE__, "Catching VirtualKeyboard destructor exception",
               [this] {
                   if (pinPadWorker_ || eventLoop_)
                       ClosePinPadDialog();
               });
    if (eventLoop_ && !eventLoop_->isFinished()) {
        // Destroying a running thread object would abort the process.
        LogMessage(LOG_LEVEL_ERROR, true, "VirtualKeyboard::~VirtualKeyboard", __LINE__, true,
                   "PIN-pad event loop still running; left alive");
        (void)eventLoop_.release();
    }
}

void VirtualKeyboard::SetRemainingAttempts(int remainingAttempts)
{
    RunGuarded("VirtualKeyboard::SetRemainingAttempts", 302,
               "Catching VirtualKeyboard::SetRemainingAttempts(...) exception",
               [&] { remainingAttempts_ = remainingAttempts; });
}

void VirtualKeyboard::SetMinMaxPinLength(int minLength, int maxLength)
{
    RunGuarded("VirtualKeyboard::SetMinMaxPinLength", 315,
               "Catching VirtualKeyboard::SetMinMaxPinLength(...) exception", [&] {
                   minPinLength_ = minLength;
                   maxPinLength_ = maxLength;
               });
}

template <class Worker, class Collect>
bool VirtualKeyboard::RunModal(std::unique_ptr<Worker> worker, Collect&& collect)
{
    // The keyboard is cancellable from the moment the call begins: a cancel
    // that comes while the module creates its application is not lost.
    constexpr bool isKeyboard = std::is_same_v<Worker, VirtualKeyboardDlgWorker>;
    if constexpr (isKeyboard) {
        std::lock_guard lock(workerMutex_);
        virtKeyWorker_ = worker.get();
    }
    ScopeExit unregister([this] {
        if constexpr (isKeyboard) {
            std::lock_guard lock(workerMutex_);
            virtKeyWorker_ = nullptr;
        }
    });

    std::unique_lock creation(ApplicationCreationMutex());
    QCoreApplication* instance = QCoreApplication::instance();
    if (instance != nullptr && !CanHostWidgets(instance)) {
        LogMessage(LOG_LEVEL_ERROR, true, "VirtualKeyboard::RunModal", __LINE__, true,
                   "the host's Qt application cannot show widgets; no PIN dialog");
        return false;
    }
    OwnApplication own;
    const bool ownApplication = instance == nullptr;
    if (ownApplication && !own.Create())
        return false;
    QThread* guiThread = QCoreApplication::instance()->thread();
    // Another facade may end that thread and delete its object while this
    // call waits: learn of the end through a flag of our own, connected
    // while the application (and so the thread object) surely exists.
    auto guiThreadEnded = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::Connection endWatch;
    worker->SetQuitWhenDone(ownApplication);
    if (!ownApplication) {
        endWatch = QObject::connect(guiThread, &QThread::finished, [guiThreadEnded] { *guiThreadEnded = true; });
        worker->moveToThread(guiThread);
        creation.unlock();
    }
    ScopeExit stopWatching([&endWatch] { QObject::disconnect(endWatch); });

    bool finished = true;
    if (ownApplication) {
        QMetaObject::invokeMethod(worker.get(), "ShowGui", Qt::QueuedConnection);
        own.Exec();
    } else if (guiThread == QThread::currentThread()) {
        // The caller is the host's GUI thread: a posted call would never run
        // while it waits, so the dialog runs here (nested event loop).
        worker->ShowGui();
    } else {
        std::unique_lock lock(worker->Mutex());
        QMetaObject::invokeMethod(worker.get(), "ShowGui", Qt::QueuedConnection);
        PinDialogsTesting::NotifyStep(PinDialogsTesting::Step::ModalWorkerPosted, worker.get());
        // Ends when ShowGui has finished, or at once when a cancel comes
        // before it started (the GUI thread may be busy for a long time).
        while (!worker->WaitForFinish(lock, kWaitSliceMs)) {
            if (!worker->HasStarted() && *guiThreadEnded) {
                LogMessage(LOG_LEVEL_ERROR, true, "VirtualKeyboard::RunModal", __LINE__, true,
                           "the GUI thread ended before the PIN dialog started");
                finished = false;
                break;
            }
        }
    }

    unregister.Run();
    if (finished)
        collect(*worker);
    // A worker living on another running GUI thread is deleted there, after
    // its ShowGui and any cancel still queued for it.
    if (!ownApplication && !OnThreadOf(worker.get()) && !*guiThreadEnded)
        worker.release()->deleteLater();
    else
        worker.reset();
    own.Destroy();
    return finished;
}

CK_RV VirtualKeyboard::ShowVirtKeyDialog(const Brelt::MW::Base::HexBinary* text,
                                         Brelt::MW::Base::HexBinary** pinOut)
{
    if (pinOut == nullptr)
        return CKR_ARGUMENTS_BAD;
    *pinOut = nullptr;
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded("VirtualKeyboard::ShowVirtKeyDialog", 374, "Catching VirtualKeyboard::ShowVirtKeyDialog(...) exception",
               [&] {
                   if (auto script = CurrentPinDialogScript()) {
                       std::string pin;
                       rv = script->AnswerVirtualKeyboard(pinType_, pin);
                       if (rv == CKR_OK)
                           *pinOut = new Brelt::MW::Base::HexBinary(
                               reinterpret_cast<const unsigned char*>(pin.data()), static_cast<int32_t>(pin.size()),
                               true);
                       explicit_bzero(pin.data(), pin.size());
                       return;
                   }
                   auto worker = std::make_unique<VirtualKeyboardDlgWorker>();
                   worker->SetLanguage(language_);
                   worker->SetPinType(pinType_);
                   worker->SetText(text);
                   worker->SetRemainingAttempts(remainingAttempts_);
                   worker->SetMinMaxPinLength(minPinLength_, maxPinLength_);
                   int result = -1;
                   RunModal(std::move(worker), [&](VirtualKeyboardDlgWorker& done) {
                       result = done.GetResult();
                       const Brelt::MW::Base::HexBinary* pin = done.GetPin();
                       if (result == 0 && pin != nullptr && pin->length > 0)
                           *pinOut = new Brelt::MW::Base::HexBinary(*pin);
                       else if (result == 0)
                           result = -1;
                   });
                   rv = MapResult(result);
               });
    if (rv != CKR_OK && *pinOut != nullptr) {
        explicit_bzero((*pinOut)->data, static_cast<size_t>((*pinOut)->length));
        DeleteAndNull(*pinOut);
    }
    return rv;
}

CK_RV VirtualKeyboard::CancelVirtKeyDialog()
{
    RunGuarded("VirtualKeyboard::CancelVirtKeyDialog", 584, "Catching VirtualKeyboard::CancelVirtKeyDialog() exception",
               [&] {
                   if (auto script = CurrentPinDialogScript()) {
                       script->KeyboardCancelled();
                       return;
                   }
                   std::lock_guard lock(workerMutex_);
                   if (virtKeyWorker_)
                       virtKeyWorker_->RequestCancel();
               });
    return CKR_OK;
}

CK_RV VirtualKeyboard::ShowInvalidPinDialog()
{
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded("VirtualKeyboard::ShowInvalidPinDialog", 760, "Catching VirtualKeyboard::ShowInvalidPinDialog() exception",
               [&] {
                   if (auto script = CurrentPinDialogScript()) {
                       rv = script->AnswerInvalidPin(pinType_, remainingAttempts_);
                       return;
                   }
                   auto worker = std::make_unique<InvalidPinDlgWorker>();
                   worker->SetLanguage(language_);
                   worker->SetPinType(pinType_);
                   worker->SetRemainingAttempts(remainingAttempts_);
                   int result = -1;
                   RunModal(std::move(worker), [&](InvalidPinDlgWorker& done) { result = done.GetResult(); });
                   rv = MapResult(result);
               });
    return rv;
}

CK_RV VirtualKeyboard::ShowPinBlockedDialog()
{
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded("VirtualKeyboard::ShowPinBlockedDialog", 800, "Catching VirtualKeyboard::ShowPinBlockedDialog() exception",
               [&] {
                   if (auto script = CurrentPinDialogScript()) {
                       script->PinBlockedShown(pinType_);
                       rv = CKR_OK;
                       return;
                   }
                   auto worker = std::make_unique<BlockedPinDlgWorker>();
                   worker->SetLanguage(language_);
                   worker->SetPinType(pinType_);
                   // Whatever the dialog did, the caller goes on the same way.
                   rv = RunModal(std::move(worker), [](BlockedPinDlgWorker&) {}) ? CKR_OK : CKR_FUNCTION_FAILED;
               });
    return rv;
}

CK_RV VirtualKeyboard::ShowPinLengthErrDialog(int pinType)
{
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded("VirtualKeyboard::ShowPinLengthErrDialog", 934,
               "Catching VirtualKeyboard::ShowPinLengthErrDialog() exception", [&] {
                   if (auto script = CurrentPinDialogScript()) {
                       script->PinLengthShown(pinType);
                       rv = CKR_OK;
                       return;
                   }
                   auto worker = std::make_unique<PinLengthDlgWorker>();
                   worker->SetLanguage(language_);
                   worker->SetPinType(pinType);
                   rv = RunModal(std::move(worker), [](PinLengthDlgWorker&) {}) ? CKR_OK : CKR_FUNCTION_FAILED;
               });
    return rv;
}

CK_RV VirtualKeyboard::ShowPinPadDialog(const Brelt::MW::Base::HexBinary* text, int pinType)
{
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded("VirtualKeyboard::ShowPinPadDialog", 977, "Catching VirtualKeyboard::ShowPinPadDialog() exception", [&] {
        if (auto script = CurrentPinDialogScript()) {
            script->PinPadShown(pinType);
            rv = CKR_OK;
            return;
        }
        // The previous notice goes first, together with its EventLoop, so
        // that the new notice is not given to a thread that is ending.
        if (pinPadWorker_ || eventLoop_)
            ClosePinPadDialog();

        // One lock around the check and the creation: another thread's
        // short-lived application must not be adopted, nor two created.
        std::unique_lock creation(ApplicationCreationMutex());
        QCoreApplication* instance = QCoreApplication::instance();
        if (instance != nullptr && !CanHostWidgets(instance)) {
            LogMessage(LOG_LEVEL_ERROR, true, "VirtualKeyboard::ShowPinPadDialog", __LINE__, true,
                       "the host's Qt application cannot show widgets; no PIN-pad notice");
            return;
        }
        bool startedEventLoop = false;
        if (instance == nullptr) {
            if (!ChooseDisplayPlatform()) {
                LogMessage(LOG_LEVEL_ERROR, true, "VirtualKeyboard::ShowPinPadDialog", __LINE__, true,
                           "no display for the PIN dialog");
                return;
            }
            eventLoop_ = std::make_unique<EventLoop>();
            eventLoop_->start(QThread::InheritPriority);
            if (!eventLoop_->WaitReady(PinDialogsTesting::EventLoopStartTimeout())) {
                // A thread given up ends without a window; it is joined by
                // ClosePinPadDialog or the destructor.
                LogMessage(LOG_LEVEL_ERROR, true, "VirtualKeyboard::ShowPinPadDialog", __LINE__, true,
                           "the PIN-pad event loop did not start");
                return;
            }
            startedEventLoop = true;
            instance = QCoreApplication::instance();
        }
        if (instance == nullptr)
            return;

        auto* worker = new PinPadReqDlgWorker();
        worker->SetLanguage(language_);
        worker->SetPinType(pinType);
        worker->SetText(text);
        worker->SetRemainingAttempts(remainingAttempts_);
        if (startedEventLoop)
            worker->SetApplication(instance);
        worker->moveToThread(instance->thread());
        {
            std::lock_guard lock(workerMutex_);
            pinPadWorker_ = worker;
        }
        if (OnThreadOf(worker)) {
            worker->ShowGui();
        } else {
            // Posted under the worker's lock, which ShowGui takes first: the
            // hand-over is visible to the thread checker too.
            std::lock_guard handOver(worker->Mutex());
            QMetaObject::invokeMethod(worker, "ShowGui", Qt::QueuedConnection);
        }
        rv = CKR_OK;
    });
    return rv;
}

CK_RV VirtualKeyboard::ClosePinPadDialog()
{
    RunGuarded("VirtualKeyboard::ClosePinPadDialog", 996, "Catching VirtualKeyboard::ClosePinPadDialog() exception",
               [&] {
                   if (auto script = CurrentPinDialogScript()) {
                       script->PinPadClosed();
                       return;
                   }
                   PinPadReqDlgWorker* worker = nullptr;
                   {
                       std::lock_guard lock(workerMutex_);
                       std::swap(worker, pinPadWorker_);
                   }
                   if (worker) {
                       if (OnThreadOf(worker))
                           worker->CloseOnGuiThread();
                       else if (worker->thread()->isFinished())
                           delete worker;  // its thread is gone: nobody else can touch it
                       else {
                           // Runs after a ShowGui that may still be pending.
                           std::lock_guard handOver(worker->Mutex());
                           QMetaObject::invokeMethod(worker, "CloseOnGuiThread", Qt::QueuedConnection);
                       }
                   }
                   WaitForOwnEventLoop();
               });
    return CKR_OK;
}

void VirtualKeyboard::WaitForOwnEventLoop()
{
    if (!eventLoop_)
        return;
    if (eventLoop_->wait(QDeadlineTimer(kEventLoopWaitMs))) {
        eventLoop_.reset();
        return;
    }
    // A thread object may not be destroyed while its thread runs.
    LogMessage(LOG_LEVEL_ERROR, true, "VirtualKeyboard::ClosePinPadDialog", __LINE__, true,
               "the PIN-pad event loop did not end; left alive");
    (void)eventLoop_.release();
}
