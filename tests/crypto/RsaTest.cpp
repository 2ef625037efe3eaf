#include <gtest/gtest.h>

#include <botan/auto_rng.h>
#include <botan/numthry.h>
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

TEST_F(RsaTest, KeyHolderRoundTrip)
{
    const auto n = Hex(ToHex(modulus_));
    const auto e = Hex(ToHex(exponent_));
    RsaKeyHolder key = MakeRsaPublicKey(n.get(), e.get());
    EXPECT_TRUE(GetRsaModulus(key)->Equals(n.get()));
    EXPECT_EQ(ToHex(GetRsaExponent(key).get()), "010001");
    ReleaseRsaKey(key);
    EXPECT_EQ(key, nullptr);
    EXPECT_ANY_THROW(MakeRsaPublicKey(Hex("").get(), e.get()));
    EXPECT_ANY_THROW(MakeRsaPublicKey(Hex("10").get(), e.get()));
}

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
    params.hashAlg = CKM_SHA224;
    EXPECT_EQ(decrypt(&oaep), CRYPTO_FAILED);
    params.hashAlg = CKM_SHA256;
    params.mgf = 5;
    EXPECT_EQ(decrypt(&oaep), CRYPTO_FAILED);
    params.mgf = CKG_MGF1_SHA1;
    params.source = CKZ_DATA_SPECIFIED;  // source data announced but missing
    EXPECT_EQ(decrypt(&oaep), CRYPTO_FAILED);
    char label[] = "x";
    params.source = 0;
    params.pSourceData = label;
    params.ulSourceDataLen = 1;
    EXPECT_EQ(decrypt(&oaep), CRYPTO_FAILED);
    EXPECT_EQ(DecryptToBuffer(block.data(), 127, out.data(), nullptr, 1024, &x509), CRYPTO_FAILED);
    EXPECT_EQ(DecryptToBuffer(nullptr, 127, out.data(), &length, 1024, &x509), CRYPTO_FAILED);
}

namespace {
// Made once with an independent implementation (OpenSSL): a 1024-bit key,
// an OAEP block (SHA-256, MGF1-SHA-256, label "label") of "attack at dawn"
// as the raw RSA decryption yields it, and a SHA-256 PKCS#1 v1.5 signature
// of the same text.
constexpr char kModulus[] =
    "A5D62994E3004BFD51EBA1D4131CF702970E5BD8D220E9412B3718ABE609F303A46B979DEE132B79E53608DAA936D6FF"
    "6ACBA543532691A1CD1B54FF5937D24298B776067BC9186CB2A4979294093EFA9849B9E04A19ED2C91B904C5C2512A4A"
    "3E0B7830E6F2BEBE48B50E8CB62850FBA88F751F2D671FECC9C6319060303761";
constexpr char kOaepBlock[] =
    "001E955D0F403490E336422D16F40F2D448C38AFEDF876CDAEB5C8B94DEC526509AA37A13ED9702AF55EFBE0ED14D8EC"
    "822923FB3BFFE0B1C1DDFDE599A50AE29DAF459D2781E351069188F97817F585E6F243F80631A2E0E5D020B2C2D9F5D7"
    "1DDB42EB27576BD73C4F7D77BE5FE7810F1202A8AEC5ADB9BBC1BA8846D807D3";
constexpr char kSignature[] =
    "1DACEC02B0F22512A01F8F5166EB4D29970A42866906780DC7C7D96AF2F9FC8B73C8D82EEB60B8ECF2C87279C95DE038"
    "D036B49335066C386292DAF0E59BF1E20C0BD235968D1D6FEA8745EADC1C837166988FF3C3F465A7233FE3FD965D284A"
    "91FE1AECDEC7BC9865C28BCDDED8C7F5AD6585DC09044448B98373012CCA655C";
constexpr char kMessage[] = "attack at dawn";
}  // namespace

TEST(RsaKnownAnswers, OaepBlockFromAnotherImplementation)
{
    const auto block = cryptotest::Bytes(kOaepBlock);
    char label[] = "label";
    CK_RSA_PKCS_OAEP_PARAMS params{CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, label, 5};
    const CK_MECHANISM mechanism{CKM_RSA_PKCS_OAEP, &params, sizeof params};
    std::vector<uint8_t> out(32);
    for (size_t skip : {0, 1}) {  // with and without the leading zero byte
        uint32_t length = 32;
        ASSERT_EQ(DecryptToBuffer(block.data() + skip, static_cast<uint32_t>(block.size() - skip), out.data(),
                                  &length, 1024, &mechanism),
                  CRYPTO_OK);
        EXPECT_EQ(std::string(out.begin(), out.begin() + length), kMessage);
    }
    const OAEP oaep("SHA-256", 1023, "label");
    const auto decoded = oaep.Decode(Hex(std::string(kOaepBlock).substr(2)).get());
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->ToCharString(), kMessage);
}

