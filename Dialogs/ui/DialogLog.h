#pragma once
// Logging of the PIN dialogs. They write into the module's trace log through
// the host the module lent the library (nothing is written before that).
// The dialogs never log a PIN digit, a key label or the caller's text; only
// results and failures.

#include "Dialogs/PinDialogLibrary.h"

#include <exception>

// Called once by the library's entry; `host` stays valid for ever.
void SetDialogLogHost(const PinDialogHost* host);

// One record at the module's log `level` (kPinDialogLogError, kPinDialogLogDebug).
void LogDialogMessage(int level, const char* function, int line, const char* text);

// Writes the level-1 record of a caught exception with the given function
// name, source line and text.
void LogCaughtException(const char* function, int line, const char* text);

// Runs `body`; any exception is logged as above and swallowed, so that no
// exception leaves a dialog operation (many of them run inside Qt's event
// loop, which must never see one).
template <class Body>
bool RunGuarded(const char* function, int line, const char* text, Body&& body) noexcept
{
    try {
        body();
        return true;
    } catch (...) {
        LogCaughtException(function, line, text);
        return false;
    }
}
