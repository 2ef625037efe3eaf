// Signing and verification: C_SignInit ... C_SignFinal and C_VerifyInit ...
// C_VerifyFinal behind the call frame.
//
// Signing collects the data on the host and has the card sign it in one step
// at the end. It holds the card's PC/SC transaction from C_SignInit to the
// call that ends the operation; the session records that it does, so the
// transaction is ended exactly once (the ending call, a failing update, the
// catch-all, or closing the session). Verification runs on the host with a
// session public key and needs no transaction.

#include <algorithm>

#include "HostCryptoResult.h"
#include "HostRsa.h"
#include "LogTrace.h"
#include "card/CardCommands.h"
#include "card/CardProbe.h"
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
#include "token/CardSignature.h"
#include "token/ObjectHandles.h"
#include "token/TokenInfo.h"

namespace Brelt::MW::Pkcs11 {

using namespace Brelt::MW::Token;

namespace {

CK_RV Fail(FunctionTrace& trace, int line, CK_RV rv)
{
    TraceFailed(trace.Function(), line, rv);
    return trace.Result(rv);
}

// The attributes an Init call reads from its key.
struct KeyFacts {
    CK_ULONG modulusBits = 0;
    CK_BBOOL alwaysAuthenticate = CK_FALSE;
    CK_BBOOL permitted = CK_FALSE;  // CKA_SIGN or CKA_VERIFY
    CK_MECHANISM_TYPE allowed[32] = {};
};

CK_RV ReadKeyFacts(KeyRecord& record, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_TYPE permission, bool withAlwaysAuth,
                   KeyFacts& facts)
{
    CK_ATTRIBUTE attributes[] = {
        {CKA_MODULUS_BITS, &facts.modulusBits, sizeof(facts.modulusBits)},
        {permission, &facts.permitted, sizeof(facts.permitted)},
        {CKA_ALLOWED_MECHANISMS, facts.allowed, sizeof(facts.allowed)},
        {CKA_ALWAYS_AUTHENTICATE, &facts.alwaysAuthenticate, sizeof(facts.alwaysAuthenticate)},
    };
    const CK_RV rv = ReadKeyAttributes(record, handle, attributes, withAlwaysAuth ? 4 : 3);
    // An attribute the key cannot give counts as false (or a size of 0).
    if (attributes[0].ulValueLen != sizeof(facts.modulusBits)) facts.modulusBits = 0;
    if (attributes[1].ulValueLen != sizeof(facts.permitted)) facts.permitted = CK_FALSE;
    if (withAlwaysAuth && attributes[3].ulValueLen != sizeof(facts.alwaysAuthenticate))
        facts.alwaysAuthenticate = CK_FALSE;
    return rv;
}

void StartOperation(OperationContext& context, const CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key,
                    CK_ULONG modulusBits, bool alwaysAuthenticate)
{
    ResetOperation(context);
    context.mechanism = CopyMechanism(mechanism);
    if (!context.mechanism) throw std::bad_alloc();
    context.hKey = key;
    context.modulusBits = static_cast<uint16_t>(modulusBits & 0xFFFF);
    context.alwaysAuthenticate = alwaysAuthenticate;
}

CK_ULONG ModulusBytes(const OperationContext& context) { return (context.modulusBits + 7UL) / 8UL; }

// Ends a signature operation: context, a touch of the card, and the
// transaction when the operation still holds it.
void EndSignOperation(Session& session)
{
    ResetOperation(session.signContext);
    Card::PingCardGetData(session);
    if (session.TakeHeldTransaction(HeldTransaction::Sign)) ReleaseCardContext(session, true);
}

// The same from a catch-all: nothing may escape.
void EndSignOperationQuietly(Session& session) noexcept
{
    try {
        EndSignOperation(session);
    } catch (...) {
        try {
            if (session.TakeHeldTransaction(HeldTransaction::Sign)) ReleaseCardContext(session, true);
        } catch (...) {
        }
    }
}

}  // namespace

CK_RV CheckTokenPresent(const Session& session, const char* function)
{
    if (IsTokenPresent(session.SlotId())) return CKR_OK;
    LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "Token not present in slot %lu", session.SlotId());
    return CKR_FUNCTION_CANCELED;
}

