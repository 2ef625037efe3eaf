#pragma once
// The boundary between the module and its PIN-dialog library
// (libbrelt-pkcs11-dialogs.so). The module links no Qt; it loads the library
// the first time a dialog has to appear and reaches it only through the
// table below, which the library's one exported function hands out. Plain C
// types only, so that the two sides share no C++ object layout and no
// exception crosses: every function catches everything on its own side.
//
// A change of any signature or of the table's order raises the version; a
// library that does not know the module's version answers null and the
// module shows no dialog.

#include "pkcs11/cryptoki.h"

#include <stddef.h>
#include <stdint.h>

inline constexpr uint32_t kPinDialogLibraryVersion = 1;
inline constexpr const char kPinDialogLibraryFile[] = "libbrelt-pkcs11-dialogs.so";
inline constexpr const char kPinDialogLibraryEntry[] = "brelt_pkcs11_dialogs_entry";

// What the module lends the library: its trace log. `level` is one of the
// module's log levels (the two the dialogs use below); `text` is written as
// it is.
inline constexpr int kPinDialogLogError = 1;
inline constexpr int kPinDialogLogDebug = 4;
struct PinDialogHost {
    uint32_t version;
    void (*log)(int level, const char* function, int line, const char* text);
};

// One set of dialogs per login: the module-side facade's counterpart.
struct PinDialogSession;

// Text arguments: null for none, else `length` bytes whose first byte is 0
// and whose rest is UTF-8 (shown in place of the dialog's heading).
struct PinDialogTable {
    uint32_t version;
    uint32_t size;  // sizeof(PinDialogTable) of the library
    // Null when the session could not be made (logged).
    PinDialogSession* (*open)(const char* language, int pinType);
    // Closes a PIN-pad notice still up, then frees the session.
    void (*close)(PinDialogSession* session);
    void (*set_remaining_attempts)(PinDialogSession* session, int remainingAttempts);
    void (*set_min_max_pin_length)(PinDialogSession* session, int minLength, int maxLength);
    // CKR_OK: *pin holds *pinLength ASCII digits, given back through
    // release_pin; otherwise *pin is null.
    CK_RV (*show_keyboard)(PinDialogSession* session, const unsigned char* text, size_t textLength,
                           unsigned char** pin, size_t* pinLength);
    // Zeroes and frees a PIN from show_keyboard.
    void (*release_pin)(unsigned char* pin, size_t pinLength);
    // Any thread, never blocks.
    CK_RV (*cancel_keyboard)(PinDialogSession* session);
    CK_RV (*show_invalid_pin)(PinDialogSession* session);
    CK_RV (*show_pin_blocked)(PinDialogSession* session);
    CK_RV (*show_pin_length)(PinDialogSession* session, int pinType);
    CK_RV (*show_pin_pad)(PinDialogSession* session, const unsigned char* text, size_t textLength, int pinType);
    CK_RV (*close_pin_pad)(PinDialogSession* session);
};

// The library's only exported function: the table for `version`, or null
// when the library does not speak it. `host` must stay valid for ever.
using PinDialogLibraryEntry = const PinDialogTable* (*)(uint32_t version, const PinDialogHost* host);
extern "C" const PinDialogTable* brelt_pkcs11_dialogs_entry(uint32_t version, const PinDialogHost* host);
