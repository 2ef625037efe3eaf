#pragma once
// One card application in one reader, seen by the application as one
// PKCS#11 slot. All slots of one card share the card's PC/SC handle.

#include <winscard.h>

#include <cstdint>
#include <string>
#include <utility>

#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Card {

class Slot {
 public:
  Slot(CK_SLOT_ID slotId, std::string readerName, std::string displayName = {})
      : slotId_(slotId), readerName_(std::move(readerName)), displayName_(std::move(displayName)) {}
  virtual ~Slot() = default;

  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  CK_SLOT_ID SlotId() const { return slotId_; }
  const std::string& ReaderName() const { return readerName_; }
  const std::string& DisplayName() const { return displayName_; }

  uint32_t TokenId() const { return tokenId_; }
  void SetTokenId(uint32_t tokenId) { tokenId_ = tokenId; }
  SCARDHANDLE CardHandle() const { return cardHandle_; }
  void SetCardHandle(SCARDHANDLE card) { cardHandle_ = card; }

 private:
  const CK_SLOT_ID slotId_;
  const std::string readerName_;
  const std::string displayName_;
  uint32_t tokenId_ = 0;
  SCARDHANDLE cardHandle_ = 0;
};

}  // namespace Brelt::MW::Card