CK_RV CollectOperationData(OperationContext& context, const CK_BYTE* data, CK_ULONG length)
{
    if (length == 0) return CKR_OK;
    const CK_ULONG limit = ModulusBytes(context);
    // Compared without adding: collected + length could wrap around.
    if (context.data.size() > limit || length > limit - context.data.size()) return CKR_DATA_LEN_RANGE;
    context.data.insert(context.data.end(), data, data + length);
    return CKR_OK;
}

// --- signing ---

CK_RV SignInit(Session& session, const CK_MECHANISM* mechanism, CK_OBJECT_HANDLE hKey)
{
    FunctionTrace trace("SignInit");
    if (CK_RV rv = CheckTokenPresent(session, "SignInit"); rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (CK_RV rv = CheckIfCIAPinInitialized(session); rv != CKR_OK) return Fail(trace, __LINE__, rv);

    KeyRecord key;
    if (FindKeyRecord(session, hKey, key) != CKR_OK) return Fail(trace, __LINE__, CKR_KEY_HANDLE_INVALID);
    bool allowed = false;
    if (CheckKeyAccess(session, key, hKey, &allowed) != CKR_OK || !allowed)
        return Fail(trace, __LINE__, CKR_USER_NOT_LOGGED_IN);
    // Only an RSA private key signs with CKM_RSA_PKCS.
    if (key.type != kTypeRsaPrivateKey) {
        const bool isKey = key.type == kTypeEcPrivateKey || key.type == kTypeRsaPublicKey ||
                           key.type == kTypeEcPublicKey;
        return Fail(trace, __LINE__, isKey ? CKR_KEY_TYPE_INCONSISTENT : CKR_KEY_HANDLE_INVALID);
    }
    KeyFacts facts;
    if (CK_RV rv = ReadKeyFacts(key, hKey, CKA_SIGN, true, facts); rv != CKR_OK) {
        if (rv == CKR_OBJECT_HANDLE_INVALID) rv = CKR_KEY_HANDLE_INVALID;
        return Fail(trace, __LINE__, rv);
    }
    if (facts.permitted != CK_TRUE) return Fail(trace, __LINE__, CKR_KEY_FUNCTION_NOT_PERMITTED);
    // The operation keeps 16 bits of the size; a key it cannot carry, or one
    // of no size, never reaches the card.
    if (facts.modulusBits == 0 || facts.modulusBits > 0xFFFF) return Fail(trace, __LINE__, CKR_KEY_SIZE_RANGE);
    StartOperation(session.signContext, mechanism, hKey, facts.modulusBits, facts.alwaysAuthenticate != CK_FALSE);
    return trace.Result(CKR_OK);
}

CK_RV SignUpdate(Session& session, const CK_BYTE* part, CK_ULONG length)
{
    FunctionTrace trace("SignUpdate");
    if (CK_RV rv = CheckTokenPresent(session, "SignUpdate"); rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (CK_RV rv = CheckIfCIAPinInitialized(session); rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (CK_RV rv = CollectOperationData(session.signContext, part, length); rv != CKR_OK)
        return Fail(trace, __LINE__, rv);
    return trace.Result(CKR_OK);
}

CK_RV SignFinal(Session& session, CK_BYTE* signature, CK_ULONG* signatureLength)
{
    FunctionTrace trace("SignFinal");
    if (CK_RV rv = CheckTokenPresent(session, "SignFinal"); rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (CK_RV rv = CheckIfCIAPinInitialized(session); rv != CKR_OK) return Fail(trace, __LINE__, rv);
    const CK_STATE state = session.State();
    if (state != CKS_RO_USER_FUNCTIONS && state != CKS_RW_USER_FUNCTIONS)
        return Fail(trace, __LINE__, CKR_USER_NOT_LOGGED_IN);

    OperationContext& context = session.signContext;
    KeyRecord key;
    if (FindKeyRecord(session, context.hKey, key) != CKR_OK || key.type != kTypeRsaPrivateKey)
        return Fail(trace, __LINE__, CKR_KEY_HANDLE_INVALID);
    SignatureKey signatureKey;
    signatureKey.slotId = session.SlotId();
    signatureKey.lastStatus = session.LastStatusWord();
    signatureKey.userLoggedIn = true;
    signatureKey.source = &key.source;
    signatureKey.key = key.object;
    signatureKey.handle = context.hKey;
    signatureKey.channel = Card::StatusCache::GetAuthContext(session);
    // The collected data never exceeds the modulus size, so 16 bits hold it.
    const CK_RV rv = ComputeDigitalSignatureFinal(signatureKey, context.data.data(),
                                                  static_cast<uint16_t>(context.data.size()), signature,
                                                  signatureLength);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    return trace.Result(CKR_OK);
}

CK_RV SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    if (IsOperationActive(session->signContext)) return CKR_OPERATION_ACTIVE;

    if (CK_RV rv = EstablishCardContext(*session, true); rv != CKR_OK) {
        ResetOperation(session->signContext);
        return rv;
    }
    // A transaction still recorded for the sign operation is one too many.
    if (!session->NoteTransactionHeld(HeldTransaction::Sign)) ReleaseCardContext(*session, true);
    CK_RV rv = CKR_FUNCTION_FAILED;
    try {
        rv = SignInit(*session, pMechanism, hKey);
    } catch (...) {
        ResetOperation(session->signContext);
        if (session->TakeHeldTransaction(HeldTransaction::Sign)) ReleaseCardContext(*session, true);
        throw;
    }
    if (rv != CKR_OK) {
        ResetOperation(session->signContext);
        if (session->TakeHeldTransaction(HeldTransaction::Sign)) ReleaseCardContext(*session, true);
    }
    return rv;
}

namespace {

// The part that C_Sign and C_SignFinal share once the operation may go on:
// the length query, the buffer size, and the signature itself. The
// signature's size is known from the key, so a short buffer is answered
// before anything reaches the card and the caller can retry.
CK_RV FinishSignature(Session& session, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen,
                      const CK_BYTE* data, CK_ULONG dataLength, bool withData, bool& ended)
{
    ended = false;
    const CK_ULONG needed = ModulusBytes(session.signContext);
    if (pSignature == nullptr) {
        *pulSignatureLen = needed;
        return CKR_OK;
    }
    if (*pulSignatureLen < needed) {
        *pulSignatureLen = needed;
        return CKR_BUFFER_TOO_SMALL;
    }
    CK_RV rv = CKR_OK;
    if (withData) rv = SignUpdate(session, data, dataLength);
    if (rv == CKR_OK) rv = SignFinal(session, pSignature, pulSignatureLen);
    if (rv == CKR_BUFFER_TOO_SMALL) {
        // The data of this call go again with the retry.
        if (withData) session.signContext.data.clear();
        return rv;
    }
    ended = true;
    return rv;
}

}  // namespace

CK_RV Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
           CK_ULONG_PTR pulSignatureLen)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    try {
        OperationContext& context = session->signContext;
        CK_RV rv = CKR_OK;
        if (!IsOperationActive(context))
            rv = CKR_OPERATION_NOT_INITIALIZED;
        else if (!context.data.empty())
            rv = CKR_DATA_INVALID;
        else if (!IsUserState(session->State()) || session->State() == CKS_RW_SO_FUNCTIONS)
            rv = CKR_USER_NOT_LOGGED_IN;
        if (rv != CKR_OK) {
            EndSignOperation(*session);
            return rv;
        }
        // A length query needs no PIN: it comes before the context login.
        if (pSignature != nullptr && context.alwaysAuthenticate && !context.contextLoginDone) {
            // Inside the transaction this operation holds already.
            rv = Login(*session, CKU_CONTEXT_SPECIFIC, nullptr, 0);
            if (rv != CKR_OK) {
                EndSignOperation(*session);
                return rv;
            }
        }
        bool ended = false;
        rv = FinishSignature(*session, pSignature, pulSignatureLen, pData, ulDataLen, true, ended);
        if (ended) EndSignOperation(*session);
        return rv;
    } catch (...) {
        EndSignOperationQuietly(*session);
        throw;
    }
}

CK_RV SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    try {
        OperationContext& context = session->signContext;
        CK_RV rv = CKR_OK;
        const CK_STATE state = session->State();
        if (state != CKS_RO_USER_FUNCTIONS && state != CKS_RW_USER_FUNCTIONS)
            rv = CKR_USER_NOT_LOGGED_IN;
        else if (IsOperationActive(context) && context.alwaysAuthenticate && !context.contextLoginDone)
            rv = CKR_USER_NOT_LOGGED_IN;
        else if (!IsOperationActive(context))
            rv = CKR_OPERATION_NOT_INITIALIZED;
        else
            rv = SignUpdate(*session, pPart, ulPartLen);
        if (rv != CKR_OK) EndSignOperation(*session);
        return rv;
    } catch (...) {
        EndSignOperationQuietly(*session);
        throw;
    }
}

