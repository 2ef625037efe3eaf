// Application-container mutual authentication and session-key derivation.

#include "card/AppContainerChannel.h"

#include <botan/auto_rng.h>
#include <botan/mem_ops.h>

#include <cstring>
#include <exception>
#include <vector>

#include "Eme.h"
#include "HostCryptoResult.h"
#include "HostMac.h"
#include "LogCipher.h"
#include "LogTrace.h"
#include "MessageDigest.h"
#include "card/ApduTransport.h"
#include "card/CardCommands.h"

namespace Brelt::MW::Card {

using Brelt::MW::Base::HexBinary;
using Bytes = std::vector<uint8_t>;

namespace {

// The container key, OAEP-encoded (SHA-256, 1024-bit block, empty label).
constexpr char kWrappedAppContainerKey[] =
    "5A5E7317E685D41D62C2624A9D2E39AAB793F1BBB3DF0BF70F9339141FF43A9C"
    "485D05B48CAAFEBBD561EA5606B8110DDF2C3AE34C0E20128A83184584E2FE80"
    "146559F2237A70262DA6BC5C2D6E1DF8DF0B58A2F84B476D18C711C367075FCA"
    "EC784623AA4EF859DCADC7C0AA2D05A44EF33F0CDC75ABFCE373E211CD39659E";

const uint8_t kAppContainerAid[] = {0xF0, 'A', 'P', 'P', 'C', 'O', 'N', 'T', 'A', 'I', 'N', 'E', 'R', '0', '1'};

constexpr size_t kMacLength = 8;

// Wipes its bytes when it goes.
struct SecretBytes {
    Bytes bytes;
    explicit SecretBytes(size_t size = 0) : bytes(size) {}
    ~SecretBytes() { Botan::secure_scrub_memory(bytes.data(), bytes.size()); }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
};

bool Mac(const uint8_t* key, int32_t keyLength, const Bytes& data, Bytes& mac)
{
    return Brelt::Crypto::ComputeRetailMacPadded(key, static_cast<uint32_t>(keyLength), data.data(),
                                                 static_cast<uint32_t>(data.size()), mac, nullptr) ==
               Brelt::Crypto::CRYPTO_OK &&
           mac.size() == kMacLength;
}

void LogError(const char* function, int line, const char* text)
{
    LogMessage(LOG_LEVEL_ERROR, true, function, line, true, "%s", text);
}

// The messages of one exchange variant.
struct Messages {
    const char* function;
    const char* select;
    const char* challenge;
    const char* challengeMac;
    const char* authenticate;
    const char* hostMac;
    const char* verify;
};

constexpr Messages kSessionKeyMessages{
    "MutualAuthenticateSessionKey",
    "MutualAuthenticateSessionKey(): Select app container APDU failed!",
    "MutualAuthenticateSessionKey(): GetChallenge APDU failed!",
    "MutualAuthenticateSessionKey(): Challenge MAC Calculation failed!",
    "MutualAuthenticateSessionKey(): Send Mutual Authenticate APDU failed!",
    "MutualAuthenticateSessionKey(): System Challenge MAC Calculation failed!",
    "MutualAuthenticateSessionKey(): System Challenge MAC Verification failed!",
};

constexpr Messages kMutualMessages{
    "MutualAuthenticate",
    "MutualAuthenticate(): Select app container APDU failed!",
    "MutualAuthenticate(): GetChallenge APDU failed!",
    "MutualAuthenticate(): Challenge MAC Calculation failed!",
    "MutualAuthenticate(): Send Mutual Authenticate APDU failed!",
    "MutualAuthenticate(): System Challenge MAC Calculation failed!",
    "MutualAuthenticate(): System Challenge MAC Verification failed!",
};

CK_RV SelectContainer(CK_ULONG* lastStatus, const Slot* slot)
{
    return SelectFile(lastStatus, slot, kAppContainerAid, sizeof kAppContainerAid, kSelectByAid);
}

// GET CHALLENGE of n bytes; an answer shorter than asked for cannot be used.
CK_RV GetCardChallenge(CK_ULONG* lastStatus, const Slot* slot, uint16_t n, SecretBytes& challenge)
{
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0x84, 0x00, 0x00, n, kSwSuccess);
    CK_RV rv = SendApdu(slot, &command, &response, lastStatus, 1, 0);
    if (rv != CKR_OK) return rv;
    if (response.length < n || !response.data) return CKR_FUNCTION_FAILED;
    challenge.bytes.assign(response.data.get(), response.data.get() + n);
    return CKR_OK;
}

// GET CHALLENGE, MUTUAL AUTHENTICATE and the check of the card's answer;
// `withSessionKey` adds the session-key template and hands back both
// challenges for the key derivation.
CK_RV RunMutualAuthentication(const Messages& m, CK_ULONG* lastStatus, const Slot* slot, uint8_t keyReference,
                              const uint8_t* key, int32_t keyLength, uint16_t n, const uint8_t* sessionKeyReference,
                              SecretBytes& cardChallenge, SecretBytes& hostChallenge)
{
    CK_RV rv = SelectContainer(lastStatus, slot);
    if (rv != CKR_OK) {
        LogError(m.function, __LINE__, m.select);
        return rv;
    }
    rv = GetCardChallenge(lastStatus, slot, n, cardChallenge);
    if (rv != CKR_OK) {
        LogError(m.function, __LINE__, m.challenge);
        return rv;
    }
    SecretBytes m1;
    if (!Mac(key, keyLength, cardChallenge.bytes, m1.bytes)) {
        LogError(m.function, __LINE__, m.challengeMac);
        return CKR_FUNCTION_FAILED;
    }
    // The host challenge comes from a cryptographic generator: a
    // time-seeded one repeats within a second and is guessable.
    hostChallenge.bytes.resize(n);
    try {
        Botan::AutoSeeded_RNG rng;
        rng.randomize(hostChallenge.bytes.data(), n);
    } catch (...) {
        return CKR_FUNCTION_FAILED;
    }

    SecretBytes field;
    Bytes& f = field.bytes;
    f.push_back(0x7C);
    f.push_back(static_cast<uint8_t>(n + 12));
    f.push_back(0x82);
    f.push_back(kMacLength);
    f.insert(f.end(), m1.bytes.begin(), m1.bytes.end());
    f.push_back(0x81);
    f.push_back(static_cast<uint8_t>(n));
    f.insert(f.end(), hostChallenge.bytes.begin(), hostChallenge.bytes.end());
    f.insert(f.end(), {0xA4, 0x06, 0x83, 0x01, keyReference, 0x95, 0x01, 0x40});
    if (sessionKeyReference != nullptr) f.insert(f.end(), {0xB4, 0x06, 0x84, 0x01, *sessionKeyReference, 0x95, 0x01, 0x30});

    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0x82, 0x00, keyReference, kNoLe, kSwSuccess);
    rv = SetApduData(&command, static_cast<uint16_t>(f.size()), f.data(), 1);
    if (rv == CKR_OK) rv = SendApdu(slot, &command, &response, lastStatus, 1, 0);
    if (rv != CKR_OK) {
        LogError(m.function, __LINE__, m.authenticate);
        return rv;
    }
    SecretBytes m2;
    if (!Mac(key, keyLength, hostChallenge.bytes, m2.bytes)) {
        LogError(m.function, __LINE__, m.hostMac);
        return CKR_FUNCTION_FAILED;
    }
    // The card's MAC object: its length byte at offset 3, its value after it.
    const bool verified = response.length >= 4 + kMacLength && response.data && response.data[3] == kMacLength &&
                          Botan::constant_time_compare(response.data.get() + 4, m2.bytes.data(), kMacLength);
    if (!verified) {
        LogError(m.function, __LINE__, m.verify);
        return CKR_FUNCTION_FAILED;
    }
    return CKR_OK;
}

