#include "card/ReaderStates.h"

#include <utility>

namespace Brelt::MW::Card {

ReaderStates::ReaderStates(std::vector<std::string> names) : names_(std::move(names)), states_(names_.size()) {
  for (size_t i = 0; i < names_.size(); ++i) states_[i].szReader = names_[i].c_str();
}

const SCARD_READERSTATE* ReaderStates::Find(const std::string& name) const {
  for (size_t i = 0; i < names_.size(); ++i)
    if (names_[i] == name) return &states_[i];
  return nullptr;
}

void ReaderStates::AcceptEventStates() {
  for (auto& state : states_) state.dwCurrentState = state.dwEventState;
}

void ReaderStates::Clear() {
  states_.clear();
  names_.clear();
}

}  // namespace Brelt::MW::Card
