// Digests, deciphering and random numbers behind the call frame.
//
// Digests are computed on the host. Random numbers come from the card's GET
// CHALLENGE. Deciphering holds the card's PC/SC transaction from
// C_DecryptInit to C_Decrypt (recorded in the session, ended exactly once);
// the card command itself needs a secure channel that no application that
// becomes a slot has, so there C_Decrypt answers CKR_FUNCTION_FAILED before it.

#include <algorithm>
#include <limits>

#include <botan/mem_ops.h>

#include "DigestEngine.h"
#include "HostCryptoResult.h"
#include "HostRsa.h"
#include "LogTrace.h"
#include "card/CardCommands.h"
#include "card/StatusCache.h"
#include "pkcs11/CardContext.h"
#include "pkcs11/CryptoOperations.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/KeyRecords.h"
#include "pkcs11/LoginOperations.h"
#include "pkcs11/Session.h"
#include "pkcs11/SessionOperations.h"
#include "token/ApplicationInfoList.h"
#include "token/AttributeGetters.h"
#include "token/CardDecipher.h"
#include "token/CardObjects.h"
#include "token/ObjectHandles.h"

namespace Brelt::MW::Pkcs11 {

using namespace Brelt::MW::Token;

namespace {

CK_RV Fail(FunctionTrace& trace, int line, CK_RV rv)
{
    TraceFailed(trace.Function(), line, rv);
    return trace.Result(rv);
}

// The digest engine's word for a mechanism: the output size in bits, 1 for SHA-1.
uint32_t DigestWord(CK_MECHANISM_TYPE mechanism)
{
    switch (mechanism) {
    case CKM_SHA_1: return 1;
    case CKM_SHA224: return 224;
    case CKM_SHA256: return 256;
    case CKM_SHA384: return 384;
    case CKM_SHA512: return 512;
    default: return 0;
    }
}

bool IsDigestActive(const Crypto::DigestContext& context)
{
    return context.digest != nullptr && context.finished == 0;
}

// Size in bytes of the hash an OAEP parameter names; 0 for any other.
CK_ULONG OaepHashBytes(CK_MECHANISM_TYPE hash)
{
    uint32_t bytes = 0;
    Crypto::GetDigestLength(hash, &bytes);
    return bytes;
}

CK_RV CheckOaepParameter(const CK_MECHANISM* mechanism)
{
    // The parameter is read as a whole structure: a shorter one would be
    // read past its end.
    if (mechanism->pParameter == nullptr || mechanism->ulParameterLen != sizeof(CK_RSA_PKCS_OAEP_PARAMS))
        return CKR_MECHANISM_PARAM_INVALID;
    const auto* params = static_cast<const CK_RSA_PKCS_OAEP_PARAMS*>(mechanism->pParameter);
    const bool paired = (params->mgf == CKG_MGF1_SHA1 && params->hashAlg == CKM_SHA_1) ||
                        (params->mgf == CKG_MGF1_SHA256 && params->hashAlg == CKM_SHA256) ||
                        (params->mgf == CKG_MGF1_SHA384 && params->hashAlg == CKM_SHA384) ||
                        (params->mgf == CKG_MGF1_SHA512 && params->hashAlg == CKM_SHA512);
    return paired ? CKR_OK : CKR_MECHANISM_PARAM_INVALID;
}

// The largest plaintext a key of that size can give back with the
// operation's mechanism (0 when none fits).
CK_ULONG PlaintextRoom(const OperationContext& context)
{
    const CK_ULONG modulusBytes = (context.modulusBits + 7UL) / 8UL;
    CK_ULONG overhead = 11;
    if (context.mechanism && context.mechanism->Type() == CKM_RSA_PKCS_OAEP) {
        const auto* params = static_cast<const CK_RSA_PKCS_OAEP_PARAMS*>(context.mechanism->Get()->pParameter);
        overhead = 2 * OaepHashBytes(params != nullptr ? params->hashAlg : CKM_SHA_1) + 2;
    }
    return modulusBytes > overhead ? modulusBytes - overhead : 0;
}

void EndDecryptOperation(Session& session)
{
    ResetOperation(session.decryptContext);
    if (session.TakeHeldTransaction(HeldTransaction::Decrypt)) ReleaseCardContext(session, true);
}

void EndDecryptOperationQuietly(Session& session) noexcept
{
    try {
        EndDecryptOperation(session);
    } catch (...) {
    }
}

template <typename Body>
CK_RV InProfileContext(CK_SESSION_HANDLE hSession, Body&& body)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    ProfileContext scope(*session);
    if (CK_RV rv = scope.Open(); rv != CKR_OK) return rv;
    return body(*session);
}

}  // namespace