TEST(RsaKnownAnswers, SignatureFromAnotherImplementation)
{
    const auto modulus = cryptotest::Bytes(kModulus);
    const auto signature = cryptotest::Bytes(kSignature);
    const std::vector<uint8_t> exponent = {0x01, 0x00, 0x01};
    const std::string message = kMessage;
    auto verify = [&](const std::string& text, CK_MECHANISM_TYPE mechanism) {
        return VerifyWithSessionPublicKey(reinterpret_cast<const unsigned char*>(text.data()),
                                          static_cast<uint16_t>(text.size()), signature.data(), 128, exponent.data(),
                                          3, modulus.data(), 128, mechanism);
    };
    EXPECT_EQ(verify(message, CKM_SHA256_RSA_PKCS), CRYPTO_OK);
    EXPECT_EQ(verify(message, CKM_SHA1_RSA_PKCS), CRYPTO_FAILED);
    EXPECT_EQ(verify("attack at dusk", CKM_SHA256_RSA_PKCS), CRYPTO_FAILED);
}

namespace {
// RSAES-OAEP Example 1.1 of the published PKCS #1 v2.1 test vectors
// (oaep-vect.txt: 1024-bit key, SHA-1, MGF1-SHA-1, empty label).
constexpr char kVectorModulus[] =
    "A8B3B284AF8EB50B387034A860F146C4919F318763CD6C5598C8AE4811A1E0ABC4C7E0B082D693A5E7FCED675CF46685"
    "12772C0CBC64A742C6C630F533C8CC72F62AE833C40BF25842E984BB78BDBF97C0107D55BDB662F5C4E0FAB9845CB514"
    "8EF7392DD3AAFF93AE1E6B667BB3D4247616D4F5BA10D4CFD226DE88D39F16FB";
constexpr char kVectorPrivateExponent[] =
    "53339CFDB79FC8466A655C7316ACA85C55FD8F6DD898FDAF119517EF4F52E8FD8E258DF93FEE180FA0E4AB29693CD83B"
    "152A553D4AC4D1812B8B9FA5AF0E7F55FE7304DF41570926F3311F15C4D65A732C483116EE3D3D2D0AF3549AD9BF7CBF"
    "B78AD884F84D5BEB04724DC7369B31DEF37D0CF539E9CFCDD3DE653729EAD5D1";
constexpr char kVectorEncryption[] =
    "354FE67B4A126D5D35FE36C777791A3F7BA13DEF484E2D3908AFF722FAD468FB21696DE95D0BE911C2D3174F8AFCC201"
    "035F7B6D8E69402DE5451618C21A535FA9D7BFC5B8DD9FC243F8CF927DB31322D6E881EAA91A996170E657A05A266426"
    "D98C88003F8477C1227094A0D9FA1E8C4024309CE1ECCCB5210035D47AC72E8A";
constexpr char kVectorMessage[] = "6628194E12073DB03BA94CDA9EF9532397D50DBA79B987004AFEFE34";

Botan::BigInt BigIntOf(const char* hex)
{
    const auto bytes = cryptotest::Bytes(hex);
    return Botan::BigInt(bytes.data(), bytes.size());
}
}  // namespace

TEST(RsaKnownAnswers, PublishedOaepVectorDecodes)
{
    // The raw RSA decryption stands in for the card; the OAEP decoding is the module's.
    const Botan::BigInt n = BigIntOf(kVectorModulus);
    const Botan::BigInt block =
        Botan::power_mod(BigIntOf(kVectorEncryption), BigIntOf(kVectorPrivateExponent), n);
    const std::vector<uint8_t> encoded = Botan::unlock(Botan::BigInt::encode_1363(block, 128));

    CK_RSA_PKCS_OAEP_PARAMS params{CKM_SHA_1, CKG_MGF1_SHA1, 0, nullptr, 0};
    const CK_MECHANISM mechanism{CKM_RSA_PKCS_OAEP, &params, sizeof params};
    std::vector<uint8_t> out(128);
    uint32_t length = static_cast<uint32_t>(out.size());
    ASSERT_EQ(DecryptToBuffer(encoded.data(), static_cast<uint32_t>(encoded.size()), out.data(), &length, 1024,
                              &mechanism),
              CRYPTO_OK);
    out.resize(length);
    EXPECT_EQ(ToHex(out), kVectorMessage);

    // One flipped bit of the block, or another hash, is refused.
    std::vector<uint8_t> damaged = encoded;
    damaged[60] ^= 0x01;
    length = 128;
    EXPECT_EQ(DecryptToBuffer(damaged.data(), 128, out.data(), &length, 1024, &mechanism), CRYPTO_FAILED);
    params.hashAlg = CKM_SHA256;
    length = 128;
    EXPECT_EQ(DecryptToBuffer(encoded.data(), 128, out.data(), &length, 1024, &mechanism), CRYPTO_FAILED);
}

