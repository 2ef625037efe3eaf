// Internal operations whose card layer is not yet part of the module. Until
// it is, the slot list is empty and an operation that would need a card
// answers CKR_FUNCTION_NOT_SUPPORTED.
// Each definition here moves to its own file when the real operation lands.

#include "pkcs11/InternalOperations.h"

#include "Logger.h"

namespace Brelt::MW::Pkcs11 {



}  // namespace Brelt::MW::Pkcs11
