#pragma once
// What the module does when a process loads and unloads it, and in a child
// process after fork().

namespace Brelt::MW::Pkcs11 {

// Sets up logging from the environment, logs "Process attached" and registers
// the fork handler. Runs inside the dynamic loader: no threads, no dlopen.
void ProcessAttach();

// Registers, once, the exit handler that finalises the library before the
// crypto library's allocator is torn down. Called by C_Initialize, not at
// load: starting that allocator (its locked-memory pool) costs about a
// millisecond and 2 MB, which a host that only loads the module never needs.
void PrepareProcessExit();

// Logs the detach, finalises the library when it is still initialised, logs
// "Process detached" and closes the log.
void ProcessDetach();

// Child side of fork(): the child must call C_Initialize again, so it forgets
// the parent's library state (without touching the parent's reader
// connections) and gets fresh, unlocked API mutexes.
void AfterForkInChild();

}  // namespace Brelt::MW::Pkcs11