// --- digests ---

CK_RV DigestInit(Session& session, const CK_MECHANISM* mechanism)
{
    FunctionTrace trace("DigestInit");
    Crypto::DigestContext& context = session.digestContext;
    const uint32_t word = DigestWord(mechanism->mechanism);
    if (word == 0) return trace.Result(CKR_ARGUMENTS_BAD);
    context.hashSize = word;
    if (Crypto::HashInit(&context) != Crypto::CRYPTO_OK) return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    return trace.Result(CKR_OK);
}

CK_RV DigestUpdate(Session& session, const CK_BYTE* part, CK_ULONG length)
{
    FunctionTrace trace("DigestUpdate");
    // The engine takes 32-bit lengths: longer input goes in pieces.
    constexpr CK_ULONG kPiece = 0x40000000UL;
    do {
        const CK_ULONG piece = std::min(length, kPiece);
        const int result = Crypto::HashUpdate(&session.digestContext, part, static_cast<uint32_t>(piece));
        if (result == Crypto::CRYPTO_BAD_INPUT) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
        if (result != Crypto::CRYPTO_OK) return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
        part += piece;
        length -= piece;
    } while (length > 0);
    return trace.Result(CKR_OK);
}

CK_RV DigestFinal(Session& session, CK_BYTE* digest, CK_ULONG* digestLength)
{
    FunctionTrace trace("DigestFinal");
    Crypto::DigestContext& context = session.digestContext;
    uint32_t needed = 0;
    if (Crypto::GetDigestOutputLength(context.hashSize, &needed) != Crypto::CRYPTO_OK)
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    if (*digestLength < needed) {
        *digestLength = needed;
        return Fail(trace, __LINE__, CKR_BUFFER_TOO_SMALL);
    }
    if (Crypto::HashFinal(&context, digest, &needed) != Crypto::CRYPTO_OK)
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    *digestLength = needed;
    return trace.Result(CKR_OK);
}

CK_RV DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    return InProfileContext(hSession, [&](Session& session) { return DigestInit(session, pMechanism); });
}

namespace {

// The digest length of the session's digest for a length query.
CK_RV AnswerDigestLength(const Session& session, CK_ULONG_PTR pulDigestLen)
{
    if (!IsDigestActive(session.digestContext)) return CKR_OPERATION_NOT_INITIALIZED;
    uint32_t length = 0;
    if (Crypto::GetDigestOutputLength(session.digestContext.hashSize, &length) != Crypto::CRYPTO_OK)
        return CKR_ARGUMENTS_BAD;
    *pulDigestLen = length;
    return CKR_OK;
}

}  // namespace

CK_RV Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
             CK_ULONG_PTR pulDigestLen)
{
    return InProfileContext(hSession, [&](Session& session) {
        if (pDigest == nullptr) return AnswerDigestLength(session, pulDigestLen);
        Crypto::DigestContext& context = session.digestContext;
        if (!IsDigestActive(context) || context.updateStarted != 0) return CKR_OPERATION_NOT_INITIALIZED;
        // A short buffer is answered before the data go in, so the caller
        // can retry with the same data.
        uint32_t needed = 0;
        Crypto::GetDigestOutputLength(context.hashSize, &needed);
        if (*pulDigestLen < needed) {
            *pulDigestLen = needed;
            return CKR_BUFFER_TOO_SMALL;
        }
        CK_RV rv = DigestUpdate(session, pData, ulDataLen);
        if (rv == CKR_OK) rv = DigestFinal(session, pDigest, pulDigestLen);
        if (rv != CKR_BUFFER_TOO_SMALL) Crypto::ResetDigestContext(&context);
        return rv;
    });
}

CK_RV DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return InProfileContext(hSession, [&](Session& session) {
        if (!IsDigestActive(session.digestContext)) return CKR_OPERATION_NOT_INITIALIZED;
        return DigestUpdate(session, pPart, ulPartLen);
    });
}

