#include "Dialogs/ui/QtPinDialogs.h"

#include "BaseTypes.h"
#include "Dialogs/ui/DeleteAndNull.h"
#include "Dialogs/ui/DialogLog.h"
#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/DisplayProbe.h"
#include "Dialogs/ui/GuiEnvironment.h"
#include "Dialogs/ui/MessageDlgWorkers.h"
#include "Dialogs/ui/PinPadReqDlgWorker.h"
#include "Dialogs/ui/Resources.h"
#include "Dialogs/ui/ScopeExit.h"
#include "Dialogs/ui/VirtualKeyboardDlgWorker.h"

#include <QApplication>
#include <QThread>
#include <atomic>
#include <memory>
#include <string.h>
#include <type_traits>

namespace {

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

QtPinDialogs::QtPinDialogs(std::string language, int pinType)
    : pinType_(pinType), language_(std::move(language))
{
    RunGuarded("VirtualKeyboard::VirtualKeyboard", 286, "Catching VirtualKeyboard::VirtualKeyboard(...) exception",
               [] { InitResources(); });
}

QtPinDialogs::~QtPinDialogs()
{
    RunGuarded("VirtualKeyboard::~VirtualKeyboard", __LINE__, "Catching VirtualKeyboard destructor exception",
               [this] {
                   if (pinPadWorker_ || pinPadLoop_)
                       ClosePinPadDialog();
               });
}

void QtPinDialogs::SetRemainingAttempts(int remainingAttempts)
{
    RunGuarded("VirtualKeyboard::SetRemainingAttempts", 302,
               "Catching VirtualKeyboard::SetRemainingAttempts(...) exception",
               [&] { remainingAttempts_ = remainingAttempts; });
}

void QtPinDialogs::SetMinMaxPinLength(int minLength, int maxLength)
{
    RunGuarded("VirtualKeyboard::SetMinMaxPinLength", 315,
               "Catching VirtualKeyboard::SetMinMaxPinLength(...) exception", [&] {
                   minPinLength_ = minLength;
                   maxPinLength_ = maxLength;
               });
}

template <class Worker, class Collect>
bool QtPinDialogs::RunModal(std::unique_ptr<Worker> worker, Collect&& collect)
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