CK_RV SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    try {
        OperationContext& context = session->signContext;
        CK_RV rv = CKR_OK;
        const CK_STATE state = session->State();
        if (!IsOperationActive(context))
            rv = CKR_OPERATION_NOT_INITIALIZED;
        else if ((state != CKS_RO_USER_FUNCTIONS && state != CKS_RW_USER_FUNCTIONS) ||
                 (context.alwaysAuthenticate && !context.contextLoginDone))
            rv = CKR_USER_NOT_LOGGED_IN;
        if (rv != CKR_OK) {
            EndSignOperation(*session);
            return rv;
        }
        bool ended = false;
        rv = FinishSignature(*session, pSignature, pulSignatureLen, nullptr, 0, false, ended);
        if (ended) EndSignOperation(*session);
        return rv;
    } catch (...) {
        EndSignOperationQuietly(*session);
        throw;
    }
}

// --- verification ---

CK_RV VerifyInit(Session& session, const CK_MECHANISM* mechanism, CK_OBJECT_HANDLE hKey)
{
    FunctionTrace trace("VerifyInit");
    const Card::SlotPtr slot = Card::StatusCache::GetSlot(session.SlotId());
    if (!slot) return Fail(trace, __LINE__, CKR_DEVICE_REMOVED);
    ApplicationInfoPtr application;
    if (GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), application) != CKR_OK || !application ||
        Card::SetIntoCiaAppDF(session.LastStatusWord(), slot.get(), application->Aid.get()) != CKR_OK)
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);

    if (!IsSessionHandle(hKey) || HandleListKind(hKey) != kKindRsaPublicKey) {
        LogMessage(LOG_LEVEL_ERROR, true, "VerifyInit", __LINE__, true,
                   "Invalid key specified, key must be a session RSA Public Key");
        return Fail(trace, __LINE__, CKR_KEY_HANDLE_INVALID);
    }
    KeyRecord key;
    if (FindKeyRecord(session, hKey, key) != CKR_OK) return Fail(trace, __LINE__, CKR_KEY_HANDLE_INVALID);
    bool allowed = false;
    if (CheckKeyAccess(session, key, hKey, &allowed) != CKR_OK || !allowed)
        return Fail(trace, __LINE__, CKR_USER_NOT_LOGGED_IN);
    KeyFacts facts;
    if (ReadKeyFacts(key, hKey, CKA_VERIFY, false, facts) != CKR_OK)
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    if (facts.permitted != CK_TRUE) return Fail(trace, __LINE__, CKR_KEY_FUNCTION_NOT_PERMITTED);
    StartOperation(session.verifyContext, mechanism, hKey, facts.modulusBits, false);
    return trace.Result(CKR_OK);
}

