#include "Iso9797Padding.h"

#include "CryptoBytes.h"

namespace Brelt::Crypto {

namespace {
constexpr size_t kBlock = 8;
}

std::vector<uint8_t> PadMethod2(const uint8_t* data, size_t length)
{
    std::vector<uint8_t> out(data, data + length);
    out.push_back(0x80);
    out.resize((out.size() + kBlock - 1) / kBlock * kBlock, 0x00);
    return out;
}

std::vector<uint8_t> PadMethod1(const uint8_t* data, size_t length)
{
    std::vector<uint8_t> out(data, data + length);
    out.resize((out.size() + kBlock - 1) / kBlock * kBlock, 0x00);
    return out;
}

std::unique_ptr<Brelt::MW::Base::HexBinary> PadIso9797Method2(const Brelt::MW::Base::HexBinary* data)
{
    const auto bytes = BytesOf(data);
    return MakeHexBinary(PadMethod2(bytes.data(), bytes.size()));
}

}  // namespace Brelt::Crypto
