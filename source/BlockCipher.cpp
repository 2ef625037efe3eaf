#include "BlockCipher.h"

#include <botan/filters.h>
#include <botan/pipe.h>

#include <stdexcept>

#include "CryptoBytes.h"

namespace Brelt::Crypto {

BlockCipher::BlockCipher(std::string transformation, const Botan::OctetString& key,
                         const Botan::OctetString& iv)
    : transformation_(std::move(transformation))
{
    const Brelt::MW::Base::HexBinary keyBytes(key.begin(), static_cast<int>(key.length()), true);
    key_ = MakeOctetStringFromHexBinary(&keyBytes);
    iv_ = MakeOctetStringFromHex(iv.to_string());
}

BlockCipher::~BlockCipher() = default;

std::unique_ptr<Brelt::MW::Base::HexBinary> BlockCipher::Encrypt(const Brelt::MW::Base::HexBinary* data) const
{
    return Run(data, true);
}

std::unique_ptr<Brelt::MW::Base::HexBinary> BlockCipher::Decrypt(const Brelt::MW::Base::HexBinary* data) const
{
    return Run(data, false);
}

std::unique_ptr<Brelt::MW::Base::HexBinary> BlockCipher::Run(const Brelt::MW::Base::HexBinary* data,
                                                             bool encrypt) const
{
    if (data == nullptr)
        throw std::invalid_argument("BlockCipher: null data");
    const auto input = BytesOf(data);
    // Keyed here rather than by Botan's keyed get_cipher, which leaks the
    // filter when the key is refused.
    std::unique_ptr<Botan::Keyed_Filter> filter(
        Botan::get_cipher(transformation_, encrypt ? Botan::ENCRYPTION : Botan::DECRYPTION));
    filter->set_key(*key_);
    filter->set_iv(*iv_);
    Botan::Pipe pipe(filter.release());
    pipe.process_msg(input.data(), input.size());
    const Botan::secure_vector<uint8_t> output = pipe.read_all(0);
    return MakeHexBinary(output);
}

}  // namespace Brelt::Crypto
