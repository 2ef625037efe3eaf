#pragma once
// Scripted answers in place of the PIN dialogs. While a script is installed,
// VirtualKeyboard raises no window at all and asks the script instead, so
// that programs which log in without a PIN (tests, automated runs) never
// wait for a person and need no display.

#include "pkcs11/cryptoki.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class PinDialogScript {
public:
    virtual ~PinDialogScript() = default;
    // CKR_OK with the digits in `pin`, or the result of a cancelled/failed keyboard.
    virtual CK_RV AnswerVirtualKeyboard(int pinType, std::string& pin) = 0;
    // CKR_OK (enter the PIN again) or CKR_FUNCTION_CANCELED.
    virtual CK_RV AnswerInvalidPin(int pinType, int remainingAttempts) = 0;
    virtual void PinBlockedShown(int pinType) = 0;
    virtual void PinLengthShown(int pinType) = 0;
    virtual void PinPadShown(int pinType) = 0;
    virtual void PinPadClosed() = 0;
    virtual void KeyboardCancelled() = 0;
};

// Installs a script for every facade of the process (null removes it).
void SetPinDialogScript(std::shared_ptr<PinDialogScript> script);
std::shared_ptr<PinDialogScript> CurrentPinDialogScript();

// A script that hands out queued answers and records what was asked.
// An empty queue answers CKR_FUNCTION_CANCELED, so a login loop ends.
class QueuedPinDialogScript : public PinDialogScript {
public:
    void AddPin(std::string pin);
    void AddKeyboardResult(CK_RV result);
    void AddInvalidPinAnswer(CK_RV result);
    // "keyboard(T)", "invalid(T,N)", "blocked(T)", "length(T)", "pinpad(T)",
    // "pinpad-closed", "cancel" in the order they happened.
    std::vector<std::string> Events() const;

    CK_RV AnswerVirtualKeyboard(int pinType, std::string& pin) override;
    CK_RV AnswerInvalidPin(int pinType, int remainingAttempts) override;
    void PinBlockedShown(int pinType) override;
    void PinLengthShown(int pinType) override;
    void PinPadShown(int pinType) override;
    void PinPadClosed() override;
    void KeyboardCancelled() override;

private:
    struct KeyboardAnswer {
        CK_RV result;
        std::string pin;
    };
    void Record(std::string event);

    mutable std::mutex mutex_;
    std::deque<KeyboardAnswer> keyboardAnswers_;
    std::deque<CK_RV> invalidPinAnswers_;
    std::vector<std::string> events_;
};
