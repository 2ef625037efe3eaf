#pragma once
// Initialisation and finalisation of the module's library state, the internal
// operations behind C_Initialize, C_Finalize and process detach.

#include <winscard.h>

#include <cstdint>
#include <memory>

#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Pkcs11 {

// Where the reader monitor runs: on a thread of the module, or — when the
// application has said the library must not create threads — in short polls
// at the start of the slot calls, on the application's threads.
enum class MonitorThreading { ModuleThread, CallerThreads };

// Builds the library state; CKR_OK or CKR_GENERAL_ERROR.
CK_RV InitializePKCS11(MonitorThreading threading = MonitorThreading::ModuleThread);

// Without a monitor thread: one poll of the readers that does not wait for a
// change, applying what it finds to the slot list. Does nothing while a
// monitor thread runs or the library is not initialised. Never throws.
void PollReadersOnCallerThread() noexcept;

// True while the initialised library has a monitor thread of its own.
bool LibraryHasMonitorThread();

// Tears the library state down; processDetach is set when the module is being
// unloaded (or the process exits) while still initialised. Always CKR_OK.
CK_RV FinalizePKCS11(bool processDetach);

// Closes all sessions and releases the given PC/SC contexts (0 for none),
// clearing them in the registry.
void FreeStatus(SCARDCONTEXT apiContext, SCARDCONTEXT waitContext);

// True from a successful InitializePKCS11 until FinalizePKCS11.
bool IsLibraryInitialized();

// Changes at every initialisation and finalisation.
uint64_t LibraryGeneration();

class CardMutex;
// The cross-process mutex opened by the current initialisation; null while
// not initialised or when it could not be used.
std::shared_ptr<CardMutex> LibraryCardMutex();

// In a child process after fork(): forgets the parent's library state without
// touching anything it refers to (reader connections belong to the parent),
// so that the child can call C_Initialize again.
void AbandonLibraryStateAfterFork();

}  // namespace Brelt::MW::Pkcs11
