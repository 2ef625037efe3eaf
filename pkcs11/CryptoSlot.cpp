#include "pkcs11/CryptoSlot.h"

#include <vector>

#include "LogTrace.h"
#include "pkcs11/InternalOperations.h"

namespace Brelt::MW::Pkcs11 {

CK_RV IsCryptoSlot(CK_SLOT_ID slotId, bool* flag)
{
    FunctionTrace trace("IsCryptoSlot");
    *flag = false;
    // The slot's list never holds more than 32 mechanisms.
    std::vector<CK_MECHANISM_TYPE> mechanisms(32);
    CK_ULONG count = mechanisms.size();
    if (CK_RV rv = GetMechanismList(slotId, mechanisms.data(), &count); rv != CKR_OK) {
        LOG_FAILED("IsCryptoSlot", rv);
        return trace.Result(rv);
    }
    mechanisms.resize(count);
    for (CK_MECHANISM_TYPE mechanism : mechanisms) {
        if (mechanism != CKM_RSA_PKCS && mechanism != CKM_RSA_PKCS_OAEP) continue;
        CK_MECHANISM_INFO info{};
        if (CK_RV rv = GetMechanismInfo(slotId, mechanism, &info); rv != CKR_OK) {
            LOG_FAILED("IsCryptoSlot", rv);
            return trace.Result(rv);
        }
        if ((info.flags & CKF_DECRYPT) != 0) {
            *flag = true;
            break;
        }
    }
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Pkcs11
