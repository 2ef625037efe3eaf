#include "Tlv.h"

#include <botan/der_enc.h>

namespace cardsim::detail {

Bytes Tlv(uint32_t tag, const Bytes& value)
{
    // Botan takes the class/constructed bits and the tag number apart.
    const uint8_t first = tag > 0xFF ? uint8_t(tag >> 8) : uint8_t(tag);
    const auto classBits = static_cast<Botan::ASN1_Tag>(first & 0xE0);
    const auto number = static_cast<Botan::ASN1_Tag>(tag > 0xFF ? (tag & 0x7F) : (first & 0x1F));
    Botan::DER_Encoder encoder;
    encoder.add_object(number, classBits, value.data(), value.size());
    return encoder.get_contents_unlocked();
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::optional<std::vector<TlvElement>> ParseTlvs(const Bytes& data)
{
    std::vector<TlvElement> out;
    size_t pos = 0;
    while (pos < data.size()) {
        TlvElement element;
        element.tag = data[pos++];
        if ((element.tag & 0x1F) == 0x1F) {
            if (pos >= data.size())
                return std::nullopt;
            element.tag = (element.tag << 8) | data[pos++];
        }
        if (pos >= data.size())
            return std::nullopt;
        size_t length = data[pos++];
        if (length == 0x81 || length == 0x82) {
            const size_t count = length & 0x7F;
            if (data.size() - pos < count)
                return std::nullopt;
            length = 0;
            for (size_t i = 0; i < count; ++i)
                length = (length << 8) | data[pos++];
        } else if (length > 0x7F) {
            return std::nullopt;
        }
        if (data.size() - pos < length)
            return std::nullopt;
        element.value.assign(data.begin() + pos, data.begin() + pos + length);
        pos += length;
        out.push_back(std::move(element));
    }
    return out;
}

const TlvElement* FindTlv(const std::vector<TlvElement>& elements, uint32_t tag)
{
    for (const TlvElement& element : elements)
        if (element.tag == tag)
            return &element;
    return nullptr;
}

}  // namespace cardsim::detail