    // Declared before the lock: a last share must go without it (the loop
    // needs the lock to end).
    EventLoopShare loopShare;
    std::unique_lock creation(ApplicationCreationMutex());
    // On the module's event loop the dialog keeps the loop running until it
    // is done, whatever notice closes meanwhile.
    loopShare = ShareModuleEventLoop(creation);
    QCoreApplication* instance = QCoreApplication::instance();
    if (instance != nullptr && !CanHostWidgets(instance)) {
        LogDialogMessage(kPinDialogLogError, "VirtualKeyboard::RunModal", __LINE__,
                         "the host's Qt application cannot show widgets; no PIN dialog");
        return false;
    }
    OwnApplication own;
    const bool ownApplication = instance == nullptr;
    if (ownApplication && !own.Create())
        return false;
    QThread* guiThread = QCoreApplication::instance()->thread();
    // A host's GUI thread may end, and its object go, while this call
    // waits: learn of the end through a flag of our own, connected while the
    // application (and so the thread object) surely exists.
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
                LogDialogMessage(kPinDialogLogError, "VirtualKeyboard::RunModal", __LINE__,
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

CK_RV QtPinDialogs::ShowVirtKeyDialog(const Brelt::MW::Base::HexBinary* text,
                                         Brelt::MW::Base::HexBinary** pinOut)
{
    if (pinOut == nullptr)
        return CKR_ARGUMENTS_BAD;
    *pinOut = nullptr;
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded("VirtualKeyboard::ShowVirtKeyDialog", 374, "Catching VirtualKeyboard::ShowVirtKeyDialog(...) exception",
               [&] {
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

CK_RV QtPinDialogs::CancelVirtKeyDialog()
{
    RunGuarded("VirtualKeyboard::CancelVirtKeyDialog", 584, "Catching VirtualKeyboard::CancelVirtKeyDialog() exception",
               [&] {
                   std::lock_guard lock(workerMutex_);
                   if (virtKeyWorker_)
                       virtKeyWorker_->RequestCancel();
               });
    return CKR_OK;
}

CK_RV QtPinDialogs::ShowInvalidPinDialog()
{
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded("VirtualKeyboard::ShowInvalidPinDialog", 760, "Catching VirtualKeyboard::ShowInvalidPinDialog() exception",
               [&] {
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

CK_RV QtPinDialogs::ShowPinBlockedDialog()
{
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded("VirtualKeyboard::ShowPinBlockedDialog", 800, "Catching VirtualKeyboard::ShowPinBlockedDialog() exception",
               [&] {
                   auto worker = std::make_unique<BlockedPinDlgWorker>();
                   worker->SetLanguage(language_);
                   worker->SetPinType(pinType_);
                   // Whatever the dialog did, the caller goes on the same way.
                   rv = RunModal(std::move(worker), [](BlockedPinDlgWorker&) {}) ? CKR_OK : CKR_FUNCTION_FAILED;
               });
    return rv;
}

CK_RV QtPinDialogs::ShowPinLengthErrDialog(int pinType)
{
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded("VirtualKeyboard::ShowPinLengthErrDialog", 934,
               "Catching VirtualKeyboard::ShowPinLengthErrDialog() exception", [&] {
                   auto worker = std::make_unique<PinLengthDlgWorker>();
                   worker->SetLanguage(language_);
                   worker->SetPinType(pinType);
                   rv = RunModal(std::move(worker), [](PinLengthDlgWorker&) {}) ? CKR_OK : CKR_FUNCTION_FAILED;
               });
    return rv;
}

CK_RV QtPinDialogs::ShowPinPadDialog(const Brelt::MW::Base::HexBinary* text, int pinType)
{
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded("VirtualKeyboard::ShowPinPadDialog", 977, "Catching VirtualKeyboard::ShowPinPadDialog() exception", [&] {
        // The previous notice goes first, together with its share of the
        // event loop, so that the new notice is not given to a loop that is
        // ending.
        if (pinPadWorker_ || pinPadLoop_)
            ClosePinPadDialog();

        // One lock around the check and the creation: another thread's
        // short-lived application must not be adopted, nor two created.
        EventLoopShare loopShare;  // before the lock, see RunModal
        std::unique_lock creation(ApplicationCreationMutex());
        loopShare = ShareModuleEventLoop(creation);
        QCoreApplication* instance = QCoreApplication::instance();
        if (instance != nullptr && !CanHostWidgets(instance)) {
            LogDialogMessage(kPinDialogLogError, "VirtualKeyboard::ShowPinPadDialog", __LINE__,
                             "the host's Qt application cannot show widgets; no PIN-pad notice");
            return;
        }
        if (instance == nullptr) {
            if (!ChooseDisplayPlatform()) {
                LogDialogMessage(kPinDialogLogError, "VirtualKeyboard::ShowPinPadDialog", __LINE__,
                                 "no display for the PIN dialog");
                return;
            }
            bool ready = false;
            loopShare = StartModuleEventLoop(creation, ready);
            if (!ready) {
                // A thread given up ends without a window; it is joined by
                // ClosePinPadDialog or the destructor.
                pinPadLoop_ = std::move(loopShare);
                LogDialogMessage(kPinDialogLogError, "VirtualKeyboard::ShowPinPadDialog", __LINE__,
                                 "the PIN-pad event loop did not start");
                return;
            }
            instance = QCoreApplication::instance();
        }
        if (instance == nullptr)
            return;

        auto* worker = new PinPadReqDlgWorker();
        worker->SetLanguage(language_);
        worker->SetPinType(pinType);
        worker->SetText(text);
        worker->SetRemainingAttempts(remainingAttempts_);
        worker->moveToThread(instance->thread());
        {
            std::lock_guard lock(workerMutex_);
            pinPadWorker_ = worker;
        }
        pinPadLoop_ = std::move(loopShare);
        creation.unlock();
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

CK_RV QtPinDialogs::ClosePinPadDialog()
{
    RunGuarded("VirtualKeyboard::ClosePinPadDialog", 996, "Catching VirtualKeyboard::ClosePinPadDialog() exception",
               [&] {
                   PinPadReqDlgWorker* worker = nullptr;
                   {
                       std::lock_guard lock(workerMutex_);
                       std::swap(worker, pinPadWorker_);
                   }
                   // Kept until the close is on its way: the last share ends
                   // the loop after it.
                   EventLoopShare loopShare = std::move(pinPadLoop_);
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
               });
    return CKR_OK;
}