CK_RV DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    return InProfileContext(hSession, [&](Session& session) {
        if (pDigest == nullptr) return AnswerDigestLength(session, pulDigestLen);
        if (!IsDigestActive(session.digestContext)) return CKR_OPERATION_NOT_INITIALIZED;
        const CK_RV rv = DigestFinal(session, pDigest, pulDigestLen);
        if (rv != CKR_BUFFER_TOO_SMALL) Crypto::ResetDigestContext(&session.digestContext);
        return rv;
    });
}

// --- random numbers ---

CK_RV GenerateRandom(Session& session, CK_BYTE* buffer, uint16_t length)
{
    FunctionTrace trace("GenerateRandom");
    const Card::SlotPtr slot = Card::StatusCache::GetSlot(session.SlotId());
    if (!slot) return Fail(trace, __LINE__, CKR_DEVICE_REMOVED);
    ApplicationInfoPtr application;
    CK_RV rv = GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), application);
    if (rv == CKR_OK && !application) rv = CKR_FUNCTION_FAILED;
    if (rv == CKR_OK)
        rv = Card::SetIntoIasAppDF(session.LastStatusWord(), slot.get(), application->IasAid.get(),
                                   application->Profile, [] { return false; });
    if (rv != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, "GenerateRandom", __LINE__, true, "Couldn't select the application.");
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    if (GenerateRandomData(session.SlotId(), session.LastStatusWord(), buffer, length) != CKR_OK)
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    return trace.Result(CKR_OK);
}

CK_RV GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen)
{
    // The export admits at most 255 bytes, one GET CHALLENGE.
    if (ulRandomLen > 0xFF) return CKR_ARGUMENTS_BAD;
    return InProfileContext(hSession, [&](Session& session) {
        return GenerateRandom(session, pRandomData, static_cast<uint16_t>(ulRandomLen));
    });
}

// --- deciphering ---

CK_RV DecryptInit(Session& session, const CK_MECHANISM* mechanism, CK_OBJECT_HANDLE hKey)
{
    FunctionTrace trace("DecryptInit");
    const Card::SlotPtr slot = Card::StatusCache::GetSlot(session.SlotId());
    if (!slot) return Fail(trace, __LINE__, CKR_DEVICE_REMOVED);
    ApplicationInfoPtr application;
    if (GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), application) != CKR_OK || !application ||
        Card::SetIntoCiaAppDF(session.LastStatusWord(), slot.get(), application->Aid.get()) != CKR_OK)
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    if (hKey == 0 || HandleListKind(hKey) != kKindRsaPrivateKey) return Fail(trace, __LINE__, CKR_KEY_HANDLE_INVALID);
    if (CK_RV rv = CheckIfCIAPinInitialized(session); rv != CKR_OK) return Fail(trace, __LINE__, rv);

    KeyRecord key;
    if (FindKeyRecord(session, hKey, key) != CKR_OK || key.type != kTypeRsaPrivateKey)
        return Fail(trace, __LINE__, CKR_KEY_HANDLE_INVALID);
    bool allowed = false;
    if (CheckKeyAccess(session, key, hKey, &allowed) != CKR_OK || !allowed)
        return Fail(trace, __LINE__, CKR_USER_NOT_LOGGED_IN);
    CK_ULONG modulusBits = 0;
    CK_BBOOL decrypt = CK_FALSE;
    CK_MECHANISM_TYPE allowedMechanisms[32] = {};
    CK_ATTRIBUTE attributes[] = {
        {CKA_MODULUS_BITS, &modulusBits, sizeof(modulusBits)},
        {CKA_DECRYPT, &decrypt, sizeof(decrypt)},
        {CKA_ALLOWED_MECHANISMS, allowedMechanisms, sizeof(allowedMechanisms)},
    };
    if (ReadKeyAttributes(key, hKey, attributes, 3) != CKR_OK) return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    if (attributes[0].ulValueLen != sizeof(modulusBits)) modulusBits = 0;
    if (attributes[1].ulValueLen != sizeof(decrypt) || decrypt != CK_TRUE)
        return Fail(trace, __LINE__, CKR_KEY_FUNCTION_NOT_PERMITTED);
    // As for signing: the operation keeps 16 bits of the size, so a key it
    // cannot carry, or one of no size, is refused rather than cut.
    if (modulusBits == 0 || modulusBits > 0xFFFF) return Fail(trace, __LINE__, CKR_KEY_SIZE_RANGE);
    const auto storedBits = static_cast<uint16_t>(modulusBits);
    if (mechanism->mechanism == CKM_RSA_PKCS_OAEP) {
        if (CK_RV rv = CheckOaepParameter(mechanism); rv != CKR_OK) return Fail(trace, __LINE__, rv);
        // A block smaller than two hashes and two bytes holds no OAEP encoding.
        const auto* params = static_cast<const CK_RSA_PKCS_OAEP_PARAMS*>(mechanism->pParameter);
        if ((storedBits + 7UL) / 8UL < 2 * OaepHashBytes(params->hashAlg) + 2)
            return Fail(trace, __LINE__, CKR_KEY_SIZE_RANGE);
    }

    OperationContext& context = session.decryptContext;
    ResetOperation(context);
    context.mechanism = CopyMechanism(mechanism);
    if (!context.mechanism) return Fail(trace, __LINE__, CKR_HOST_MEMORY);
    context.hKey = hKey;
    context.modulusBits = storedBits;
    return trace.Result(CKR_OK);
}

