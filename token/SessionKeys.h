#pragma once
// Session RSA public keys: the record a creation template is collected into,
// the checks such a template must pass, and the object built from it.

#include <cstdint>
#include <memory>
#include <vector>

#include "BaseTypes.h"
#include "pkcs11/cryptoki.h"
#include "token/ApplicationInfo.h"
#include "token/CIOObject.h"

namespace Brelt::MW::Token {

// A key template's attributes and public values, collected for creation.
struct RsaPublicKeyData {
    CK_OBJECT_HANDLE handle = 0;
    Bytes iD;
    Bytes label;
    CK_BBOOL isPrivate = CK_FALSE;
    CK_BBOOL modifiable = CK_TRUE;
    CK_BBOOL local = CK_FALSE;
    CK_BBOOL token = CK_FALSE;
    Bytes publicExponent;
    Bytes modulus;
    uint16_t modulusBits = 0;
    bool signPresent = false, verifyPresent = false, encryptPresent = false, decryptPresent = false;
    CK_BBOOL sign = CK_FALSE, verify = CK_FALSE, encrypt = CK_FALSE, decrypt = CK_FALSE;
    bool alwaysAuthenticatePresent = false;
    CK_BBOOL alwaysAuthenticate = CK_FALSE;
    std::vector<CK_MECHANISM_TYPE> allowedMechanisms;
};

// Position of the first supported-algorithm entry that stands for
// `mechanism`; -1 when none (positions are counted in 8 bits).
int8_t GetSupportedAlgorithmIndex(const CIAInfo* cia, CK_MECHANISM_TYPE mechanism);

// A public key made by an application must be able to verify and must not
// encrypt: CKA_VERIFY true, CKA_ENCRYPT absent or false (values of another
// length than CK_BBOOL are refused).
CK_RV ValidatePublicKeyType(const CK_ATTRIBUTE* attributes, CK_ULONG count, RsaPublicKeyData& record);
// CKA_ALLOWED_MECHANISMS may only list CKM_RSA_PKCS, and must list it for a
// key that signs or verifies.
CK_RV ValidateKeyMechanisms(const CK_ATTRIBUTE* attributes, CK_ULONG count, RsaPublicKeyData& record);

// The algorithm references of a new key: one per allowed mechanism, or the
// application's CKM_RSA_PKCS (CKM_RSA_X_509 on CardOS 5.0) entry.
CK_RV CreateRsaAlgReferenceList(const ApplicationInfo& application, CommonKeyAttributes& key,
                                const RsaPublicKeyData& record);

// Builds the session key from the record and adds it to `sessionObjects`;
// its handle goes into the record. Nothing is added on failure.
CK_RV CreateSessionPubKey(const ApplicationInfo& application, CIOObjectLists& sessionObjects,
                          RsaPublicKeyData& record);

}  // namespace Brelt::MW::Token
