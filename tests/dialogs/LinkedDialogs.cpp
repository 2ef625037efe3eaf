// The dialog tests link the dialog code into the test program: the facade
// uses it in place of the library it would load next to the module.

#include "Dialogs/PinDialogLibrary.h"
#include "Dialogs/PinDialogLoader.h"

namespace {
const bool g_linked = [] {
    PinDialogLoaderTesting::UseLinkedEntry(&brelt_pkcs11_dialogs_entry);
    return true;
}();
}  // namespace
