// Security infos of an eID application: EF.CardAccess (plain SET OF
// SecurityInfo) and EF.CardSecurity (the SecurityInfos in a signed CMS
// SignedData, written without a ContentInfo around it).
#pragma once

#include <cardsim/Card.h>

#include <botan/ecdh.h>

#include <cstdint>
#include <memory>

namespace cardsim::detail {

inline constexpr uint8_t kChipAuthenticationKeyId = 3;

// The card's static chip-authentication key on brainpoolP256r1.
std::shared_ptr<const Botan::ECDH_PrivateKey> ChipAuthenticationKey();

// What an EF.CardSecurity leaves out (cards on which chip authentication
// cannot be opened).
enum class CardSecurityGap { None, PublicKey, DomainParameters };

Bytes EncodeCardAccess(const Botan::ECDH_PrivateKey& chipKey);
Bytes EncodeCardSecurity(const Botan::ECDH_PrivateKey& chipKey, CardSecurityGap gap = CardSecurityGap::None);

}  // namespace cardsim::detail
