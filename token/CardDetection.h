#pragma once
// Recognising a new card (operating system and profile), loading its
// applications with their directory files, and handing them to the
// application table together with one slot per application.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "BaseTypes.h"
#include "card/StatusCache.h"
#include "pkcs11/cryptoki.h"
#include "token/ApplicationInfoList.h"
#include "token/CiaRecords.h"

namespace Brelt::MW::Token {

// Creates the slot of one application (the reader monitor's CreateSlot):
// reader name, slot text, slot id, out slot.
using SlotFactory = std::function<CK_RV(const std::string& readerName, const std::string& slotText,
                                        CK_SLOT_ID slotId, Card::SlotPtr& out)>;

// The PIN check that admits a SigZepEp application (the PIN layer's
// ZepPinInitCheck). Without one, such applications are not admitted.
using ZepPinCheck = std::function<bool(const Card::Slot* slot, const ApplicationInfo& application)>;

bool CheckSupportedCards(uint32_t cardOS, uint32_t profile);
bool IsCiaBreltApplication(const MW::Base::HexBinary* aid);
bool IsCiaApplication(const MW::Base::HexBinary* aid);

// `unanswered` (when given) tells whether a failed SELECT got no real answer
// from the card (Card::CardCouldNotAnswer), as opposed to the card saying
// that the application is not there.
CK_RV GetApplicationFID(const Card::Slot* slot, const MW::Base::HexBinary& aid, Bytes& fid,
                        bool* unanswered = nullptr);
CK_RV IsQesEacProfile(const EfDirRecords& records, uint32_t* flag);
CK_RV IsSigGProfile(const Card::Slot* slot, uint32_t* flag);
CK_RV IsSigZepEpProfile(const Card::Slot* slot, uint32_t* flag);

CK_RV LoadAppsInfo_Default(const Card::Slot* slot, uint32_t cardOS, uint32_t profile, ApplicationInfoList& out);
CK_RV LoadAppsInfo_SigZepEp(const Card::Slot* slot, uint32_t cardOS, uint32_t profile, const EfDirRecords& records,
                            ApplicationInfoList& out, const ZepPinCheck& pinCheck = {});
CK_RV LoadAppsInfo_QesEac(const Card::Slot* slot, uint32_t cardOS, uint32_t profile, const EfDirRecords& records,
                          ApplicationInfoList& out);
CK_RV LoadCardAppsInfo(const Card::Slot* slot, uint32_t cardOS, uint32_t profile, const EfDirRecords& records,
                       ApplicationInfoList& out);

// Detects and loads the card in `slot` (its slot id keys the first
// application) under the application table's lock, creates a slot per
// loaded application with `createSlot` and moves the applications into the
// table. `ownApplication` is 1 when the card holds an application of its
// own, 0 otherwise. An unsupported card is no error: CKR_OK, no slot.
CK_RV LoadReaderApplications(const std::string& readerName, const Card::Slot* slot,
                             std::vector<Card::SlotPtr>& createdSlots, uint32_t* ownApplication,
                             const SlotFactory& createSlot);

// Re-reads the applications of a CardOS 5.0 card and replaces the table
// entries of the reader's valid slots by the re-read application of the
// same AID. No operation of the module calls it.
// Entries keep the card OS and profile of the entry they replace.
CK_RV LoadAppInfo(const Card::Slot* slot, const EfDirRecords& records, ApplicationInfoList& out,
                  const ZepPinCheck& pinCheck = {});
CK_RV RefreshAppInfo(const Card::Slot* slot, const ZepPinCheck& pinCheck = {});

}  // namespace Brelt::MW::Token
