#include <gtest/gtest.h>

#include <botan/auto_rng.h>
#include <botan/pubkey.h>
#include <botan/rsa.h>

#include "HostCryptoResult.h"
#include "Eme.h"
#include "HostRsa.h"
#include "RsaKey.h"
#include "TestBytes.h"

using namespace Brelt::Crypto;
using cryptotest::Hex;
using cryptotest::ToHex;

namespace {

class RsaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        privateKey_ = new Botan::RSA_PrivateKey(rng_, 1024);
        modulus_ = Botan::BigInt::encode(privateKey_->get_n());
        exponent_ = Botan::BigInt::encode(privateKey_->get_e());
    }
    static void TearDownTestSuite()
    {
        delete privateKey_;
        privateKey_ = nullptr;
    }

    static std::vector<uint8_t> Sign(const std::string& emsa, const std::vector<uint8_t>& message)
    {
        Botan::PK_Signer signer(*privateKey_, rng_, emsa);
        return signer.sign_message(message, rng_);
    }

    static int Verify(const std::vector<uint8_t>& message, const std::vector<uint8_t>& signature,
                      CK_MECHANISM_TYPE mechanism)
    {
        return VerifyWithSessionPublicKey(message.data(), static_cast<uint16_t>(message.size()), signature.data(),
                                          static_cast<uint16_t>(signature.size()), exponent_.data(),
                                          static_cast<uint16_t>(exponent_.size()), modulus_.data(),
                                          static_cast<uint16_t>(modulus_.size()), mechanism);
    }

    static int Encrypt(const std::vector<uint8_t>& message, std::vector<uint8_t>& cipher, uint32_t* length,
                       const CK_MECHANISM* mechanism)
    {
        return EncryptWithSessionPublicKey(message.data(), static_cast<uint32_t>(message.size()), cipher.data(), length,
                                           exponent_.data(), static_cast<uint32_t>(exponent_.size()), modulus_.data(),
                                           static_cast<uint32_t>(modulus_.size()), mechanism);
    }

    static std::vector<uint8_t> RawDecrypt(const std::vector<uint8_t>& cipher)
    {
        Botan::PK_Decryptor_EME decryptor(*privateKey_, rng_, "Raw");
        const auto plain = decryptor.decrypt(cipher);
        return {plain.begin(), plain.end()};
    }

    static inline Botan::AutoSeeded_RNG rng_;
    static inline Botan::RSA_PrivateKey* privateKey_ = nullptr;
    static inline std::vector<uint8_t> modulus_;
    static inline std::vector<uint8_t> exponent_;
};

}  // namespace

TEST_F(RsaTest, VerifyEveryMechanism)
{
    const std::vector<uint8_t> message = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};
    const std::pair<CK_MECHANISM_TYPE, const char*> table[] = {
        {CKM_SHA1_RSA_PKCS, "EMSA3(SHA-1)"},     {CKM_SHA224_RSA_PKCS, "EMSA3(SHA-224)"},
        {CKM_SHA256_RSA_PKCS, "EMSA3(SHA-256)"}, {CKM_SHA384_RSA_PKCS, "EMSA3(SHA-384)"},
        {CKM_SHA512_RSA_PKCS, "EMSA3(SHA-512)"}, {CKM_RSA_PKCS, "EMSA3(Raw)"},
    };
    for (const auto& [mechanism, emsa] : table) {
        auto signature = Sign(emsa, message);
        EXPECT_EQ(Verify(message, signature, mechanism), CRYPTO_OK) << emsa;
        auto other = message;
        other.back() ^= 1;
        EXPECT_EQ(Verify(other, signature, mechanism), CRYPTO_FAILED) << emsa;
        signature[10] ^= 0x80;
        EXPECT_EQ(Verify(message, signature, mechanism), CRYPTO_FAILED) << emsa;
    }
}

TEST_F(RsaTest, VerifyRefusesOversizedEmptyAndUnknown)
{
    const std::vector<uint8_t> message = {1, 2, 3};
    auto signature = Sign("EMSA3(SHA-256)", message);
    auto longer = signature;
    longer.insert(longer.begin(), 0x01);
    EXPECT_EQ(Verify(message, longer, CKM_SHA256_RSA_PKCS), CRYPTO_FAILED);
    EXPECT_EQ(Verify(message, std::vector<uint8_t>(300, 0xFF), CKM_SHA256_RSA_PKCS), CRYPTO_FAILED);
    EXPECT_EQ(Verify(message, {}, CKM_SHA256_RSA_PKCS), CRYPTO_FAILED);
    EXPECT_EQ(Verify(message, signature, CKM_SHA256_RSA_PKCS_PSS), CRYPTO_BAD_INPUT);
    EXPECT_EQ(VerifyWithSessionPublicKey(nullptr, 4, signature.data(), 128, exponent_.data(), 3,
                                         modulus_.data(), 128, CKM_SHA256_RSA_PKCS),
              CRYPTO_BAD_INPUT);
}

