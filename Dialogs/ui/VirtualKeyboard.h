#pragma once
// The only door into the PIN dialogs. Callers on any thread raise the
// virtual keyboard, the PIN messages and the PIN-pad notice through it. The
// dialogs themselves live in the dialog library (Qt), which the facade has
// loaded the first time one of them has to appear (PinDialogLoader.h); with
// a PIN dialog script installed, or without a display, it is never loaded.
//
// Integrators: with a host QApplication the dialogs run on the host's GUI
// thread. If that thread is itself blocked in another PKCS#11 call while a
// login waits for its dialog, both wait for each other.

#include "pkcs11/cryptoki.h"

#include <mutex>
#include <string>

struct PinDialogSession;
struct PinDialogTable;

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
    // This login's dialogs in the library, made at the first dialog with the
    // facade's settings; null (logged) when no dialog can appear.
    PinDialogSession* Session(const char* function);
    // The session when one was made, else null.
    PinDialogSession* OpenedSession();

    std::mutex mutex_;  // guards the session, the settings and the keyboard's start
    const PinDialogTable* table_ = nullptr;
    PinDialogSession* session_ = nullptr;
    // A keyboard call that has not reached the library yet, and a cancel
    // that came meanwhile (it must not be lost while the library loads).
    bool keyboardStarting_ = false;
    bool keyboardCancelled_ = false;
    PinType pinType_;
    std::string language_;
    int remainingAttempts_ = -1;
    int minPinLength_ = 0;
    int maxPinLength_ = 0;
};
