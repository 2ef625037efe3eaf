#include "PadPkcs1Type1.h"

#include <vector>

#include "CryptoBytes.h"

namespace Brelt::Crypto {

std::unique_ptr<Brelt::MW::Base::HexBinary> PadPkcs1Type1(const Brelt::MW::Base::HexBinary* data,
                                                          int32_t keyBits)
{
    if (data == nullptr || keyBits <= 0)
        return nullptr;
    const auto bytes = BytesOf(data);
    const size_t k = static_cast<size_t>(keyBits) / 8;
    if (bytes.size() + 3 > k)
        return nullptr;
    std::vector<uint8_t> block(k, 0xFF);
    block[0] = 0x00;
    block[1] = 0x01;
    block[k - bytes.size() - 1] = 0x00;
    std::copy(bytes.begin(), bytes.end(), block.end() - static_cast<std::ptrdiff_t>(bytes.size()));
    return MakeHexBinary(block);
}

}  // namespace Brelt::Crypto
