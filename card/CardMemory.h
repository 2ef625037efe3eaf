#pragma once
// What the module remembers of one inserted card, so that a repeat whose
// answer is known costs no card command. One per card connection, shared by
// all slots of the card; a new insertion gets a new one.
//
// - The current file. While the module holds the card's PC/SC transaction no
//   other process can move the card, so after a SELECT answered 9000 a repeat
//   of the very same SELECT finds the same file and gets the same answer, as
//   long as nothing but reads of data (GET DATA) and of the PIN state (VERIFY
//   without data) went to the card in between. Only selections that do not
//   depend on the current DF are kept: the MF, a DF by name, a path from the
//   MF. Anything else sent to the card, another answer, the end of the
//   transaction and every PC/SC failure forget it.
// - Static card data, read once per insertion: the GET DATA answers of the
//   card's serial number, versions and memory, and files the token layer
//   keeps (public keys). A command that may change the card's files or data,
//   a transmit failure, a reset or reconnection and the removal of the card
//   drop them.
//
// PIN state, retry counters and everything else that may change while the
// card stays in the reader are never kept.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Apdu.h"

namespace Brelt::MW::Card {

class CardMemory {
 public:
  CardMemory() = default;
  CardMemory(const CardMemory&) = delete;
  CardMemory& operator=(const CardMemory&) = delete;

  // PC/SC transactions on the card handle: `began` false for a failed begin,
  // which drops everything (the card was reset or removed, or the handle is
  // gone). Every end, failed or not, forgets the current file.
  void TransactionBegun(bool began);
  void TransactionEnded(bool ended);

  // Reset, reconnection, removal, any PC/SC failure on the handle.
  void ForgetAll();
  // Commands that reach the card outside the transport (a PIN pad's).
  void ForgetCurrentFile();

  // The transport's side. Answer: true when `command` is answered from
  // memory; `response` then holds the card's earlier answer (SW 9000).
  bool Answer(const ApduCommand& command, bool forceExtended, ApduResponse& response);
  // Before an exchange: a mark that Observe compares, so that an answer
  // read across a ForgetAll is not kept.
  uint64_t Generation() const;
  // After an exchange: `rv` is the transport's result, CKR_DEVICE_ERROR for a
  // failed transmission.
  void Observe(const ApduCommand& command, bool forceExtended, CK_RV rv, const ApduResponse& response,
               uint64_t generation);

  // Files the token layer reads once per insertion, under a key of its own
  // that names the file unambiguously (application and path). KeepFile does
  // nothing when the memory was dropped since `generation` was taken.
  std::optional<std::vector<uint8_t>> File(const std::string& key) const;
  void KeepFile(const std::string& key, std::vector<uint8_t> contents, uint64_t generation);

  // Whether the reader has a PIN pad, as its feature list told once.
  std::optional<bool> PinPad() const;
  void KeepPinPad(bool pinPad, uint64_t generation);

  bool HoldsTransaction() const;

 private:
  struct Answered {
    std::vector<uint8_t> command;
    std::vector<uint8_t> data;
  };

  void ForgetDataLocked();

  mutable std::mutex mutex_;
  int transactions_ = 0;
  uint64_t generation_ = 0;
  std::optional<Answered> currentFile_;
  std::map<std::vector<uint8_t>, std::vector<uint8_t>> staticData_;
  std::map<std::string, std::vector<uint8_t>> files_;
  std::optional<bool> pinPad_;
};

}  // namespace Brelt::MW::Card
