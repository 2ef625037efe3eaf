// ConnectionMgr: applying reader changes to the registry — new cards become
// slots, cards and readers that go take their slots with them — and the purge
// of old records.

#include <exception>
#include <optional>

#include <boost/thread/locks.hpp>

#include "LogTrace.h"
#include "Logger.h"
#include "card/CardApplications.h"
#include "card/ConnectionMgr.h"
#include "card/ReaderEventCount.h"
#include "card/Slot.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/CardContext.h"

namespace Brelt::MW::Card {
namespace {

constexpr uint32_t kProfileSigZepEp = 2;
constexpr uint32_t kProfileQesEac = 4;

bool IsPresent(DWORD state) { return (state & SCARD_STATE_PRESENT) != 0; }

const char* ErrorText(LONG rv) { return GetErrorText(static_cast<unsigned long>(rv)); }

}  // namespace

void ConnectionMgr::ProcessStatusChange(ReaderStates newStates, bool eventFlag) {
  FunctionTrace trace("ConnectionMgr::ProcessStatusChange");
  boost::lock_guard<boost::mutex> slotListLock(Pkcs11::SlotListMutex());

  for (size_t i = 0; i < states_.Count(); ++i)
    if (newStates.Find(states_.Name(i)) == nullptr) RemoveSlotIds(states_.Name(i));

  for (size_t i = 0; i < newStates.Count(); ++i) {
    const std::string& name = newStates.Name(i);
    SCARD_READERSTATE& fresh = newStates[i];
    const SCARD_READERSTATE* kept = states_.Find(name);
    const bool wasPresent = kept != nullptr && IsPresent(kept->dwEventState);
    const bool isPresent = IsPresent(fresh.dwEventState);

    if (kept != nullptr && IsCardReplaced(kept->dwEventState, fresh.dwEventState)) {
      // Card swapped between two polls: the old card's slots must not carry
      // over to the new one.
      RemoveSlotIds(name);
      if (AddSlotIDs(name, fresh.dwEventState, eventFlag) == 0) fresh.dwEventState = SCARD_STATE_EMPTY;
    } else if (wasPresent && !isPresent) {
      RemoveSlotIds(name);
    } else if (!wasPresent && isPresent) {
      if (AddSlotIDs(name, fresh.dwEventState, eventFlag) == 0) fresh.dwEventState = SCARD_STATE_EMPTY;
    } else {
      for (const SlotPtr& slot : StatusCache::GetSlotsForReaderName(name)) {
        slot->SetReaderState(static_cast<uint32_t>(fresh.dwEventState));
        slot->SetTokenPresent(isPresent);
      }
    }
  }
  states_ = std::move(newStates);
}

void ConnectionMgr::RemoveSlotIds(const std::string& readerName) {
  FunctionTrace trace("ConnectionMgr::RemoveSlotIds");
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Removing slot ids for %s", readerName.c_str());
  const auto applications = Applications();
  for (const SlotPtr& slot : StatusCache::GetSlotsForReaderName(readerName)) {
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Removing slot with id %lu", slot->SlotId());
    applications->InvalidateApplicationInfo(slot->SlotId());
    StatusCache::InvalidateSlot(slot->SlotId());
  }
}

void ConnectionMgr::ForgetAllCards() {
  FunctionTrace trace("ConnectionMgr::ForgetAllCards");
  boost::lock_guard<boost::mutex> slotListLock(Pkcs11::SlotListMutex());
  const auto applications = Applications();
  for (const SlotPtr& slot : StatusCache::GetAllSlots()) {
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Removing slot with id %lu", slot->SlotId());
    applications->InvalidateApplicationInfo(slot->SlotId());
    StatusCache::InvalidateSlot(slot->SlotId());
  }
  states_.Clear();
}

int ConnectionMgr::AddSlotIDs(const std::string& readerName, DWORD eventState, bool eventFlag) {
  static constexpr const char* kName = "ConnectionMgr::AddSlotIDs";
  FunctionTrace trace(kName);
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Adding slot ids for %s", readerName.c_str());

  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  LONG rv = SCARD_S_SUCCESS;
  {
    // Loading a card waits its turn like every card call: the service lets
    // a connection wait for the card to be free as well.
    Pkcs11::CardMutexTurn turn;
    rv = SCardConnect(StatusCache::GetContextHandle(), readerName.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1,
                      &card, &protocol);
    if (rv != SCARD_S_SUCCESS) {
      LogMessage(LOG_LEVEL_INFO, true, kName, __LINE__, true, "Cannot connect to card, SCardConnect() result = %s",
                 ErrorText(rv));
      return 0;
    }
    rv = SCardBeginTransaction(card);
  }
  if (!running_.load()) {
    // Stopped while the card was held by another process (the monitor may
    // have been left behind at exit): give the card up untouched.
    if (rv == SCARD_S_SUCCESS) SCardEndTransaction(card, SCARD_LEAVE_CARD);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    return 0;
  }
  // What the module learns of the card from here on is kept with its slots.
  const auto memory = std::make_shared<CardMemory>();
  memory->TransactionBegun(rv == SCARD_S_SUCCESS);
  if (rv != SCARD_S_SUCCESS) {
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true,
               "Cannot begin transaction with card, SCardBeginTransaction() result = %s", ErrorText(rv));
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    return 0;
  }

