#pragma once
// pcsc-lite counts the card insertions and removals of a reader in the high
// 16 bits of a reader state's dwEventState. A reader seen with a card twice
// in a row whose count changed in between had its card replaced (removed and
// another, or the same, inserted) within one poll: its slots belong to a card
// that is gone and must be handled as a removal followed by an insertion.

#include <winscard.h>

#include <cstdint>

namespace Brelt::MW::Card {

inline uint16_t CardEventCount(DWORD eventState) { return static_cast<uint16_t>((eventState >> 16) & 0xFFFF); }

inline bool IsCardReplaced(DWORD keptState, DWORD newState) {
  const bool presentBoth = (keptState & SCARD_STATE_PRESENT) != 0 && (newState & SCARD_STATE_PRESENT) != 0;
  return presentBoth && CardEventCount(keptState) != CardEventCount(newState);
}

}  // namespace Brelt::MW::Card
