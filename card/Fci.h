#pragma once
// Lookup of elements in the BER-TLV bytes of a file control information
// answer (the FCI/FCP template returned by SELECT).

#include <cstddef>
#include <cstdint>

namespace Brelt::MW::Card {

// A value inside the searched bytes; null when not found.
struct TlvValue {
    const uint8_t* data = nullptr;
    size_t length = 0;
};

// First element with the one-octet tag `tag`, searching in encoding order and
// descending into constructed elements. Only elements that lie completely
// inside the bytes are considered; malformed bytes end the search.
TlvValue FindFciElement(const uint8_t* bytes, size_t length, uint8_t tag);

// The file size from the 80 element (one or two octets, big-endian).
// False when there is no such element or its value has another length.
bool GetFciFileSize(const uint8_t* bytes, size_t length, uint32_t* fileSize);

}  // namespace Brelt::MW::Card
