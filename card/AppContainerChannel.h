#pragma once
// The secure channel of the card's application container: challenge-response
// mutual authentication under the container key, then a session key that
// protects later commands (one key, no send sequence counter).
//
// lastStatus is the caller's last-status word (a session's device error) or
// null; every command is sent with the no-log flag except the SELECT.

#include <cstdint>
#include <memory>

#include "BaseTypes.h"
#include "card/SecureMessaging.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Card {

class Slot;

inline constexpr uint8_t kAppContainerKeyReference = 0x95;
inline constexpr uint8_t kAppContainerSessionKeyReference = 0x17;
inline constexpr uint16_t kAppContainerChallengeLength = 32;
inline constexpr uint16_t kAppContainerSessionKeyLength = 16;

// The container key, unwrapped from its stored form; null when it does not
// unwrap.
std::unique_ptr<MW::Base::HexBinary> UnwrapAppContainerKey();

// Opens the channel; a type-2 context, or null on any failure.
std::unique_ptr<SecureMessaging> CitizenAuthenticate(CK_ULONG* lastStatus, const Slot* slot, uint8_t keyReference,
                                                     const uint8_t* key, int32_t keyLength,
                                                     uint8_t sessionKeyReference);

// The exchange behind CitizenAuthenticate; CKR_OK and the context in *out.
CK_RV MutualAuthenticateSessionKey(CK_ULONG* lastStatus, const Slot* slot, uint8_t keyReference, const uint8_t* key,
                                   int32_t keyLength, uint16_t challengeLength, uint8_t sessionKeyReference,
                                   std::unique_ptr<SecureMessaging>* out);

// Session key from the two challenges (n bytes each): SHA-1 of card || host
// challenge, first 15 bytes, enciphered under the derivation key into 16.
CK_RV DeriveSessionKey(const uint8_t* hostChallenge, const uint8_t* cardChallenge, uint16_t n,
                       std::unique_ptr<uint8_t[]>* key, uint16_t* keyLength);

// Mutual authentication without a session key.
CK_RV MutualAuthenticate(CK_ULONG* lastStatus, const Slot* slot, uint8_t keyReference, const uint8_t* key,
                         int32_t keyLength, uint16_t challengeLength);
// One-sided authentication of the host.
CK_RV ExternalAuthenticate(CK_ULONG* lastStatus, const Slot* slot, uint8_t keyReference, const uint8_t* key,
                           int32_t keyLength, uint16_t challengeLength);

}  // namespace Brelt::MW::Card
