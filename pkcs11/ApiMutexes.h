#pragma once
// The process-wide locks of the PKCS#11 interface.
//
// Each is a plain boost::mutex held by a scoped lock for the whole body of an
// export. They are heap objects that are never destroyed: the unload hook may
// run after the module's static destructors (at process exit), and must still
// find them usable.

#include <boost/thread/mutex.hpp>

namespace Brelt::MW::Pkcs11 {

// Held by C_Initialize and C_Finalize.
boost::mutex& InitializationMutex();

// Held by every export that talks to a token.
boost::mutex& TokenMutex();

// Held while the slot list is read or changed (slot listing, reader monitor).
boost::mutex& SlotListMutex();

// In a child process after fork() only the forking thread exists; a lock that
// another parent thread held at the time would stay locked for ever. Replaces
// the three mutexes with fresh, unlocked ones (the old ones are left alone).
void RecreateApiMutexesAfterFork();

}  // namespace Brelt::MW::Pkcs11