CK_RV VerifyUpdate(Session& session, const CK_BYTE* part, CK_ULONG length)
{
    FunctionTrace trace("VerifyUpdate");
    if (CK_RV rv = CollectOperationData(session.verifyContext, part, length); rv != CKR_OK)
        return Fail(trace, __LINE__, rv);
    return trace.Result(CKR_OK);
}

CK_RV VerifyFinal(Session& session, const CK_BYTE* signature, CK_ULONG length)
{
    FunctionTrace trace("VerifyFinal");
    OperationContext& context = session.verifyContext;
    KeyRecord key;
    const RSAKeyAttributes* rsa = nullptr;
    if (FindKeyRecord(session, context.hKey, key) == CKR_OK && key.type == kTypeRsaPublicKey)
        rsa = key.object->AsRSAKeyAttributes();
    const RSAPublicKeyAtt* values = rsa != nullptr ? rsa->publicKey.get() : nullptr;
    if (values == nullptr || !values->modulus || !values->exponent || values->modulus->length <= 0 ||
        values->exponent->length <= 0 || values->modulus->length > 0xFFFF || values->exponent->length > 0xFFFF)
        return Fail(trace, __LINE__, CKR_KEY_HANDLE_INVALID);
    // A signature is exactly as long as the key's modulus. A longer one
    // could pass on its leading or trailing bytes alone.
    if (length != ModulusBytes(context)) return Fail(trace, __LINE__, CKR_SIGNATURE_LEN_RANGE);

    const int result = Crypto::VerifyWithSessionPublicKey(
        context.data.data(), static_cast<uint16_t>(context.data.size()), signature, static_cast<uint16_t>(length),
        values->exponent->data, static_cast<uint16_t>(values->exponent->length), values->modulus->data,
        static_cast<uint16_t>(values->modulus->length), context.mechanism ? context.mechanism->Type() : CKM_RSA_PKCS);
    CK_RV rv = CKR_FUNCTION_FAILED;
    switch (result) {
    case Crypto::CRYPTO_OK: rv = CKR_OK; break;
    case Crypto::CRYPTO_FAILED: rv = CKR_SIGNATURE_INVALID; break;
    case Crypto::CRYPTO_BAD_INPUT: rv = CKR_DATA_INVALID; break;
    default: break;
    }
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    return trace.Result(CKR_OK);
}