bool ValidArguments(const Slot* slot, const uint8_t* key, int32_t keyLength, uint16_t n)
{
    // The challenge lengths must fit the one-byte lengths of the templates.
    return slot != nullptr && key != nullptr && keyLength > 0 && n > 0 && n <= 0x70;
}

}  // namespace

std::unique_ptr<HexBinary> UnwrapAppContainerKey()
{
    try {
        const HexBinary wrapped{std::string(kWrappedAppContainerKey)};
        const Brelt::Crypto::OAEP decoder("SHA-256", 1024, "");
        return decoder.Decode(&wrapped);
    } catch (...) {
        return nullptr;
    }
}

CK_RV DeriveSessionKey(const uint8_t* hostChallenge, const uint8_t* cardChallenge, uint16_t n,
                       std::unique_ptr<uint8_t[]>* key, uint16_t* keyLength)
{
    static constexpr const char* kName = "DeriveSessionKey";
    FunctionTrace trace(kName);
    if (hostChallenge == nullptr || cardChallenge == nullptr || key == nullptr || keyLength == nullptr || n == 0) {
        LOG_FAILED(kName, CKR_ARGUMENTS_BAD);
        return trace.Result(CKR_ARGUMENTS_BAD);
    }
    try {
        HexBinary joined(cardChallenge, n, true);
        const HexBinary host(hostChallenge, n, true);
        joined.Append(&host);
        const Brelt::Crypto::MessageDigest sha1;
        const auto digest = sha1.Digest(&joined);
        const HexBinary first15(digest->data, 15, true);
        const auto cipher = Brelt::Crypto::MakeLogTripleDes();
        if (!cipher) {
            LOG_FAILED(kName, CKR_FUNCTION_FAILED);
            return trace.Result(CKR_FUNCTION_FAILED);
        }
        const auto cryptogram = cipher->Encrypt(&first15);
        if (!cryptogram || cryptogram->length != kAppContainerSessionKeyLength) {
            LOG_FAILED(kName, CKR_FUNCTION_FAILED);
            return trace.Result(CKR_FUNCTION_FAILED);
        }
        *key = std::make_unique<uint8_t[]>(kAppContainerSessionKeyLength);
        std::memcpy(key->get(), cryptogram->data, kAppContainerSessionKeyLength);
        *keyLength = kAppContainerSessionKeyLength;
    } catch (...) {
        LOG_FAILED(kName, CKR_FUNCTION_FAILED);
        return trace.Result(CKR_FUNCTION_FAILED);
    }
    return trace.Result(CKR_OK);
}

