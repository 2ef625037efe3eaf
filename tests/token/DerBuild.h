#pragma once
// Building DER test data from nested TLVs.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "ASN1Object.h"
#include "BaseTypes.h"

namespace testder {

using Der = std::vector<uint8_t>;

inline Der Hex(const std::string& hex)
{
    Der out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline Der Tlv(uint8_t tag, std::initializer_list<Der> parts)
{
    Der body;
    for (const Der& part : parts) body.insert(body.end(), part.begin(), part.end());
    Der out{tag};
    if (body.size() >= 0x80) out.push_back(body.size() < 0x100 ? 0x81 : 0x82);
    if (body.size() >= 0x100) out.push_back(static_cast<uint8_t>(body.size() >> 8));
    out.push_back(static_cast<uint8_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Der Prim(uint8_t tag, const std::string& hex) { return Tlv(tag, {Hex(hex)}); }

inline Der Cat(std::initializer_list<Der> parts)
{
    Der out;
    for (const Der& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Brelt::MW::Base::HexBinary ToHex(const Der& bytes)
{
    return Brelt::MW::Base::HexBinary(bytes.data(), static_cast<int32_t>(bytes.size()), true);
}

inline Der FromHex(const Brelt::MW::Base::HexBinary& hex)
{
    return hex.length > 0 ? Der(hex.data, hex.data + hex.length) : Der{};
}

inline Der FromHex(const Brelt::MW::Base::HexBinary* hex) { return hex ? FromHex(*hex) : Der{}; }

inline std::unique_ptr<Brelt::Crypto::ASN::ASN1Object> Node(const Der& der)
{
    auto node = std::make_unique<Brelt::Crypto::ASN::ASN1Object>();
    const auto hex = ToHex(der);
    node->Parse(&hex);
    return node;
}

}  // namespace testder
