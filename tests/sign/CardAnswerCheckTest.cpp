// What the module checks in the card's signature before it answers CKR_OK:
// the answer's length against the key's modulus, the signature itself
// against the key's public half, and the key's size, taken from its modulus.
// The card's answers are changed through the simulated reader, the key
// directories through simulated personalisations.

#include <botan/rsa.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "../base/LogTestSupport.h"
#include "Logger.h"
#include "SignFixture.h"

namespace signtest {
namespace {

const cardsim::Bytes kComputeSignature = {0x00, 0x2A, 0x9E, 0x9A};
const cardsim::Bytes kDecipher = {0x00, 0x2A, 0x80, 0x86};
constexpr uint8_t kUntouched = 0xEE;

// The module's log at level 1 into a folder of its own while it lives.
class ErrorLog {
public:
    ErrorLog()
    {
        CloseLogger();
        std::string pattern = (std::filesystem::temp_directory_path() / "brelt-sign-log-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
        setenv("COPYRIGHT_BRELT_PKCS11_P", (folder_ / "pkcs11.log").c_str(), 1);
        setenv("COPYRIGHT_BRELT_PKCS11_L", "1", 1);
        setenv("COPYRIGHT_BRELT_PKCS11_T", "0", 1);
        InitLogger();
    }
    ~ErrorLog()
    {
        CloseLogger();
        for (const char* name : {"COPYRIGHT_BRELT_PKCS11_P", "COPYRIGHT_BRELT_PKCS11_L", "COPYRIGHT_BRELT_PKCS11_T"})
            unsetenv(name);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string Text()
    {
        CloseLogger();
        const std::string text = ReadFile(folder_ / "pkcs11.log");
        InitLogger();
        return text;
    }

private:
    std::filesystem::path folder_;
};

// One key of one card: the PSO its signature goes through.
struct SigningKey {
    const char* personalisation;
    size_t key;  // index among the private keys
    const cardsim::Bytes* pso;
};

std::string Name(const SigningKey& k)
{
    return std::string(k.personalisation) + " key " + std::to_string(k.key + 1);
}

class SignatureAnswerTest : public SignTest {
protected:
    // C_Sign of the DigestInfo into `room` bytes filled with kUntouched.
    CK_RV SignInto(CK_SESSION_HANDLE session, CK_ULONG room, std::vector<uint8_t>& buffer, CK_ULONG& length)
    {
        std::vector<uint8_t> data = DigestInfo();
        buffer.assign(room, kUntouched);
        length = room;
        return C_Sign(session, data.data(), data.size(), buffer.data(), &length);
    }

    static bool Untouched(const std::vector<uint8_t>& buffer)
    {
        return std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == kUntouched; });
    }

