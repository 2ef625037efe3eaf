#include "Dialogs/ui/VirtualKeyboard.h"

#include "BaseTypes.h"
#include "Dialogs/PinDialogLoader.h"
#include "Dialogs/ui/PinDialogScript.h"
#include "Logger.h"

#include <cstdint>
#include <string.h>

using Brelt::MW::Base::HexBinary;

namespace {

// No exception leaves the facade: it is logged with the operation's name,
// line and text, and the operation answers CKR_FUNCTION_FAILED.
template <class Body>
void RunGuarded(const char* function, int line, const char* text, Body&& body) noexcept
{
    try {
        body();
    } catch (...) {
        LogMessage(LOG_LEVEL_ERROR, true, function, line, true, "%s", text);
    }
}

const unsigned char* TextData(const HexBinary* text)
{
    return text != nullptr ? (text->data != nullptr ? text->data : reinterpret_cast<const unsigned char*>(""))
                           : nullptr;
}

size_t TextLength(const HexBinary* text)
{
    return text != nullptr && text->length > 0 ? static_cast<size_t>(text->length) : 0;
}

}  // namespace

VirtualKeyboard::VirtualKeyboard(std::string language, int pinType)
    : pinType_(pinType), language_(std::move(language))
{
}

VirtualKeyboard::~VirtualKeyboard()
{
    RunGuarded("VirtualKeyboard::~VirtualKeyboard", __LINE__, "Catching VirtualKeyboard destructor exception", [this] {
        if (session_ != nullptr)
            table_->close(session_);
    });
}

PinDialogSession* VirtualKeyboard::Session(const char* function)
{
    {
        std::lock_guard lock(mutex_);
        if (session_ != nullptr)
            return session_;
    }
    // Loaded without the lock: a cancel must not wait for it.
    const PinDialogTable* table = LoadPinDialogs(function);
    if (table == nullptr)
        return nullptr;
    PinDialogSession* session = table->open(language_.c_str(), pinType_);
    if (session == nullptr)
        return nullptr;
    std::lock_guard lock(mutex_);
    table->set_remaining_attempts(session, remainingAttempts_);
    table->set_min_max_pin_length(session, minPinLength_, maxPinLength_);
    table_ = table;
    session_ = session;
    return session;
}

PinDialogSession* VirtualKeyboard::OpenedSession()
{
    std::lock_guard lock(mutex_);
    return session_;
}

void VirtualKeyboard::SetRemainingAttempts(int remainingAttempts)
{
    RunGuarded("VirtualKeyboard::SetRemainingAttempts", 302,
               "Catching VirtualKeyboard::SetRemainingAttempts(...) exception", [&] {
                   std::lock_guard lock(mutex_);
                   remainingAttempts_ = remainingAttempts;
                   if (session_ != nullptr)
                       table_->set_remaining_attempts(session_, remainingAttempts);
               });
}

void VirtualKeyboard::SetMinMaxPinLength(int minLength, int maxLength)
{
    RunGuarded("VirtualKeyboard::SetMinMaxPinLength", 315,
               "Catching VirtualKeyboard::SetMinMaxPinLength(...) exception", [&] {
                   std::lock_guard lock(mutex_);
                   minPinLength_ = minLength;
                   maxPinLength_ = maxLength;
                   if (session_ != nullptr)
                       table_->set_min_max_pin_length(session_, minLength, maxLength);
               });
}

CK_RV VirtualKeyboard::ShowVirtKeyDialog(const HexBinary* text, HexBinary** pinOut)
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
                           *pinOut = new HexBinary(reinterpret_cast<const unsigned char*>(pin.data()),
                                                   static_cast<int32_t>(pin.size()), true);
                       explicit_bzero(pin.data(), pin.size());
                       return;
                   }
                   {
                       std::lock_guard lock(mutex_);
                       keyboardStarting_ = true;
                       keyboardCancelled_ = false;
                   }
                   PinDialogSession* session = Session("VirtualKeyboard::ShowVirtKeyDialog");
                   {
                       std::lock_guard lock(mutex_);
                       keyboardStarting_ = false;
                       if (keyboardCancelled_) {
                           rv = CKR_FUNCTION_CANCELED;
                           return;
                       }
                   }
                   if (session == nullptr)
                       return;
                   unsigned char* pin = nullptr;
                   size_t pinLength = 0;
                   rv = table_->show_keyboard(session, TextData(text), TextLength(text), &pin, &pinLength);
                   if (rv == CKR_OK && pin != nullptr && pinLength > 0 && pinLength <= INT32_MAX)
                       *pinOut = new HexBinary(pin, static_cast<int32_t>(pinLength), true);
                   else if (rv == CKR_OK)
                       rv = CKR_FUNCTION_FAILED;
                   table_->release_pin(pin, pinLength);
               });
    if (rv != CKR_OK && *pinOut != nullptr) {
        explicit_bzero((*pinOut)->data, static_cast<size_t>((*pinOut)->length));
        delete *pinOut;
        *pinOut = nullptr;
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
                   PinDialogSession* session = nullptr;
                   {
                       std::lock_guard lock(mutex_);
                       if (keyboardStarting_)
                           keyboardCancelled_ = true;
                       session = session_;
                   }
                   if (session != nullptr)
                       table_->cancel_keyboard(session);
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
                   if (PinDialogSession* session = Session("VirtualKeyboard::ShowInvalidPinDialog"))
                       rv = table_->show_invalid_pin(session);
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
                   if (PinDialogSession* session = Session("VirtualKeyboard::ShowPinBlockedDialog"))
                       rv = table_->show_pin_blocked(session);
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
                   if (PinDialogSession* session = Session("VirtualKeyboard::ShowPinLengthErrDialog"))
                       rv = table_->show_pin_length(session, pinType);
               });
    return rv;
}

CK_RV VirtualKeyboard::ShowPinPadDialog(const HexBinary* text, int pinType)
{
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded("VirtualKeyboard::ShowPinPadDialog", 977, "Catching VirtualKeyboard::ShowPinPadDialog() exception", [&] {
        if (auto script = CurrentPinDialogScript()) {
            script->PinPadShown(pinType);
            rv = CKR_OK;
            return;
        }
        if (PinDialogSession* session = Session("VirtualKeyboard::ShowPinPadDialog"))
            rv = table_->show_pin_pad(session, TextData(text), TextLength(text), pinType);
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
                   // Without a session no notice was ever shown.
                   if (PinDialogSession* session = OpenedSession())
                       table_->close_pin_pad(session);
               });
    return CKR_OK;
}
