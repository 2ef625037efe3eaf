#pragma once
// The mechanisms a slot offers: RSA PKCS#1 signing when the application's
// algorithm list has an RSA algorithm, and the five SHA digests on the host.

#include <vector>

#include "card/CardApplications.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Pkcs11 {

// The mechanism list of an application, each value once, in the order the
// mechanism calls report it.
std::vector<CK_MECHANISM_TYPE> MechanismsOf(const Card::ApplicationFacts& application);

// The information of one mechanism of an application (zeroes for a
// mechanism it does not offer).
CK_MECHANISM_INFO MechanismInfoOf(const Card::ApplicationFacts& application, CK_MECHANISM_TYPE type);

// True when `value` is in `list`.
bool ExistInList(CK_ULONG value, const std::vector<CK_ULONG>& list);

}  // namespace Brelt::MW::Pkcs11
