#pragma once
// The only door into the PIN dialogs. Callers on any thread raise the
// virtual keyboard, the PIN messages and the PIN-pad notice through it; each
// dialog runs on a Qt GUI thread (a module-owned application on the calling
// thread, the host's GUI thread, or the module's EventLoop thread).
//
// Integrators: with a host QApplication the dialogs run on the host's GUI
// thread. If that thread is itself blocked in another PKCS#11 call while a
// login waits for its dialog, both wait for each other.

#include "pkcs11/cryptoki.h"

#include <memory>
#include <mutex>
#include <string>

class AbstractWorker;
class EventLoop;
class PinPadReqDlgWorker;
class VirtualKeyboardDlgWorker;

namespace Brelt::MW::Base {
class HexBinary;
}

// PIN kinds named by the dialogs: 0 BOK, 1 ZEP PIN, 2 PUK, 3 PIN.
using PinType = int;

class VirtualKeyboard {
public:
    VirtualKeyboard(std::string language, int pinType);
    // Closes a PIN-pad notice that is still up, so that no module thread
    // outlives the facade.
    ~VirtualKeyboard();
    VirtualKeyboard(const VirtualKeyboard&) = delete;
    VirtualKeyboard& operator=(const VirtualKeyboard&) = delete;

    int GetPinType() const { return pinType_; }
    void SetRemainingAttempts(int remainingAttempts);
    void SetMinMaxPinLength(int minLength, int maxLength);

    // CKR_OK: *pinOut = new buffer of ASCII digits (the caller deletes it);
    // CKR_FUNCTION_CANCELED / CKR_FUNCTION_FAILED: *pinOut = null.
    CK_RV ShowVirtKeyDialog(const Brelt::MW::Base::HexBinary* text, Brelt::MW::Base::HexBinary** pinOut);
    // Any thread, never blocks: rejects this facade's open keyboard.
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
    void WaitForOwnEventLoop();

    std::mutex workerMutex_;  // guards the two worker pointers
    VirtualKeyboardDlgWorker* virtKeyWorker_ = nullptr;
    PinPadReqDlgWorker* pinPadWorker_ = nullptr;
    PinType pinType_;
    std::string language_;
    int remainingAttempts_ = -1;
    int minPinLength_ = 0;
    int maxPinLength_ = 0;
    std::unique_ptr<EventLoop> eventLoop_;  // only when this facade started it
};
