#include "card/CardMemory.h"

#include <algorithm>
#include <iterator>

#include "LogTrace.h"

namespace Brelt::MW::Card {
namespace {

constexpr uint8_t kInsSelect = 0xA4;
constexpr uint8_t kInsGetData = 0xCA;
constexpr uint8_t kInsVerify = 0x20;
constexpr uint8_t kInsGenerateKeyPair = 0x47;
constexpr uint8_t kReadPublicKeyOfPair = 0x83;

// The command as a key: header, data, Le and the length form.
std::vector<uint8_t> Key(const ApduCommand& command, bool forceExtended) {
  std::vector<uint8_t> key{command.cla, command.ins, command.p1, command.p2, uint8_t(command.lc >> 8),
                           uint8_t(command.lc), uint8_t(command.le >> 8), uint8_t(command.le),
                           uint8_t(forceExtended ? 1 : 0)};
  if (command.lc != 0 && command.data) key.insert(key.end(), command.data.get(), command.data.get() + command.lc);
  return key;
}

bool IsPlain(const ApduCommand& command) { return command.cla == 0x00; }

// Selections whose result does not depend on the current DF: the MF, a DF
// by name, a path from the MF.
bool IsKeptSelection(const ApduCommand& command) {
  if (!IsPlain(command) || command.ins != kInsSelect || command.skip != 0) return false;
  if (command.p1 == 0x04 || command.p1 == 0x08) return command.lc > 0 && command.data;
  if (command.p1 != 0x00) return false;
  if (command.lc == 0) return true;
  return command.lc == 2 && command.data && command.data[0] == 0x3F && command.data[1] == 0x00;
}

// GET DATA of the serial number (81), the versions (80, 82) and the memory
// (89, 8A): fixed while the card stays in the reader, unless the module
// changes its files.
bool IsStaticGetData(const ApduCommand& command) {
  if (!IsPlain(command) || command.ins != kInsGetData || command.p1 != 0x01 || command.lc != 0) return false;
  switch (command.p2) {
    case 0x80:
    case 0x81:
    case 0x82:
    case 0x89:
    case 0x8A:
      return true;
    default:
      return false;
  }
}

bool IsPinStateAnswer(uint16_t sw) {
  return sw == kSwSuccess || (sw & 0xFFF0) == 0x63C0 || sw == 0x6983 || sw == 0x6984;
}

// Commands after which the current file and the security state are as they
// were: reads of card data, and VERIFY without data, which only reports the
// PIN state.
bool KeepsCurrentFile(const ApduCommand& command, CK_RV rv, uint16_t sw) {
  if (!IsPlain(command)) return false;
  if (command.ins == kInsGetData) return rv == CKR_OK && sw == kSwSuccess;
  if (command.ins == kInsVerify) return command.lc == 0 && IsPinStateAnswer(sw);
  return false;
}

// Commands that change neither files nor card data: selections, reads,
// PIN and security-environment commands, authentication, signing and
// deciphering. Anything else (UPDATE BINARY, CREATE FILE, DELETE FILE,
// DEACTIVATE, PUT DATA, life-cycle changes, key generation, commands this
// list does not know) may have changed what is kept.
bool LeavesFilesAlone(const ApduCommand& command) {
  switch (command.ins) {
    case 0x12:  // card-side transaction begin and end
    case 0x16:  // LIST
    case 0x20:  // VERIFY
    case 0x22:  // MANAGE SECURITY ENVIRONMENT
    case 0x24:  // CHANGE REFERENCE DATA
    case 0x2A:  // PERFORM SECURITY OPERATION
    case 0x2C:  // RESET RETRY COUNTER
    case 0x82:  // EXTERNAL AUTHENTICATE
    case 0x84:  // GET CHALLENGE
    case 0x86:  // GENERAL AUTHENTICATE
    case 0x88:  // INTERNAL AUTHENTICATE
    case 0xA4:  // SELECT
    case 0xB0:  // READ BINARY
    case 0xB2:  // READ RECORD
    case 0xC0:  // GET RESPONSE
    case 0xCA:  // GET DATA
      return true;
    case kInsGenerateKeyPair:
      return command.p1 == kReadPublicKeyOfPair;
    default:
      return false;
  }
}

bool Expects9000(const ApduCommand& command) {
  return command.expectedSw == kSwSuccess || command.expectedSw == kSwNotChecked;
}

void Fill(ApduResponse& response, const std::vector<uint8_t>& data) {
  response.Clear();
  response.sw = kSwSuccess;
  if (data.empty()) return;
  response.data = std::make_unique<uint8_t[]>(data.size());
  std::copy(data.begin(), data.end(), response.data.get());
  response.length = static_cast<uint16_t>(data.size());
}

std::vector<uint8_t> DataOf(const ApduResponse& response) {
  if (!response.data || response.length == 0) return {};
  return {response.data.get(), response.data.get() + response.length};
}

}  // namespace

void CardMemory::TransactionBegun(bool began) {
  std::lock_guard lock(mutex_);
  if (!began) {
    currentFile_.reset();
    ForgetDataLocked();
    return;
  }
  // Between two transactions another process may have moved the card.
  if (transactions_++ == 0) currentFile_.reset();
}

void CardMemory::TransactionEnded(bool ended) {
  std::lock_guard lock(mutex_);
  currentFile_.reset();
  if (ended && transactions_ > 0) --transactions_;
}

void CardMemory::ForgetAll() {
  std::lock_guard lock(mutex_);
  currentFile_.reset();
  ForgetDataLocked();
}

void CardMemory::ForgetCurrentFile() {
  std::lock_guard lock(mutex_);
  currentFile_.reset();
}

void CardMemory::ForgetDataLocked() {
  staticData_.clear();
  files_.clear();
  pinPad_.reset();
  ++generation_;
}

bool CardMemory::Answer(const ApduCommand& command, bool forceExtended, ApduResponse& response) {
  const bool selection = IsKeptSelection(command);
  const bool staticData = IsStaticGetData(command);
  if ((!selection && !staticData) || !Expects9000(command)) return false;
  const std::vector<uint8_t> key = Key(command, forceExtended);
  std::lock_guard lock(mutex_);
  if (selection) {
    if (transactions_ == 0 || !currentFile_ || currentFile_->command != key) return false;
    Fill(response, currentFile_->data);
  } else {
    const auto found = staticData_.find(key);
    if (found == staticData_.end()) return false;
    Fill(response, found->second);
  }
  if (IsLogLevelEnabled(LOG_LEVEL_DEBUG)) {
    LogMessage(LOG_LEVEL_DEBUG, true, "SendApdu", __LINE__, true, "%02X %02X %02X %02X answered from memory",
               command.cla, command.ins, command.p1, command.p2);
  }
  return true;
}

uint64_t CardMemory::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

void CardMemory::Observe(const ApduCommand& command, bool forceExtended, CK_RV rv, const ApduResponse& response,
                         uint64_t generation) {
  if (command.skip != 0) return;  // nothing went to the card
  std::lock_guard lock(mutex_);
  if (rv == CKR_DEVICE_ERROR) {
    // The card may be gone, reset or replaced.
    currentFile_.reset();
    ForgetDataLocked();
    return;
  }
  if (!LeavesFilesAlone(command)) ForgetDataLocked();
  const bool current = generation == generation_;
  const bool answered = rv == CKR_OK && response.sw == kSwSuccess;

  if (IsKeptSelection(command) && answered && transactions_ > 0 && current) {
    currentFile_ = Answered{Key(command, forceExtended), DataOf(response)};
  } else if (!KeepsCurrentFile(command, rv, response.sw)) {
    currentFile_.reset();
  }
  if (IsStaticGetData(command) && answered && current) staticData_[Key(command, forceExtended)] = DataOf(response);
}

std::optional<std::vector<uint8_t>> CardMemory::File(const std::string& key) const {
  std::lock_guard lock(mutex_);
  const auto found = files_.find(key);
  if (found == files_.end()) return std::nullopt;
  return found->second;
}

void CardMemory::KeepFile(const std::string& key, std::vector<uint8_t> contents, uint64_t generation) {
  std::lock_guard lock(mutex_);
  if (generation != generation_) return;
  files_[key] = std::move(contents);
}

std::optional<bool> CardMemory::PinPad() const {
  std::lock_guard lock(mutex_);
  return pinPad_;
}

void CardMemory::KeepPinPad(bool pinPad, uint64_t generation) {
  std::lock_guard lock(mutex_);
  if (generation == generation_) pinPad_ = pinPad;
}

bool CardMemory::HoldsTransaction() const {
  std::lock_guard lock(mutex_);
  return transactions_ > 0;
}

}  // namespace Brelt::MW::Card