TEST_F(RsaTest, EncryptAndDecipherPkcs1)
{
    const std::vector<uint8_t> message = {'h', 'e', 'l', 'l', 'o'};
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    std::vector<uint8_t> cipher(128);
    uint32_t length = 128;
    ASSERT_EQ(Encrypt(message, cipher, &length, &mechanism), CRYPTO_OK);
    ASSERT_EQ(length, 128u);
    Botan::PK_Decryptor_EME decryptor(*privateKey_, rng_, "EME-PKCS1-v1_5");
    const auto plain = decryptor.decrypt(cipher);
    EXPECT_EQ(std::vector<uint8_t>(plain.begin(), plain.end()), message);

    // CKM_RSA_PKCS: the card's answer is already the plaintext.
    std::vector<uint8_t> out(5);
    length = 5;
    EXPECT_EQ(DecryptToBuffer(message.data(), 5, out.data(), &length, 1024, &mechanism), CRYPTO_OK);
    EXPECT_EQ(out, message);
    length = 4;
    EXPECT_EQ(DecryptToBuffer(message.data(), 5, out.data(), &length, 1024, &mechanism), CRYPTO_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 5u);

    length = 127;
    EXPECT_EQ(Encrypt(message, cipher, &length, &mechanism), CRYPTO_BUFFER_TOO_SMALL);
}

TEST_F(RsaTest, OaepThroughTheCardPath)
{
    const std::vector<uint8_t> message = {'s', 'e', 'c', 'r', 'e', 't'};
    const std::string label = "context";
    for (CK_MECHANISM_TYPE hash : {CKM_SHA_1, CKM_SHA256, CKM_SHA384}) {
        CK_RSA_PKCS_OAEP_PARAMS params{hash, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED,
                                       const_cast<char*>(label.data()), label.size()};
        CK_MECHANISM mechanism{CKM_RSA_PKCS_OAEP, &params, sizeof params};
        std::vector<uint8_t> cipher(128);
        uint32_t length = 128;
        ASSERT_EQ(Encrypt(message, cipher, &length, &mechanism), CRYPTO_OK);
        // The card hands back the raw block; leading zeros may be missing.
        const auto raw = RawDecrypt(cipher);
        ASSERT_LE(raw.size(), 127u);
        std::vector<uint8_t> out(16);
        uint32_t outLength = 16;
        ASSERT_EQ(DecryptToBuffer(raw.data(), static_cast<uint32_t>(raw.size()), out.data(), &outLength, 1024, &mechanism),
                  CRYPTO_OK);
        out.resize(outLength);
        EXPECT_EQ(out, message);

        // The full block with its leading zero byte decodes too.
        std::vector<uint8_t> full(128 - raw.size(), 0x00);
        full.insert(full.end(), raw.begin(), raw.end());
        outLength = 16;
        EXPECT_EQ(DecryptToBuffer(full.data(), 128, out.data(), &outLength, 1024, &mechanism), CRYPTO_OK);

        auto broken = raw;
        broken[broken.size() / 2] ^= 0x01;
        outLength = 16;
        EXPECT_EQ(DecryptToBuffer(broken.data(), static_cast<uint32_t>(broken.size()), out.data(), &outLength, 1024,
                                  &mechanism),
                  CRYPTO_FAILED);
    }
}

TEST_F(RsaTest, MechanismAndParameterChecks)
{
    const std::vector<uint8_t> block(127, 0x11);
    std::vector<uint8_t> out(128);
    uint32_t length = 128;
    auto decrypt = [&](const CK_MECHANISM* mechanism) {
        length = 128;
        return DecryptToBuffer(block.data(), 127, out.data(), &length, 1024, mechanism);
    };
    CK_MECHANISM x509{CKM_RSA_X_509, nullptr, 0};
    EXPECT_EQ(decrypt(&x509), CRYPTO_FAILED);
    EXPECT_EQ(decrypt(nullptr), CRYPTO_FAILED);

    CK_RSA_PKCS_OAEP_PARAMS params{CKM_SHA256, CKG_MGF1_SHA256, 0, nullptr, 0};
    CK_MECHANISM oaep{CKM_RSA_PKCS_OAEP, nullptr, 0};
    EXPECT_EQ(decrypt(&oaep), CRYPTO_FAILED);  // no parameters
    oaep.pParameter = &params;
    oaep.ulParameterLen = sizeof params - 1;
    EXPECT_EQ(decrypt(&oaep), CRYPTO_FAILED);  // wrong parameter size
    oaep.ulParameterLen = sizeof params;
    EXPECT_EQ(decrypt(&oaep), CRYPTO_FAILED);  // valid parameters, invalid block
    EXPECT_EQ(DecryptToBuffer(block.data(), 127, out.data(), nullptr, 1024, &x509), CRYPTO_FAILED);
    EXPECT_EQ(DecryptToBuffer(nullptr, 127, out.data(), &length, 1024, &x509), CRYPTO_FAILED);
}