    size_t Count(const std::vector<std::string>& commands, const cardsim::Bytes& prefix)
    {
        const std::string hex = cardsim::ToHex(prefix);
        return size_t(std::count_if(commands.begin(), commands.end(),
                                    [&](const std::string& c) { return c.rfind(hex, 0) == 0; }));
    }
};

// A signature shorter or longer than the modulus, under 90 00, is no
// signature: the call fails with CKR_DEVICE_ERROR whatever the caller's
// buffer, copies nothing, and ends the operation; the card signed once.
TEST_F(SignatureAnswerTest, AnswerOfAnyOtherLengthIsADeviceErrorAndEndsTheOperation)
{
    using Make = std::function<cardsim::Fault(const cardsim::Bytes& pso)>;
    const auto sized = [](size_t size) -> Make {
        return [size](const cardsim::Bytes& pso) {
            cardsim::Bytes answer(size, 0x3C);
            answer.insert(answer.end(), {0x90, 0x00});
            return cardsim::Fault::AnswerWith(pso, answer);
        };
    };
    const auto changed = [](cardsim::Fault::DataChange change) -> Make {
        return [change](const cardsim::Bytes& pso) { return cardsim::Fault::ChangedAnswer(change, 1, pso); };
    };
    const std::pair<const char*, Make> answers[] = {
        {"41 bytes", sized(41)},
        {"255 bytes", sized(255)},
        {"257 bytes", sized(257)},
        {"65520 bytes", sized(65520)},
        {"the card's signature cut short", changed(cardsim::Fault::DataChange::CutShort)},
        {"the card's signature lengthened", changed(cardsim::Fault::DataChange::Lengthened)},
    };
    // DEF50-NOHALF: a key without a public half, whose answer only its length checks.
    const SigningKey keys[] = {
        {"DEF50", 0, &kComputeSignature}, {"DEF44", 1, &kDecipher}, {"DEF50-NOHALF", 0, &kComputeSignature}};
    for (const SigningKey& key : keys) {
        const CK_SESSION_HANDLE session = LoadAndLogIn(key.personalisation);
        const auto handles = PrivateKeys();
        for (const auto& [what, make] : answers) {
            // A buffer of the modulus length, and one that would hold any answer.
            for (const CK_ULONG room : {CK_ULONG(256), CK_ULONG(65536)}) {
                SCOPED_TRACE(Name(key) + ", " + what + ", buffer " + std::to_string(room));
                ASSERT_EQ(SignInit(session, handles[key.key]), CKR_OK);
                Commands();
                cardsim::InjectFault(kReader, make(*key.pso));
                std::vector<uint8_t> buffer;
                CK_ULONG length = 0;
                EXPECT_EQ(SignInto(session, room, buffer, length), CKR_DEVICE_ERROR);
                EXPECT_TRUE(Untouched(buffer));
                EXPECT_EQ(Count(Commands(), *key.pso), 1u);
                EXPECT_EQ(SignInto(session, room, buffer, length), CKR_OPERATION_NOT_INITIALIZED);
                EXPECT_FALSE(TransactionOpen());
                cardsim::ClearFaults();
            }
        }
        TearDown();
    }
}

// A signature of the right length that does not verify under the key's
// public half (its certificate) is refused with a level-1 log line; the next
// signature of the same key passes.
TEST_F(SignatureAnswerTest, SignatureThatDoesNotVerifyIsADeviceError)
{
    const SigningKey keys[] = {{"DEF50", 0, &kComputeSignature},
                               {"DEF50-3K", 0, &kComputeSignature},
                               {"DEF44", 0, &kComputeSignature},
                               {"DEF44", 1, &kDecipher},
                               {"DEF43B", 1, &kDecipher},
                               {"SIGG50", 0, &kComputeSignature}};
    for (const SigningKey& key : keys) {
        SCOPED_TRACE(Name(key));
        ErrorLog log;
        const CK_SESSION_HANDLE session = LoadAndLogIn(key.personalisation);
        const CK_OBJECT_HANDLE handle = PrivateKeys()[key.key];
        const CK_ULONG modulusLength = std::string(key.personalisation) == "DEF50-3K" ? 384 : 256;
        ASSERT_EQ(SignInit(session, handle), CKR_OK);
        cardsim::InjectFault(kReader, cardsim::Fault::ChangedAnswer(cardsim::Fault::DataChange::BitsFlipped, 1,
                                                                    *key.pso));
        std::vector<uint8_t> buffer;
        CK_ULONG length = 0;
        EXPECT_EQ(SignInto(session, 512, buffer, length), CKR_DEVICE_ERROR);
        EXPECT_TRUE(Untouched(buffer));
        EXPECT_NE(log.Text().find("Card signature does not verify with the key's public key"), std::string::npos);

        ASSERT_EQ(SignInit(session, handle), CKR_OK);
        ASSERT_EQ(SignInto(session, 512, buffer, length), CKR_OK);
        EXPECT_EQ(length, modulusLength);
        buffer.resize(length);
        EXPECT_TRUE(Verifies(uint8_t(key.key + 1), DigestInfo(), buffer));
        TearDown();
    }
}

// A key whose certificate and public key the card does not carry under its
// iD has nothing to be checked against: only the length is.
TEST_F(SignatureAnswerTest, WithoutPublicHalfOnlyTheLengthIsChecked)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50-NOHALF");
    const CK_OBJECT_HANDLE key = PrivateKeys()[0];
    std::vector<uint8_t> buffer;
    CK_ULONG length = 0;
    ASSERT_EQ(SignInit(session, key), CKR_OK);
    cardsim::InjectFault(kReader, cardsim::Fault::ChangedAnswer(cardsim::Fault::DataChange::CutShort, 1,
                                                                kComputeSignature));
    EXPECT_EQ(SignInto(session, 512, buffer, length), CKR_DEVICE_ERROR);
    ASSERT_EQ(SignInit(session, key), CKR_OK);
    cardsim::InjectFault(kReader, cardsim::Fault::ChangedAnswer(cardsim::Fault::DataChange::BitsFlipped, 1,
                                                                kComputeSignature));
    EXPECT_EQ(SignInto(session, 512, buffer, length), CKR_OK);
    EXPECT_EQ(length, 256u);
}

CK_ULONG UlongAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
{
    CK_ULONG value = 0;
    CK_ATTRIBUTE attribute = {type, &value, sizeof value};
    EXPECT_EQ(C_GetAttributeValue(session, object, &attribute, 1), CKR_OK);
    return value;
}

std::vector<CK_OBJECT_HANDLE> Objects(CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls)
{
    CK_ATTRIBUTE match = {CKA_CLASS, &cls, sizeof cls};
    std::vector<CK_OBJECT_HANDLE> found(16);
    CK_ULONG count = 0;
    EXPECT_EQ(C_FindObjectsInit(session, &match, 1), CKR_OK);
    EXPECT_EQ(C_FindObjects(session, found.data(), found.size(), &count), CKR_OK);
    EXPECT_EQ(C_FindObjectsFinal(session), CKR_OK);
    found.resize(count);
    return found;
}

using KeySizeTest = SignatureAnswerTest;

// Key directories that state 1024 bits for 2048-bit keys: the size, the
// length query and the block a CardOS 4 key deciphers all follow the modulus.
TEST_F(KeySizeTest, ModulusBitsAndSignatureLengthComeFromTheModulus)
{
    for (const char* personalisation : {"DEF50-DIRBITS1024", "DEF44-DIRBITS1024"}) {
        SCOPED_TRACE(personalisation);
        const CK_SESSION_HANDLE session = LoadAndLogIn(personalisation);
        for (const CK_OBJECT_CLASS cls : {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY})
            for (const CK_OBJECT_HANDLE object : Objects(session, cls))
                EXPECT_EQ(UlongAttribute(session, object, CKA_MODULUS_BITS), 2048u) << cls;
        const auto keys = PrivateKeys();
        for (size_t i = 0; i < keys.size(); ++i) {
            ASSERT_EQ(SignInit(session, keys[i]), CKR_OK);
            std::vector<uint8_t> data = DigestInfo(), buffer;
            CK_ULONG length = 0;
            ASSERT_EQ(C_Sign(session, data.data(), data.size(), nullptr, &length), CKR_OK);
            EXPECT_EQ(length, 256u);
            ASSERT_EQ(SignInto(session, 256, buffer, length), CKR_OK);
            EXPECT_TRUE(Verifies(uint8_t(i + 1), data, buffer));
        }
        TearDown();
    }
}

// Without a public half the directory's size stands; one of 0 bits or past
// 16 bits is refused by C_SignInit before any command of the signature.
TEST_F(KeySizeTest, SizeOfNoBitsOrPastSixteenBitsIsRefusedBeforeTheCard)
{
    for (const auto& [personalisation, bits] :
         {std::pair{"DEF50-NOHALF-BITS0", CK_ULONG(0)}, std::pair{"DEF50-NOHALF-BITS70000", CK_ULONG(70000)}}) {
        SCOPED_TRACE(personalisation);
        const CK_SESSION_HANDLE session = LoadAndLogIn(personalisation);
        int deciphering = 0;
        for (const CK_OBJECT_HANDLE key : PrivateKeys()) {
            EXPECT_EQ(UlongAttribute(session, key, CKA_MODULUS_BITS), bits);
            Commands();
            EXPECT_EQ(SignInit(session, key), CKR_KEY_SIZE_RANGE);
            // Nothing but the selection of the application, made before the key is looked at.
            for (const std::string& command : Commands()) EXPECT_EQ(command.rfind("00 A4 04", 0), 0u) << command;
            EXPECT_FALSE(TransactionOpen());
            // A deciphering key of that size is refused the same way.
            CK_MECHANISM pkcs = {CKM_RSA_PKCS, nullptr, 0};
            const CK_RV decrypt = C_DecryptInit(session, &pkcs, key);
            EXPECT_TRUE(decrypt == CKR_KEY_SIZE_RANGE || decrypt == CKR_KEY_FUNCTION_NOT_PERMITTED) << decrypt;
            deciphering += decrypt == CKR_KEY_SIZE_RANGE ? 1 : 0;
            EXPECT_FALSE(TransactionOpen());
        }
        EXPECT_GT(deciphering, 0) << "no deciphering key on the card";
        TearDown();
    }
}

}  // namespace
}  // namespace signtest
