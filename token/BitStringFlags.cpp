#include "token/BitStringFlags.h"

#include "Logger.h"

namespace Brelt::MW::Token {

bool GetFlagAtIndex(const uint8_t* bytes, int32_t length, uint32_t index, bool* value)
{
    bool found = false;
    if (bytes != nullptr && length >= 1) {
        const int64_t usedBits = static_cast<int64_t>(length) * 8 - 8 - bytes[0];
        if (static_cast<int64_t>(index) < usedBits) {
            if (value != nullptr) *value = (bytes[1 + index / 8] & (0x80 >> (index % 8))) != 0;
            found = true;
        }
    }
    if (found) {
        LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s: TRUE", "GetFlagAtIndex");
    } else {
        LogMessage(LOG_LEVEL_INFO, true, nullptr, 0, true, "Leaving %s: FALSE", "GetFlagAtIndex");
    }
    return found;
}

bool SetFlagAtIndex(uint8_t* bytes, int32_t length, uint32_t index, bool value)
{
    if (bytes == nullptr || length < 1) return false;
    const int64_t total = static_cast<int64_t>(length) * 8 - 8;
    if (static_cast<int64_t>(index) >= total) return false;
    if (static_cast<int64_t>(index) >= total - bytes[0]) bytes[0] = static_cast<uint8_t>(total - index - 1);
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (index % 8));
    if (value) {
        bytes[1 + index / 8] |= mask;
    } else {
        bytes[1 + index / 8] &= static_cast<uint8_t>(~mask);
    }
    return true;
}

CK_RV GetFlagAttribute(const MW::Base::HexBinary* bitString, uint32_t index, uint8_t* value,
                       uint16_t* valueLength)
{
    if (bitString == nullptr) return CKR_OK;
    bool bit = false;
    if (!GetFlagAtIndex(bitString->data, bitString->length, index, &bit)) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true,
                   "Flag %u is not specified in Attribute's bit string of the ASN.1 record", index);
        bit = false;
    }
    *value = bit ? CK_TRUE : CK_FALSE;
    *valueLength = 1;
    return CKR_OK;
}

CK_RV SetFlagAttribute(uint32_t index, bool value, MW::Base::HexBinary* bitString)
{
    if (bitString == nullptr || !SetFlagAtIndex(bitString->data, bitString->length, index, value)) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true,
                   "Flag %u was NOT set in Attribute's bit string of the ASN.1 record", index);
    }
    return CKR_OK;
}

}  // namespace Brelt::MW::Token
