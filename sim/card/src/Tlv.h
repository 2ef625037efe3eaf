// BER-TLV helpers: encoding goes through Botan's DER encoder; decoding of
// command data (MSE templates, security attributes, FCPs) is a flat walk.
#pragma once

#include <cardsim/Card.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace cardsim::detail {

// Tag written as its encoded bytes, e.g. 0x62, 0x84, 0x7F49.
Bytes Tlv(uint32_t tag, const Bytes& value);
Bytes Concat(std::initializer_list<Bytes> parts);

struct TlvElement {
    uint32_t tag = 0;
    Bytes value;
};

// Splits `data` into consecutive elements; empty optional when malformed.
std::optional<std::vector<TlvElement>> ParseTlvs(const Bytes& data);
const TlvElement* FindTlv(const std::vector<TlvElement>& elements, uint32_t tag);

}  // namespace cardsim::detail