CK_RV VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    if (IsOperationActive(session->verifyContext)) return CKR_OPERATION_ACTIVE;
    ProfileContext context(*session);
    if (CK_RV rv = context.Open(); rv != CKR_OK) return rv;
    CK_RV rv = CKR_FUNCTION_FAILED;
    try {
        rv = VerifyInit(*session, pMechanism, hKey);
    } catch (...) {
        ResetOperation(session->verifyContext);
        throw;
    }
    if (rv != CKR_OK) ResetOperation(session->verifyContext);
    return rv;
}

namespace {

// Runs one verification call inside a profile context; `ends` tells whether
// the operation ends whatever the result, else it ends only on failure.
template <typename Body>
CK_RV RunVerifyCall(CK_SESSION_HANDLE hSession, bool ends, Body&& body)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    if (!IsOperationActive(session->verifyContext)) return CKR_OPERATION_NOT_INITIALIZED;
    CK_RV rv = CKR_FUNCTION_FAILED;
    try {
        ProfileContext context(*session);
        rv = context.Open();
        if (rv == CKR_OK) rv = body(*session);
    } catch (...) {
        ResetOperation(session->verifyContext);
        throw;
    }
    if (ends || rv != CKR_OK) ResetOperation(session->verifyContext);
    return rv;
}

}  // namespace

CK_RV Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG ulSignatureLen)
{
    return RunVerifyCall(hSession, true, [&](Session& session) {
        if (!session.verifyContext.data.empty()) return CKR_DATA_INVALID;
        CK_RV rv = VerifyUpdate(session, pData, ulDataLen);
        if (rv == CKR_OK) rv = VerifyFinal(session, pSignature, ulSignatureLen);
        return rv;
    });
}

CK_RV VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return RunVerifyCall(hSession, false,
                         [&](Session& session) { return VerifyUpdate(session, pPart, ulPartLen); });
}

CK_RV VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen)
{
    return RunVerifyCall(hSession, true,
                         [&](Session& session) { return VerifyFinal(session, pSignature, ulSignatureLen); });
}

}  // namespace Brelt::MW::Pkcs11
