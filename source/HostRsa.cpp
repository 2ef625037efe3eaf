#include "HostRsa.h"

#include <botan/bigint.h>
#include <botan/rsa.h>

#include <cstring>
#include <string>
#include <vector>

#include "CryptoBytes.h"
#include "Eme.h"
#include "HostCryptoResult.h"
#include "RsaKey.h"

namespace Brelt::Crypto {

namespace {

using Brelt::MW::Base::HexBinary;

const char* EmsaForMechanism(CK_MECHANISM_TYPE mechanism)
{
    switch (mechanism) {
    case CKM_RSA_PKCS: return "EMSA3(Raw)";
    case CKM_SHA1_RSA_PKCS: return "EMSA3(SHA-1)";
    case CKM_SHA256_RSA_PKCS: return "EMSA3(SHA-256)";
    case CKM_SHA384_RSA_PKCS: return "EMSA3(SHA-384)";
    case CKM_SHA512_RSA_PKCS: return "EMSA3(SHA-512)";
    case CKM_SHA224_RSA_PKCS: return "EMSA3(SHA-224)";
    default: return nullptr;
    }
}

const char* OaepHashName(CK_MECHANISM_TYPE hashAlg)
{
    switch (hashAlg) {
    case CKM_SHA_1: return "SHA-1";
    case CKM_SHA256: return "SHA-256";
    case CKM_SHA384: return "SHA-384";
    case CKM_SHA512: return "SHA-512";
    default: return nullptr;
    }
}

// A buffer holding a copy of caller bytes (none for a null pointer).
std::unique_ptr<HexBinary> CopyBytes(const unsigned char* bytes, uint32_t length)
{
    return MakeHexBinary(bytes, bytes != nullptr ? length : 0);
}

bool NullWithLength(const void* pointer, uint32_t length)
{
    return pointer == nullptr && length != 0;
}

// The accepted mechanisms and, for OAEP, the accepted parameters.
struct EncodingChoice {
    bool oaep = false;
    const char* hashName = nullptr;
    std::string label;
};

bool ChooseEncoding(const CK_MECHANISM* mechanism, EncodingChoice& choice)
{
    if (mechanism == nullptr)
        return false;
    if (mechanism->mechanism == CKM_RSA_PKCS)
        return true;
    if (mechanism->mechanism != CKM_RSA_PKCS_OAEP)
        return false;
    if (mechanism->pParameter == nullptr || mechanism->ulParameterLen != sizeof(CK_RSA_PKCS_OAEP_PARAMS))
        return false;
    const auto* params = static_cast<const CK_RSA_PKCS_OAEP_PARAMS*>(mechanism->pParameter);
    choice.oaep = true;
    choice.hashName = OaepHashName(params->hashAlg);
    if (choice.hashName == nullptr)
        return false;
    // The mask always uses MGF1 over hashAlg's hash; mgf is only range-checked.
    if (params->mgf < 1 || params->mgf > 4)
        return false;
    if (params->source == 0 && params->pSourceData == nullptr && params->ulSourceDataLen == 0)
        return true;
    if (params->source == CKZ_DATA_SPECIFIED && params->pSourceData != nullptr && params->ulSourceDataLen != 0) {
        choice.label.assign(static_cast<const char*>(params->pSourceData), params->ulSourceDataLen);
        return true;
    }
    return false;
}

int CopyOut(const std::vector<uint8_t>& result, unsigned char* output, uint32_t* outputLength)
{
    if (outputLength == nullptr)
        return CRYPTO_FAILED;
    if (*outputLength < result.size()) {
        *outputLength = static_cast<uint32_t>(result.size());
        return CRYPTO_BUFFER_TOO_SMALL;
    }
    if (output == nullptr && !result.empty())
        return CRYPTO_FAILED;
    if (!result.empty())
        std::memcpy(output, result.data(), result.size());
    *outputLength = static_cast<uint32_t>(result.size());
    return CRYPTO_OK;
}

}  // namespace

int VerifyWithSessionPublicKey(const unsigned char* data, uint16_t dataLength,
                               const unsigned char* signature, uint16_t signatureLength,
                               const unsigned char* exponent, uint16_t exponentLength,
                               const unsigned char* modulus, uint16_t modulusLength,
                               CK_MECHANISM_TYPE mechanism)
{
    const char* emsa = EmsaForMechanism(mechanism);
    if (emsa == nullptr)
        return CRYPTO_BAD_INPUT;
    if (NullWithLength(data, dataLength) || NullWithLength(signature, signatureLength) ||
        NullWithLength(exponent, exponentLength) || NullWithLength(modulus, modulusLength))
        return CRYPTO_BAD_INPUT;
    const auto n = CopyBytes(modulus, modulusLength);
    const auto e = CopyBytes(exponent, exponentLength);
    const RsaKeyHolder key = MakeRsaPublicKey(n.get(), e.get());
    const RsaVerifier verifier(key, emsa);
    const auto message = CopyBytes(data, dataLength);
    const auto sig = CopyBytes(signature, signatureLength);
    return verifier.Verify(message.get(), sig.get()) ? CRYPTO_OK : CRYPTO_FAILED;
}

int DecryptToBuffer(const unsigned char* input, uint32_t inputLength, unsigned char* output,
                    uint32_t* outputLength, uint32_t modulusBits, const CK_MECHANISM* mechanism)
{
    EncodingChoice choice;
    if (!ChooseEncoding(mechanism, choice) || NullWithLength(input, inputLength) || outputLength == nullptr)
        return CRYPTO_FAILED;
    if (!choice.oaep)
        return CopyOut(std::vector<uint8_t>(input, input + inputLength), output, outputLength);

    if (modulusBits < 16)
        return CRYPTO_FAILED;
    const size_t k = (static_cast<size_t>(modulusBits) + 7) / 8;
    std::vector<uint8_t> block(input, input + inputLength);
    // A full k-byte block keeps the leading zero byte of the RSA output;
    // the decoder takes the block without it.
    if (block.size() == k && block.front() == 0x00)
        block.erase(block.begin());
    if (block.size() < k - 1)
        block.insert(block.begin(), k - 1 - block.size(), 0x00);
    const auto encoded = MakeHexBinary(block);
    const OAEP oaep(choice.hashName, modulusBits - 1, choice.label);
    const auto plain = oaep.Decode(encoded.get());
    if (!plain)
        return CRYPTO_FAILED;
    const auto bytes = BytesOf(plain.get());
    return CopyOut(std::vector<uint8_t>(bytes.begin(), bytes.end()), output, outputLength);
}

int EncryptWithSessionPublicKey(const unsigned char* data, uint32_t dataLength,
                                unsigned char* output, uint32_t* outputLength,
                                const unsigned char* exponent, uint32_t exponentLength,
                                const unsigned char* modulus, uint32_t modulusLength,
                                const CK_MECHANISM* mechanism)
{
    EncodingChoice choice;
    if (!ChooseEncoding(mechanism, choice) || NullWithLength(data, dataLength) ||
        NullWithLength(exponent, exponentLength) || NullWithLength(modulus, modulusLength) ||
        outputLength == nullptr)
        return CRYPTO_FAILED;
    const auto n = CopyBytes(modulus, modulusLength);
    const auto e = CopyBytes(exponent, exponentLength);
    const RsaKeyHolder key = MakeRsaPublicKey(n.get(), e.get());
    const uint32_t modulusBits = static_cast<uint32_t>(key->get_n().bits());

    const auto message = CopyBytes(data, dataLength);
    std::unique_ptr<HexBinary> encoded;
    if (choice.oaep)
        encoded = OAEP(choice.hashName, modulusBits - 1, choice.label).Encode(message.get());
    else
        encoded = EmePkcs1v15(modulusBits - 1).Encode(message.get());
    if (!encoded)
        return CRYPTO_FAILED;

    const RsaEncryptor encryptor(key, "Raw");
    const auto cipher = encryptor.Encrypt(encoded.get());
    const auto bytes = BytesOf(cipher.get());
    return CopyOut(std::vector<uint8_t>(bytes.begin(), bytes.end()), output, outputLength);
}

void ReleaseRsaEncryptor(std::unique_ptr<RsaEncryptor>& holder)
{
    holder.reset();
}

void ReleaseRsaVerifier(std::unique_ptr<RsaVerifier>& holder)
{
    holder.reset();
}

}  // namespace Brelt::Crypto