  bool transactionOpen = true;
  std::vector<SlotPtr> newSlots;
  int result = 0;
  try {
    switch (LoadAndRegister(readerName, card, memory, eventState, eventFlag, transactionOpen, newSlots)) {
      case LoadOutcome::Registered:
        return 1;  // the card handle now belongs to the card's token
      case LoadOutcome::Retry:
        result = 0;
        break;
      case LoadOutcome::GiveUp:
        result = 1;
        break;
    }
  } catch (const boost::thread_interrupted&) {
    // Stopping: give the card back before the thread ends.
    if (transactionOpen) SCardEndTransaction(card, SCARD_LEAVE_CARD);
    for (const SlotPtr& slot : newSlots) Applications()->InvalidateApplicationInfo(slot->SlotId());
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    throw;
  } catch (const std::exception& e) {
    // Malformed card data: reading it again gives the same result, so the
    // card is given up until it is inserted again.
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Cannot load the card's applications: %s", e.what());
    result = 1;
  } catch (...) {
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Cannot load the card's applications");
    result = 1;
  }

  // Giving the card up.
  if (transactionOpen) {
    if (rv = SCardEndTransaction(card, SCARD_LEAVE_CARD); rv != SCARD_S_SUCCESS)
      LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true,
                 "Cannot end transaction with card, SCardEndTransaction() result = %s", ErrorText(rv));
  }
  const auto applications = Applications();
  for (const SlotPtr& slot : newSlots) applications->InvalidateApplicationInfo(slot->SlotId());
  // The table keeps the given-up entries for a while under their ids, so
  // those ids are used up as well.
  nextSlotId_ += newSlots.size();
  newSlots.clear();
  if (rv = SCardDisconnect(card, SCARD_LEAVE_CARD); rv != SCARD_S_SUCCESS)
    LogMessage(LOG_LEVEL_INFO, true, kName, __LINE__, true,
               "Cannot disconnect from card, SCardDisconnect() result = %s", ErrorText(rv));
  return result;
}

