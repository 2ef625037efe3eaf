#pragma once
// The PIN dialogs on Qt, behind the module's VirtualKeyboard facade: one
// object per login, reached through the dialog library's table. Each dialog
// runs on a Qt GUI thread (a module-owned application on the calling thread,
// the host's GUI thread, or the module's EventLoop thread).
//
// Integrators: with a host QApplication the dialogs run on the host's GUI
// thread. If that thread is itself blocked in another PKCS#11 call while a
// login waits for its dialog, both wait for each other.

#include "Dialogs/ui/EventLoop.h"
#include "pkcs11/cryptoki.h"

#include <memory>
#include <mutex>
#include <string>

class PinPadReqDlgWorker;
class VirtualKeyboardDlgWorker;

namespace Brelt::MW::Base {
class HexBinary;
}

class QtPinDialogs {
public:
    QtPinDialogs(std::string language, int pinType);
    // Closes a PIN-pad notice that is still up, so that no module thread
    // outlives the dialogs.
    ~QtPinDialogs();
    QtPinDialogs(const QtPinDialogs&) = delete;
    QtPinDialogs& operator=(const QtPinDialogs&) = delete;

    void SetRemainingAttempts(int remainingAttempts);
    void SetMinMaxPinLength(int minLength, int maxLength);

    // CKR_OK: *pinOut = new buffer of ASCII digits (the caller deletes it);
    // CKR_FUNCTION_CANCELED / CKR_FUNCTION_FAILED: *pinOut = null.
    CK_RV ShowVirtKeyDialog(const Brelt::MW::Base::HexBinary* text, Brelt::MW::Base::HexBinary** pinOut);
    // Any thread, never blocks: rejects this object's open keyboard.
    CK_RV CancelVirtKeyDialog();
    CK_RV ShowInvalidPinDialog();
    CK_RV ShowPinBlockedDialog();
    CK_RV ShowPinLengthErrDialog(int pinType);
    CK_RV ShowPinPadDialog(const Brelt::MW::Base::HexBinary* text, int pinType);
    CK_RV ClosePinPadDialog();

private:
    // Runs a modal worker to its end on the GUI thread; false when no GUI
    // thread could run it. The worker is disposed of here; `collect` reads
    // its results first (on the calling thread).
    template <class Worker, class Collect>
    bool RunModal(std::unique_ptr<Worker> worker, Collect&& collect);

    std::mutex workerMutex_;  // guards the two worker pointers
    VirtualKeyboardDlgWorker* virtKeyWorker_ = nullptr;
    PinPadReqDlgWorker* pinPadWorker_ = nullptr;
    int pinType_;
    std::string language_;
    int remainingAttempts_ = -1;
    int minPinLength_ = 0;
    int maxPinLength_ = 0;
    // The notice's share of the module's event loop (also a loop that did
    // not start, until it is joined).
    EventLoopShare pinPadLoop_;
};
