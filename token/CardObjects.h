#pragma once
// Card-level operations on the objects of a slot's application: PC/SC
// transaction guards, random numbers, public keys read from the card, and the
// deletion and creation of keys and certificates on the card (no exported
// call reaches the last ones).
//
// `lastStatus` is the calling session's last-status word (its ulDeviceError)
// or null.

#include <cstdint>
#include <memory>
#include <vector>

#include "BaseTypes.h"
#include "card/Slot.h"
#include "pkcs11/cryptoki.h"
#include "token/AttributeSource.h"
#include "token/CIOObject.h"

namespace Brelt::MW::Token {

// Begins a PC/SC transaction on the slot's card; the slot counts it as open.
// CKR_DEVICE_ERROR when PC/SC refuses.
CK_RV PCSCBeginTransaction(Card::Slot& slot);
// Ends one; CKR_DEVICE_ERROR (the count unchanged) when PC/SC refuses.
CK_RV PCSCEndTransaction(Card::Slot& slot);
// The same by slot id; CKR_SLOT_ID_INVALID without that slot.
CK_RV PCSCBeginTransaction(CK_SLOT_ID slotId);
CK_RV PCSCEndTransaction(CK_SLOT_ID slotId);

// A PC/SC transaction on a slot's card for the length of one call: begun
// when the scope starts (a refusal is only logged), ended when it ends, and
// only when this scope began it.
class CardTransactionScope {
public:
    explicit CardTransactionScope(CK_SLOT_ID slotId);
    ~CardTransactionScope();
    CardTransactionScope(const CardTransactionScope&) = delete;
    CardTransactionScope& operator=(const CardTransactionScope&) = delete;

private:
    std::shared_ptr<Card::Slot> slot_;
    bool began_ = false;
};

// GET CHALLENGE of `count` bytes (after selecting the MF). An answer shorter
// than asked is CKR_FUNCTION_FAILED and nothing reaches the buffer.
CK_RV GenerateRandomData(CK_SLOT_ID slotId, CK_ULONG* lastStatus, uint8_t* buffer, uint16_t count);

// The public part of an on-card RSA private key (type 3), read with
// GENERATE ASYMMETRIC KEY PAIR in its reading form.
CK_RV FindRSAPublicKey(CK_SLOT_ID slotId, CK_ULONG* lastStatus, const CIOObject& key, RsaPublicValues& out);

// Modulus, exponent and modulus bits of a token RSA public key, read from
// its key file (tags 81 and 82). Only the default and SigG profiles keep key
// files. CKR_WRAPPED_KEY_INVALID for a file without either tag.
CK_RV ReadPublicKey(CK_SLOT_ID slotId, CK_OBJECT_HANDLE handle, RsaPublicValues& out, uint16_t* modulusBits);

// Writes `data` at `offset` of the file at `path` in the CIA application.
CK_RV WriteCardFile(CK_SLOT_ID slotId, CK_ULONG* lastStatus, const uint8_t* path, uint16_t pathLength,
                    const uint8_t* data, uint32_t dataLength, uint32_t offset);

// The next free file number under `dfPath` among the files whose id starts
// with `highByte` (largest in use + 1; 0 when none); 0xFFFF on failure.
uint16_t GetFreeCertFID(CK_SLOT_ID slotId, CK_ULONG* lastStatus, const uint8_t* dfPath, uint16_t pathLength,
                        uint8_t listP1, uint8_t highByte);

// Card-side deletion: deactivates a private key's file or deletes a
// certificate's file, removes the object and rewrites the directory file.
CK_RV DestroyPrivKey(CK_SLOT_ID slotId, CK_ULONG* lastStatus, CK_OBJECT_HANDLE handle);
CK_RV DestroyCertificate(CK_SLOT_ID slotId, CK_ULONG* lastStatus, CK_OBJECT_HANDLE handle);

// Card-side creation of a certificate file and its directory entry; the
// object joins the application's certificate list.
CK_RV CreateCertificate(CK_SLOT_ID slotId, CK_ULONG* lastStatus, std::unique_ptr<CIOObject> certificate,
                        const MW::Base::HexBinary& data);

// The token object with that handle: CKR_TOKEN_NOT_PRESENT ("Token not
// present in slot %d") without the token, CKR_OBJECT_HANDLE_INVALID ("Cannot
// find token object") when the application has no such object.
CK_RV GetTokenObjectRecord(CK_SLOT_ID slotId, CK_OBJECT_HANDLE handle, CIOObject** object, CIOObjectType* type);

}  // namespace Brelt::MW::Token