CK_RV MutualAuthenticateSessionKey(CK_ULONG* lastStatus, const Slot* slot, uint8_t keyReference, const uint8_t* key,
                                   int32_t keyLength, uint16_t challengeLength, uint8_t sessionKeyReference,
                                   std::unique_ptr<SecureMessaging>* out)
{
    static constexpr const char* kName = "MutualAuthenticateSessionKey";
    FunctionTrace trace(kName);
    if (out == nullptr || !ValidArguments(slot, key, keyLength, challengeLength)) {
        LOG_FAILED(kName, CKR_FUNCTION_FAILED);
        return trace.Result(CKR_FUNCTION_FAILED);
    }
    SecretBytes cardChallenge;
    SecretBytes hostChallenge;
    CK_RV rv = RunMutualAuthentication(kSessionKeyMessages, lastStatus, slot, keyReference, key, keyLength,
                                       challengeLength, &sessionKeyReference, cardChallenge, hostChallenge);
    std::unique_ptr<uint8_t[]> sessionKey;
    uint16_t sessionKeyLength = 0;
    if (rv == CKR_OK)
        rv = DeriveSessionKey(hostChallenge.bytes.data(), cardChallenge.bytes.data(), challengeLength, &sessionKey,
                              &sessionKeyLength);
    if (rv == CKR_OK) {
        auto context = std::make_unique<SecureMessaging>();
        rv = context->SetSessionKey(std::move(sessionKey), sessionKeyLength);
        if (rv == CKR_OK) *out = std::move(context);
    }
    if (rv != CKR_OK) LOG_FAILED(kName, rv);
    return trace.Result(rv);
}

