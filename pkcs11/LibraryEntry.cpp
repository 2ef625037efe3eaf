// Load and unload hooks of the shared module. They run inside the dynamic
// loader, so they only set up and tear down logging and process-wide state.

#include "pkcs11/ProcessLifetime.h"

extern "C" {
__attribute__((constructor)) static void BreltModuleLoaded() { Brelt::MW::Pkcs11::ProcessAttach(); }
__attribute__((destructor)) static void BreltModuleUnloaded() { Brelt::MW::Pkcs11::ProcessDetach(); }
}
