#pragma once
// An array of PC/SC reader states, each entry pointing at its own copy of the
// reader name, in the form SCardGetStatusChange takes.

#include <winscard.h>

#include <cstddef>
#include <string>
#include <vector>

namespace Brelt::MW::Card {

class ReaderStates {
 public:
  ReaderStates() = default;
  // One entry per name, every other field 0 (state unknown to the caller).
  explicit ReaderStates(std::vector<std::string> names);

  ReaderStates(ReaderStates&&) noexcept = default;
  ReaderStates& operator=(ReaderStates&&) noexcept = default;
  ReaderStates(const ReaderStates&) = delete;
  ReaderStates& operator=(const ReaderStates&) = delete;

  size_t Count() const { return states_.size(); }
  bool Empty() const { return states_.empty(); }
  SCARD_READERSTATE* Data() { return states_.data(); }
  SCARD_READERSTATE& operator[](size_t index) { return states_[index]; }
  const SCARD_READERSTATE& operator[](size_t index) const { return states_[index]; }
  const std::string& Name(size_t index) const { return names_[index]; }

  // The entry of that reader, null when the array has none.
  const SCARD_READERSTATE* Find(const std::string& name) const;

  // Every entry's current state becomes its event state (the next wait then
  // reports only what changes after this moment).
  void AcceptEventStates();

  void Clear();

 private:
  // The entries point into `names_`; a vector keeps its elements in place
  // when it is moved, and the names never change after construction.
  std::vector<std::string> names_;
  std::vector<SCARD_READERSTATE> states_;
};

}  // namespace Brelt::MW::Card
