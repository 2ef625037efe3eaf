#pragma once
// RSA signatures computed by a private key on the card, with the command
// sequence the application's profile and card OS call for, and the key
// selections that deciphering shares.
//
// `lastStatus` is the calling session's last-status word (its ulDeviceError)
// or null.

#include <cstdint>
#include <memory>

#include "BaseTypes.h"
#include "card/SecureMessaging.h"
#include "pkcs11/cryptoki.h"
#include "token/AttributeSource.h"
#include "token/CIOObject.h"

namespace Brelt::MW::Token {

// What a signature needs to know about the caller and the key.
struct SignatureKey {
    CK_SLOT_ID slotId = 0;
    CK_ULONG* lastStatus = nullptr;
    // The session is in a user state.
    bool userLoggedIn = false;
    // The application behind the slot, for the attribute getters.
    const AttributeSource* source = nullptr;
    // The private key and its handle.
    CIOObject* key = nullptr;
    CK_OBJECT_HANDLE handle = 0;
    // The session's secure channel to the card, for the profiles that sign
    // inside one; null for the others.
    std::shared_ptr<Card::SecureMessaging> channel;
};

// Signs `length` bytes (already formatted by the caller: a DigestInfo or raw
// data) with the key. The key's size is its CKA_MODULUS_BITS: none, 0 or
// more than 65535 bits gives CKR_KEY_SIZE_RANGE, and a buffer shorter than
// (bits + 7) / 8 CKR_BUFFER_TOO_SMALL with `*outputLength` set to that size,
// both before any card command. The card's answer must be exactly that long
// and, where the card carries the key's public half (KeyPublicHalf.h), verify
// under it; else CKR_DEVICE_ERROR and nothing is copied (an answer without
// data: CKR_FUNCTION_FAILED). On CardOS 4.3 and 4.4 a key that also deciphers signs by
// deciphering a PKCS#1 type-1 block built on the host: data that does not
// fit the key's modulus gives CKR_DATA_LEN_RANGE before any command. A
// SigZepEp key signs inside the session's application-container channel
// (none: CKR_FUNCTION_FAILED); a QesEac key after restoring its security
// environment, under the card's chip-authentication channel.
CK_RV ComputeDigitalSignatureFinal(const SignatureKey& key, const uint8_t* data, uint16_t length, uint8_t* output,
                                   CK_ULONG* outputLength);

// Selects the file of a private key inside the IAS application.
CK_RV SelectPrivKeyDF(CK_SLOT_ID slotId, CK_ULONG* lastStatus, const CIOObject& key);

// Restores the security environment named by the key's access rules:
// access mode 3 takes the rule's seIdentifier, mode 1 its authentication id;
// the last rule that has one decides, and 0 restores nothing.
CK_RV EvaluateAR(CK_SLOT_ID slotId, CK_ULONG* lastStatus, const CIOObject& key, int accessMode);

// The PKCS#1 v1.5 block type 1 of the data for that modulus size; null when
// the data does not fit (also for a modulus size of 0).
std::unique_ptr<MW::Base::HexBinary> EncodePkcs1Type1(const uint8_t* data, uint16_t length, uint16_t modulusBits);

// The SigG signature application of a key: type 1 when the key asks for a
// secondary authentication, else 2; its id is the last byte of the key's
// file path (0xFFFF when unknown); its DF is 3F 00 DF <id>.
CK_RV GetSigAppTypeFromKey(const SignatureKey& key, int* type);
CK_RV GetSigAppIdFromKey(const SignatureKey& key, uint16_t* id);
CK_RV GetSigAppPath(uint8_t id, uint8_t path[4], uint16_t* length);

}  // namespace Brelt::MW::Token
