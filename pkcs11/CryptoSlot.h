#pragma once
// Whether a slot's application can decipher with RSA, judged from the
// mechanisms the slot offers.

#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Pkcs11 {

// `flag` := true when CKM_RSA_PKCS or CKM_RSA_PKCS_OAEP is offered with
// CKF_DECRYPT. Errors of the mechanism calls are returned.
CK_RV IsCryptoSlot(CK_SLOT_ID slotId, bool* flag);

}  // namespace Brelt::MW::Pkcs11