CK_RV Decrypt(Session& session, const CK_BYTE* encrypted, CK_ULONG encryptedLength, CK_BYTE* data,
              CK_ULONG* dataLength)
{
    FunctionTrace trace("Decrypt");
    // The card deciphers only under the secure channel of the profiles that
    // have one; no application that becomes a slot has such a channel.
    DecipherKey key;
    key.channel = Card::StatusCache::GetAuthContext(session);
    if (!key.channel) return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    OperationContext& context = session.decryptContext;
    KeyRecord record;
    if (CK_RV rv = FindKeyRecord(session, context.hKey, record); rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (!context.mechanism) return Fail(trace, __LINE__, CKR_OPERATION_NOT_INITIALIZED);
    key.slotId = session.SlotId();
    key.lastStatus = session.LastStatusWord();
    key.key = record.object;

    std::vector<uint8_t> answer;
    const CK_MECHANISM* mechanism = context.mechanism->Get();
    CK_RV rv = DecipherOnCard(key, mechanism->mechanism, encrypted, encryptedLength, answer);
    if (rv == CKR_OK) {
        uint32_t length = *dataLength > 0xFFFFFFFFUL ? 0xFFFFFFFFU : static_cast<uint32_t>(*dataLength);
        const int result = Crypto::DecryptToBuffer(answer.data(), static_cast<uint32_t>(answer.size()), data, &length,
                                                   context.modulusBits, mechanism);
        if (result == Crypto::CRYPTO_OK || result == Crypto::CRYPTO_BUFFER_TOO_SMALL) *dataLength = length;
        rv = result == Crypto::CRYPTO_OK               ? CKR_OK
             : result == Crypto::CRYPTO_BUFFER_TOO_SMALL ? CKR_BUFFER_TOO_SMALL
                                                          : CKR_FUNCTION_FAILED;
    }
    Botan::secure_scrub_memory(answer.data(), answer.size());
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    return trace.Result(CKR_OK);
}

CK_RV DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    if (IsOperationActive(session->decryptContext)) return CKR_OPERATION_ACTIVE;
    if (CK_RV rv = EstablishCardContext(*session, true); rv != CKR_OK) {
        ResetOperation(session->decryptContext);
        return rv;
    }
    if (!session->NoteTransactionHeld(HeldTransaction::Decrypt)) ReleaseCardContext(*session, true);
    CK_RV rv = CKR_FUNCTION_FAILED;
    try {
        rv = DecryptInit(*session, pMechanism, hKey);
    } catch (...) {
        EndDecryptOperationQuietly(*session);
        throw;
    }
    if (rv != CKR_OK) EndDecryptOperation(*session);
    return rv;
}

CK_RV Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
              CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    try {
        OperationContext& context = session->decryptContext;
        const CK_STATE state = session->State();
        CK_RV rv = CKR_OK;
        if (state != CKS_RO_USER_FUNCTIONS && state != CKS_RW_USER_FUNCTIONS)
            rv = CKR_USER_NOT_LOGGED_IN;
        else if (!IsOperationActive(context))
            rv = CKR_OPERATION_NOT_INITIALIZED;
        else if (!context.data.empty())
            rv = CKR_DATA_INVALID;
        else if (pData == nullptr) {
            // A length query keeps the operation and its transaction.
            *pulDataLen = PlaintextRoom(context);
            return CKR_OK;
        } else {
            rv = Decrypt(*session, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
        }
        EndDecryptOperation(*session);
        return rv;
    } catch (...) {
        EndDecryptOperationQuietly(*session);
        throw;
    }
}

}  // namespace Brelt::MW::Pkcs11
