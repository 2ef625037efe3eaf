#pragma once
// The card-application layer as the reader monitor and the slot calls see it:
// loading a new card's applications into the application table, invalidating
// and purging table entries, and the few facts about an application that slot
// information and the mechanism calls report.
//
// The module's implementation is the token layer's card detection and
// application table; tests install their own to drive the monitor with cards
// of their choosing.

#include <winscard.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "card/StatusCache.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Card {

// One entry of an application's supported-algorithm list.
struct AlgorithmFacts {
  bool hasAlgorithm = false;
  // The mechanism the algorithm field stands for (its big-endian value when
  // it is 1, 2 or 4 bytes long, else 0xFFFFFFFF).
  CK_MECHANISM_TYPE mechanism = 0xFFFFFFFF;
  // First content byte of the algorithm field (0 when absent or empty).
  uint8_t algorithmFirstByte = 0;
  // The supportedOperations BIT STRING content, unused-bits octet first;
  // empty when absent.
  std::vector<uint8_t> supportedOperations;
};

// What one application tells the slot and mechanism calls.
struct ApplicationFacts {
  // The manufacturer identifier of the application's CIAInfo; empty when absent.
  std::string manufacturerId;
  std::vector<AlgorithmFacts> algorithms;
  // Modulus lengths in bits of the keys of the application's first RSA
  // private-key list, as the keys give them (0 when a key gives none).
  std::vector<CK_ULONG> rsaModulusBits;
  uint32_t cardProfile = 0;
};

class CardApplications {
 public:
  virtual ~CardApplications() = default;

  // Recognises the card connected through `cardSlot` (which carries the next
  // slot id and the card handle) and loads its applications into the
  // application table under consecutive slot ids from that id; appends one
  // new, unregistered Slot per application to `newSlots`. Clears
  // `ownApplication` when the card carries no application of this system.
  // May throw on malformed card data.
  virtual CK_RV LoadReaderApplications(const std::string& readerName, Slot& cardSlot,
                                       std::vector<SlotPtr>& newSlots, bool& ownApplication) = 0;

  // Marks the table entry of the slot invalid (absent ids are ignored).
  virtual void InvalidateApplicationInfo(CK_SLOT_ID slotId) = 0;
  // Drops entries invalidated more than 15 seconds ago.
  virtual void RemoveAllInvalidApplications() = 0;

  // Copies the facts of the valid application of the slot. CKR_OK with no
  // facts when the table is empty; CKR_FUNCTION_FAILED when it has no valid
  // entry for the slot.
  virtual CK_RV GetApplicationFacts(CK_SLOT_ID slotId, std::optional<ApplicationFacts>& facts) = 0;
  // The card profile of the application alone, under the same rules; every
  // card call asks for it, so it need not copy the other facts.
  virtual CK_RV GetCardProfile(CK_SLOT_ID slotId, std::optional<uint32_t>& profile) {
    std::optional<ApplicationFacts> facts;
    const CK_RV rv = GetApplicationFacts(slotId, facts);
    profile.reset();
    if (facts) profile = facts->cardProfile;
    return rv;
  }

  // The token information the card's files give (everything but the session
  // counts).
  virtual CK_RV GetTokenInfoEF(const Slot& slot, CK_TOKEN_INFO* info) = 0;

  // The two steps a new card of a secure-channel profile (2 or 4) needs:
  // EF.CardAccess read in the master file, and the PIN length taken from it
  // given to the application's PIN objects that do not fix their own.
  virtual CK_RV ReadCardAccess(Slot& cardSlot, std::vector<uint8_t>& content) = 0;
  virtual void ApplyCardAccessPinLength(CK_SLOT_ID slotId, const std::vector<uint8_t>& cardAccess) = 0;
};

// The installed implementation (the token layer's unless another one was
// installed). Callers keep the reference for the
// length of their call, so installing another one never frees it under them.
std::shared_ptr<CardApplications> Applications();

// Installs `applications` (null restores the token layer's).
void InstallCardApplications(std::shared_ptr<CardApplications> applications);

}  // namespace Brelt::MW::Card
