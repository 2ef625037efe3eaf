#pragma once
// The module's side of the dialog library: finds libbrelt-pkcs11-dialogs.so
// in the folder of the module's own file and loads it, once per process, the
// first time a dialog has to appear. A host without a display never loads it.

#include "Dialogs/PinDialogLibrary.h"

// The library's table, loaded on first use; thread-safe. Null when no
// display can be used (Qt would abort the process) or the library cannot be
// loaded; both are logged under `function`, and the next dialog tries again.
const PinDialogTable* LoadPinDialogs(const char* function);

namespace PinDialogLoaderTesting {
// Programs that link the dialog code themselves (the dialog tests and the
// gallery) hand its entry here; it is used instead of loading the library.
void UseLinkedEntry(PinDialogLibraryEntry entry);
}  // namespace PinDialogLoaderTesting
