// The dialog library's one exported function and the table behind it: thin
// C wrappers around QtPinDialogs. Nothing may throw across the table.

#include "BaseTypes.h"
#include "Dialogs/PinDialogLibrary.h"
#include "Dialogs/ui/DialogLog.h"
#include "Dialogs/ui/QtPinDialogs.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>

using Brelt::MW::Base::HexBinary;

struct PinDialogSession {
    PinDialogSession(const char* language, int pinType) : dialogs(language ? language : "", pinType) {}
    QtPinDialogs dialogs;
};

namespace {

// Null for no text; throws on a text too long for a buffer.
std::optional<HexBinary> TextOf(const unsigned char* text, size_t length)
{
    if (text == nullptr)
        return std::nullopt;
    if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw std::bad_alloc();
    return HexBinary(text, static_cast<int32_t>(length), true);
}

template <class Call>
CK_RV Guarded(const char* function, Call&& call) noexcept
{
    CK_RV rv = CKR_FUNCTION_FAILED;
    RunGuarded(function, __LINE__, "Catching dialog library exception", [&] { rv = call(); });
    return rv;
}

PinDialogSession* Open(const char* language, int pinType)
{
    PinDialogSession* session = nullptr;
    RunGuarded("PinDialogLibrary::Open", __LINE__, "Catching dialog library exception",
               [&] { session = new PinDialogSession(language, pinType); });
    return session;
}

void Close(PinDialogSession* session)
{
    delete session;
}

void SetRemainingAttempts(PinDialogSession* session, int remainingAttempts)
{
    session->dialogs.SetRemainingAttempts(remainingAttempts);
}

void SetMinMaxPinLength(PinDialogSession* session, int minLength, int maxLength)
{
    session->dialogs.SetMinMaxPinLength(minLength, maxLength);
}

CK_RV ShowKeyboard(PinDialogSession* session, const unsigned char* text, size_t textLength, unsigned char** pin,
                   size_t* pinLength)
{
    if (pin == nullptr || pinLength == nullptr)
        return CKR_ARGUMENTS_BAD;
    *pin = nullptr;
    *pinLength = 0;
    return Guarded("PinDialogLibrary::ShowKeyboard", [&]() -> CK_RV {
        const std::optional<HexBinary> heading = TextOf(text, textLength);
        HexBinary* typed = nullptr;
        const CK_RV rv = session->dialogs.ShowVirtKeyDialog(heading ? &*heading : nullptr, &typed);
        const std::unique_ptr<HexBinary> owned(typed);
        if (rv != CKR_OK || typed == nullptr || typed->length <= 0)
            return rv == CKR_OK ? CKR_FUNCTION_FAILED : rv;
        // Handed over as plain bytes; the buffer's own copy is wiped here.
        auto* digits = new unsigned char[static_cast<size_t>(typed->length)];
        std::memcpy(digits, typed->data, static_cast<size_t>(typed->length));
        *pin = digits;
        *pinLength = static_cast<size_t>(typed->length);
        explicit_bzero(typed->data, static_cast<size_t>(typed->length));
        return CKR_OK;
    });
}

void ReleasePin(unsigned char* pin, size_t pinLength)
{
    if (pin == nullptr)
        return;
    explicit_bzero(pin, pinLength);
    delete[] pin;
}

CK_RV CancelKeyboard(PinDialogSession* session)
{
    return session->dialogs.CancelVirtKeyDialog();
}

CK_RV ShowInvalidPin(PinDialogSession* session)
{
    return session->dialogs.ShowInvalidPinDialog();
}

CK_RV ShowPinBlocked(PinDialogSession* session)
{
    return session->dialogs.ShowPinBlockedDialog();
}

CK_RV ShowPinLength(PinDialogSession* session, int pinType)
{
    return session->dialogs.ShowPinLengthErrDialog(pinType);
}

CK_RV ShowPinPad(PinDialogSession* session, const unsigned char* text, size_t textLength, int pinType)
{
    return Guarded("PinDialogLibrary::ShowPinPad", [&]() -> CK_RV {
        const std::optional<HexBinary> heading = TextOf(text, textLength);
        return session->dialogs.ShowPinPadDialog(heading ? &*heading : nullptr, pinType);
    });
}

CK_RV ClosePinPad(PinDialogSession* session)
{
    return session->dialogs.ClosePinPadDialog();
}

constexpr PinDialogTable kTable{
    kPinDialogLibraryVersion,
    sizeof(PinDialogTable),
    Open,
    Close,
    SetRemainingAttempts,
    SetMinMaxPinLength,
    ShowKeyboard,
    ReleasePin,
    CancelKeyboard,
    ShowInvalidPin,
    ShowPinBlocked,
    ShowPinLength,
    ShowPinPad,
    ClosePinPad,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const PinDialogTable* brelt_pkcs11_dialogs_entry(
    uint32_t version, const PinDialogHost* host)
{
    if (version != kPinDialogLibraryVersion || host == nullptr || host->version != kPinDialogLibraryVersion)
        return nullptr;
    SetDialogLogHost(host);
    return &kTable;
}