std::unique_ptr<SecureMessaging> CitizenAuthenticate(CK_ULONG* lastStatus, const Slot* slot, uint8_t keyReference,
                                                     const uint8_t* key, int32_t keyLength,
                                                     uint8_t sessionKeyReference)
{
    TraceEntering("CitizenAuthenticate");
    std::unique_ptr<SecureMessaging> context;
    const CK_RV rv = MutualAuthenticateSessionKey(lastStatus, slot, keyReference, key, keyLength,
                                                  kAppContainerChallengeLength, sessionKeyReference, &context);
    if (rv != CKR_OK) context.reset();
    if (IsLogLevelEnabled(LOG_LEVEL_TRACE))
        LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s, result = [%08Xh]", "CitizenAuthenticate",
                   static_cast<unsigned>(reinterpret_cast<uintptr_t>(context.get())));
    return context;
}

CK_RV MutualAuthenticate(CK_ULONG* lastStatus, const Slot* slot, uint8_t keyReference, const uint8_t* key,
                         int32_t keyLength, uint16_t challengeLength)
{
    static constexpr const char* kName = "MutualAuthenticate";
    FunctionTrace trace(kName);
    if (!ValidArguments(slot, key, keyLength, challengeLength)) {
        LOG_FAILED(kName, CKR_FUNCTION_FAILED);
        return trace.Result(CKR_FUNCTION_FAILED);
    }
    SecretBytes cardChallenge;
    SecretBytes hostChallenge;
    const CK_RV rv = RunMutualAuthentication(kMutualMessages, lastStatus, slot, keyReference, key, keyLength,
                                             challengeLength, nullptr, cardChallenge, hostChallenge);
    if (rv != CKR_OK) LOG_FAILED(kName, rv);
    return trace.Result(rv);
}

CK_RV ExternalAuthenticate(CK_ULONG* lastStatus, const Slot* slot, uint8_t keyReference, const uint8_t* key,
                           int32_t keyLength, uint16_t challengeLength)
{
    static constexpr const char* kName = "ExternalAuthenticate";
    FunctionTrace trace(kName);
    if (!ValidArguments(slot, key, keyLength, challengeLength)) {
        LOG_FAILED(kName, CKR_FUNCTION_FAILED);
        return trace.Result(CKR_FUNCTION_FAILED);
    }
    CK_RV rv = SelectContainer(lastStatus, slot);
    if (rv != CKR_OK) {
        LOG_FAILED(kName, rv);
        return trace.Result(rv);
    }
    SecretBytes cardChallenge;
    rv = GetCardChallenge(lastStatus, slot, challengeLength, cardChallenge);
    if (rv != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Get Challenge, SendApdu() = %s", CkrToString(rv));
        return trace.Result(rv);
    }
    SecretBytes mac;
    if (!Mac(key, keyLength, cardChallenge.bytes, mac.bytes)) {
        LOG_FAILED(kName, CKR_FUNCTION_FAILED);
        return trace.Result(CKR_FUNCTION_FAILED);
    }
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0x82, 0x00, keyReference, kNoLe, kSwSuccess);
    rv = SetApduData(&command, kMacLength, mac.bytes.data(), 1);
    if (rv == CKR_OK) rv = SendApdu(slot, &command, &response, lastStatus, 1, 0);
    if (rv != CKR_OK) LOG_FAILED(kName, rv);
    return trace.Result(rv);
}

}  // namespace Brelt::MW::Card
