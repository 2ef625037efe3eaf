// Runs the BER-TLV header readers over arbitrary bytes and checks that a
// header they accept lies inside the buffer.
#include <cstdint>
#include <cstdlib>

#include "Ber.h"

using namespace Brelt::Crypto::Ber;
using Brelt::MW::Base::HexBinary;
using Brelt::MW::Base::MWException;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16) return 0;
    HexBinary tlv(data, static_cast<int>(size), true);
    try {
        const int tagLength = GetTagLength(&tlv);
        if (tagLength < 1 || tagLength > static_cast<int>(size)) abort();
        GetTag(&tlv);
    } catch (const MWException&) {
    }
    try {
        const int headerLength = GetTagLength(&tlv) + GetLengthFieldSize(&tlv);
        if (headerLength > static_cast<int>(size)) abort();
        GetValueLength(&tlv);
    } catch (const MWException&) {
    }
    return 0;
}
