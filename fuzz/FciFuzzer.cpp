// Looks up FCI elements in arbitrary SELECT answers and checks that every
// value found lies inside the answer.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "card/Fci.h"

using namespace Brelt::MW::Card;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const uint8_t tag : {uint8_t{0x80}, uint8_t{0x82}, uint8_t{0x83}, uint8_t{0x84}, uint8_t{0x8A}}) {
        const TlvValue value = FindFciElement(data, size, tag);
        if (value.data != nullptr && (value.data < data || value.data + value.length > data + size)) abort();
    }
    uint32_t fileSize = 0;
    if (GetFciFileSize(data, size, &fileSize) && fileSize > 0xFFFF) abort();
    return 0;
}
