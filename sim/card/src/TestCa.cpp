#include <cardsim/TestCa.h>

#include "KeyStore.h"

#include <botan/locking_allocator.h>

namespace cardsim {

Bytes TestCaCertificate()
{
    // The key cache holds locked memory: the locked pool must be built first
    // so that it is torn down after the cache when a short program exits.
    Botan::mlock_allocator::instance();
    return detail::TestCaCertificate();
}

}  // namespace cardsim