namespace {
// RSASSA-PKCS1-v1_5 Example 1.1 of the published PKCS #1 test vectors
// (pkcs1v15sign-vectors.txt: 1024-bit key, SHA-1).
constexpr char kSignVectorModulus[] =
    "A56E4A0E701017589A5187DC7EA841D156F2EC0E36AD52A44DFEB1E61F7AD991D8C51056FFEDB162B4C0F283A12A88A3"
    "94DFF526AB7291CBB307CEABFCE0B1DFD5CD9508096D5B2B8B6DF5D671EF6377C0921CB23C270A70E2598E6FF89D19F1"
    "05ACC2D3F0CB35F29280E1386B6F64C4EF22E1E1F20D0CE8CFFB2249BD9A2137";
constexpr char kSignVectorMessage[] =
    "CDC87DA223D786DF3B45E0BBBC721326D1EE2AF806CC315475CC6F0D9C66E1B62371D45CE2392E1AC92844C310102F15"
    "6A0D8D52C1F4C40BA3AA65095786CB769757A6563BA958FED0BCC984E8B517A3D5F515B23B8A41E74AA867693F90DFB0"
    "61A6E86DFAAEE64472C00E5F20945729CBEBE77F06CE78E08F4098FBA41F9D6193C0317E8B60D4B6084ACB42D29E3808"
    "A3BC372D85E331170FCBF7CC72D0B71C296648B3A4D10F416295D0807AA625CAB2744FD9EA8FD223C42537029828BD16"
    "BE02546F130FD2E33B936D2676E08AED1B73318B750A0167D0";
constexpr char kSignVectorSignature[] =
    "6BC3A06656842930A247E30D5864B4D819236BA7C68965862AD7DBC4E24AF28E86BB531F03358BE5FB74777C6086F850"
    "CAEF893F0D6FCC2D0C91EC013693B4EA00B80CD49AAC4ECB5F8911AFE539ADA4A8F3823D1D13E472D1490547C659C761"
    "7F3D24087DDB6F2B72096167FC097CAB18E9A458FCB634CDCE8EE35894C484D7";
constexpr char kSignVectorDigestInfo[] =
    "3021300906052B0E03021A05000414CD8B6538CB8E8DE566B68BD067569DBF1EE2718E";
}  // namespace

TEST(RsaKnownAnswers, PublishedPkcs1SignatureVerifies)
{
    const auto modulus = cryptotest::Bytes(kSignVectorModulus);
    const auto message = cryptotest::Bytes(kSignVectorMessage);
    const auto signature = cryptotest::Bytes(kSignVectorSignature);
    const auto digestInfo = cryptotest::Bytes(kSignVectorDigestInfo);
    const std::vector<uint8_t> exponent = {0x01, 0x00, 0x01};
    auto verify = [&](const std::vector<uint8_t>& data, const std::vector<uint8_t>& sig, CK_MECHANISM_TYPE mechanism) {
        return VerifyWithSessionPublicKey(data.data(), static_cast<uint16_t>(data.size()), sig.data(),
                                          static_cast<uint16_t>(sig.size()), exponent.data(), 3, modulus.data(),
                                          static_cast<uint16_t>(modulus.size()), mechanism);
    };
    EXPECT_EQ(verify(message, signature, CKM_SHA1_RSA_PKCS), CRYPTO_OK);
    // CKM_RSA_PKCS verifies the DigestInfo the caller formed itself.
    EXPECT_EQ(verify(digestInfo, signature, CKM_RSA_PKCS), CRYPTO_OK);
    EXPECT_EQ(verify(message, signature, CKM_SHA256_RSA_PKCS), CRYPTO_FAILED);
    std::vector<uint8_t> damaged = signature;
    damaged[100] ^= 0x80;
    EXPECT_EQ(verify(message, damaged, CKM_SHA1_RSA_PKCS), CRYPTO_FAILED);
}
