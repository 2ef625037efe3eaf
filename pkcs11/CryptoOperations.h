#pragma once
// The session-level cryptographic operations behind the signing, verifying,
// digest, deciphering and random-number calls. The handle-level operations of
// InternalOperations.h add the operation-state checks, the card context and
// the end of each operation around these.

#include "pkcs11/OperationContext.h"
#include "pkcs11/Session.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Pkcs11 {

// CKR_FUNCTION_CANCELED ("Token not present in slot %d") without the token.
CK_RV CheckTokenPresent(const Session& session, const char* function);

// Appends data to an operation; CKR_DATA_LEN_RANGE once the whole would
// exceed the key's modulus size.
CK_RV CollectOperationData(OperationContext& context, const CK_BYTE* data, CK_ULONG length);

CK_RV SignInit(Session& session, const CK_MECHANISM* mechanism, CK_OBJECT_HANDLE hKey);
CK_RV SignUpdate(Session& session, const CK_BYTE* part, CK_ULONG length);
CK_RV SignFinal(Session& session, CK_BYTE* signature, CK_ULONG* signatureLength);

CK_RV VerifyInit(Session& session, const CK_MECHANISM* mechanism, CK_OBJECT_HANDLE hKey);
CK_RV VerifyUpdate(Session& session, const CK_BYTE* part, CK_ULONG length);
CK_RV VerifyFinal(Session& session, const CK_BYTE* signature, CK_ULONG length);

CK_RV DigestInit(Session& session, const CK_MECHANISM* mechanism);
CK_RV DigestUpdate(Session& session, const CK_BYTE* part, CK_ULONG length);
// The digest's exact size, a larger buffer (the length becomes the digest's
// size) or CKR_BUFFER_TOO_SMALL with the size needed; a short buffer leaves
// the digest unfinished.
CK_RV DigestFinal(Session& session, CK_BYTE* digest, CK_ULONG* digestLength);

CK_RV DecryptInit(Session& session, const CK_MECHANISM* mechanism, CK_OBJECT_HANDLE hKey);
// Deciphering on the card inside the session's secure channel, the padding
// of CKM_RSA_PKCS_OAEP removed on the host. No application that becomes a
// slot has such a channel: CKR_FUNCTION_FAILED before any card command.
CK_RV Decrypt(Session& session, const CK_BYTE* encrypted, CK_ULONG encryptedLength, CK_BYTE* data,
              CK_ULONG* dataLength);

CK_RV GenerateRandom(Session& session, CK_BYTE* buffer, uint16_t length);

}  // namespace Brelt::MW::Pkcs11
