#include "Dialogs/ui/PinDialogScript.h"

#include <string.h>

namespace {
std::mutex g_scriptMutex;
std::shared_ptr<PinDialogScript> g_script;

std::string Call(const char* name, int a)
{
    return std::string(name) + "(" + std::to_string(a) + ")";
}
}  // namespace

void SetPinDialogScript(std::shared_ptr<PinDialogScript> script)
{
    std::lock_guard lock(g_scriptMutex);
    g_script = std::move(script);
}

std::shared_ptr<PinDialogScript> CurrentPinDialogScript()
{
    std::lock_guard lock(g_scriptMutex);
    return g_script;
}

void QueuedPinDialogScript::AddPin(std::string pin)
{
    std::lock_guard lock(mutex_);
    keyboardAnswers_.push_back({CKR_OK, std::move(pin)});
}

void QueuedPinDialogScript::AddKeyboardResult(CK_RV result)
{
    std::lock_guard lock(mutex_);
    keyboardAnswers_.push_back({result, std::string()});
}

void QueuedPinDialogScript::AddInvalidPinAnswer(CK_RV result)
{
    std::lock_guard lock(mutex_);
    invalidPinAnswers_.push_back(result);
}

std::vector<std::string> QueuedPinDialogScript::Events() const
{
    std::lock_guard lock(mutex_);
    return events_;
}

void QueuedPinDialogScript::Record(std::string event)
{
    events_.push_back(std::move(event));
}

CK_RV QueuedPinDialogScript::AnswerVirtualKeyboard(int pinType, std::string& pin)
{
    std::lock_guard lock(mutex_);
    Record(Call("keyboard", pinType));
    if (keyboardAnswers_.empty())
        return CKR_FUNCTION_CANCELED;
    KeyboardAnswer answer = std::move(keyboardAnswers_.front());
    keyboardAnswers_.pop_front();
    pin = answer.pin;
    explicit_bzero(answer.pin.data(), answer.pin.size());
    return answer.result;
}

CK_RV QueuedPinDialogScript::AnswerInvalidPin(int pinType, int remainingAttempts)
{
    std::lock_guard lock(mutex_);
    Record("invalid(" + std::to_string(pinType) + "," + std::to_string(remainingAttempts) + ")");
    if (invalidPinAnswers_.empty())
        return CKR_FUNCTION_CANCELED;
    const CK_RV answer = invalidPinAnswers_.front();
    invalidPinAnswers_.pop_front();
    return answer;
}

void QueuedPinDialogScript::PinBlockedShown(int pinType)
{
    std::lock_guard lock(mutex_);
    Record(Call("blocked", pinType));
}

void QueuedPinDialogScript::PinLengthShown(int pinType)
{
    std::lock_guard lock(mutex_);
    Record(Call("length", pinType));
}

void QueuedPinDialogScript::PinPadShown(int pinType)
{
    std::lock_guard lock(mutex_);
    Record(Call("pinpad", pinType));
}

void QueuedPinDialogScript::PinPadClosed()
{
    std::lock_guard lock(mutex_);
    Record("pinpad-closed");
}

void QueuedPinDialogScript::KeyboardCancelled()
{
    std::lock_guard lock(mutex_);
    Record("cancel");
}
