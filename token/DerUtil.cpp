#include "token/DerUtil.h"

namespace Brelt::MW::Token::Der {

using Crypto::ASN::ASN1Object;
using MW::Base::HexBinary;

namespace {
const char* const kIntegerTooBig = "Cannot parse to unsigned integer, probably too big value or incorrect bytes";
}

std::unique_ptr<HexBinary> ContentOf(const ASN1Object& node)
{
    const auto& contents = node.Contents();
    return std::make_unique<HexBinary>(contents.data(), static_cast<int32_t>(contents.size()), true);
}

uint32_t UnsignedOf(const ASN1Object& node)
{
    const auto& contents = node.Contents();
    if (contents.empty() || (contents[0] & 0x80) != 0) throw kIntegerTooBig;
    size_t start = 0;
    while (start + 1 < contents.size() && contents[start] == 0) ++start;
    if (contents.size() - start > 4) throw kIntegerTooBig;
    uint32_t value = 0;
    for (size_t i = start; i < contents.size(); ++i) value = (value << 8) | contents[i];
    return value;
}

const ASN1Object* ChildAt(const ASN1Object& node, size_t index)
{
    if (!node.HasChildren()) return nullptr;
    const auto children = node.GetChildren();
    return index < children.size() ? children[index] : nullptr;
}

size_t ChildCount(const ASN1Object& node)
{
    return node.HasChildren() ? node.GetChildren().size() : 0;
}

void AppendLength(std::vector<uint8_t>& out, size_t length)
{
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    uint8_t octets[sizeof(size_t)];
    int count = 0;
    for (size_t rest = length; rest != 0; rest >>= 8) octets[count++] = static_cast<uint8_t>(rest & 0xFF);
    out.push_back(static_cast<uint8_t>(0x80 | count));
    while (count > 0) out.push_back(octets[--count]);
}

void AppendTlv(std::vector<uint8_t>& out, uint8_t tag, const uint8_t* value, size_t length)
{
    out.push_back(tag);
    AppendLength(out, length);
    if (length > 0) out.insert(out.end(), value, value + length);
}

void AppendTlv(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& value)
{
    AppendTlv(out, tag, value.data(), value.size());
}

void AppendTlv(std::vector<uint8_t>& out, uint8_t tag, const HexBinary* value)
{
    if (value == nullptr || value->length <= 0) {
        AppendTlv(out, tag, nullptr, 0);
    } else {
        AppendTlv(out, tag, value->data, static_cast<size_t>(value->length));
    }
}

void AppendUnsigned(std::vector<uint8_t>& out, uint32_t value)
{
    std::vector<uint8_t> contents;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const uint8_t octet = static_cast<uint8_t>(value >> shift);
        if (contents.empty() && octet == 0 && shift != 0) continue;
        if (contents.empty() && (octet & 0x80) != 0) contents.push_back(0);
        contents.push_back(octet);
    }
    AppendTlv(out, 0x02, contents);
}

std::unique_ptr<HexBinary> ToHex(const std::vector<uint8_t>& bytes)
{
    return std::make_unique<HexBinary>(bytes.data(), static_cast<int32_t>(bytes.size()), true);
}

}  // namespace Brelt::MW::Token::Der