ConnectionMgr::LoadOutcome ConnectionMgr::LoadAndRegister(const std::string& readerName, SCARDHANDLE card,
                                                          const std::shared_ptr<CardMemory>& memory,
                                                          DWORD eventState, bool eventFlag, bool& transactionOpen,
                                                          std::vector<SlotPtr>& newSlots) {
  static constexpr const char* kName = "ConnectionMgr::AddSlotIDs";
  const auto applications = Applications();
  const CK_SLOT_ID firstSlotId = nextSlotId_.load();

  bool ownApplication = true;
  {
    Slot connection(firstSlotId, readerName);
    connection.SetCardHandle(card);
    connection.SetCardMemory(memory);
    const CK_RV rv = applications->LoadReaderApplications(readerName, connection, newSlots, ownApplication);
    if (rv != CKR_OK) {
      LogMessage(LOG_LEVEL_INFO, true, kName, __LINE__, true, "LoadReaderApplications result = %s", CkrToString(rv));
      // Malformed card files read the same way every time: such a card is
      // not loaded again until it is inserted again. Card errors are retried.
      return rv == CKR_ARGUMENTS_BAD ? LoadOutcome::GiveUp : LoadOutcome::Retry;
    }
  }
  if (newSlots.empty() || !ownApplication) {
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "No slot found or no Brelt application found");
    return LoadOutcome::GiveUp;
  }

  std::optional<ApplicationFacts> facts;
  if (applications->GetApplicationFacts(firstSlotId, facts) != CKR_OK || !facts) {
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "No application found!");
    return LoadOutcome::Retry;
  }

  const bool secureChannelProfile = facts->cardProfile == kProfileSigZepEp || facts->cardProfile == kProfileQesEac;
  std::vector<uint8_t> cardAccess;
  if (secureChannelProfile) {
    Slot connection(firstSlotId, readerName);
    connection.SetCardHandle(card);
    connection.SetCardMemory(memory);
    if (const CK_RV rv = applications->ReadCardAccess(connection, cardAccess); rv != CKR_OK) {
      LogMessage(LOG_LEVEL_INFO, true, kName, __LINE__, true, "Read CardAccess result = %s", CkrToString(rv));
      return LoadOutcome::Retry;
    }
  }

  const LONG ended = SCardEndTransaction(card, SCARD_LEAVE_CARD);
  memory->TransactionEnded(ended == SCARD_S_SUCCESS);
  if (ended != SCARD_S_SUCCESS)
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true,
               "Cannot end transaction with card, SCardEndTransaction() result = %s", ErrorText(ended));
  transactionOpen = false;

  if (facts->cardProfile == kProfileSigZepEp && cardAccess.empty()) return LoadOutcome::Retry;

  for (const SlotPtr& slot : newSlots) {
    const uint32_t tokenId = StatusCache::GetOrCreateToken(card);
    slot->SetTokenId(tokenId);
    slot->SetEvent(eventFlag);
    slot->SetTokenPresent(true);
    slot->SetCardHandle(card);
    slot->SetCardMemory(memory);
    slot->SetReaderState(static_cast<uint32_t>(eventState));
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Adding slot with id %lu", slot->SlotId());
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Adding slot with tokenID %u", tokenId);
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Adding slot with hCard %08lXh",
               static_cast<unsigned long>(card));
    StatusCache::AddNewSlot(slot);
    if (secureChannelProfile && !cardAccess.empty())
      applications->ApplyCardAccessPinLength(slot->SlotId(), cardAccess);
  }
  nextSlotId_ += newSlots.size();
  return LoadOutcome::Registered;
}

void ConnectionMgr::DeleteInvalidReferences() {
  FunctionTrace trace("ConnectionMgr::DeleteInvalidReferences");
  // A token call may still be working with records of a card that has just
  // gone (a PIN dialog can stay open for a long time); the purge waits for a
  // round in which no token call runs.
  boost::unique_lock<boost::mutex> tokenLock(Pkcs11::TokenMutex(), boost::try_to_lock);
  if (!tokenLock.owns_lock()) {
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Token calls running, purge postponed");
    return;
  }
  StatusCache::RemoveAllInvalidTokens();
  StatusCache::RemoveAllInvalidSlots();
  StatusCache::RemoveAllInvalidSessions();
  Applications()->RemoveAllInvalidApplications();
}

CK_RV ConnectionMgr::CreateSlot(const std::string& readerName, const char* displayName, CK_SLOT_ID slotId,
                                SlotPtr& slot) {
  try {
    slot = std::make_shared<Slot>(slotId, readerName, displayName != nullptr ? std::string(displayName) : std::string());
    slot->SetTokenPresent(true);
  } catch (const std::bad_alloc&) {
    LogMessage(LOG_LEVEL_ERROR, true, "CreateSlot", __LINE__, true, "Not enough memory");
    TraceLeaving("CreateSlot", CKR_HOST_MEMORY);
    return CKR_HOST_MEMORY;
  }
  TraceLeaving("CreateSlot", CKR_OK);
  return CKR_OK;
}

}  // namespace Brelt::MW::Card
