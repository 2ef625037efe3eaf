// Chip authentication: MSE data, shared-secret padding, key derivation and
// the exchange with the card.

#include "card/ChipAuthentication.h"

#include <cstring>
#include <exception>
#include <stdexcept>

#include <botan/ecdh.h>

#include "EcdhAgreement.h"
#include "LogTrace.h"
#include "MessageDigest.h"
#include "card/ApduTransport.h"
#include "card/CardCommands.h"

namespace Brelt::MW::Card {

using Brelt::MW::Base::HexBinary;

namespace {

constexpr size_t kSessionKeyLength = 16;

// A tag and its DER definite length, then the value.
void AppendTlv(std::vector<uint8_t>& out, uint8_t tag, const uint8_t* value, size_t length)
{
    out.push_back(tag);
    if (length >= 0x100) {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(length >> 8));
    } else if (length >= 0x80) {
        out.push_back(0x81);
    }
    out.push_back(static_cast<uint8_t>(length));
    out.insert(out.end(), value, value + length);
}

size_t FieldSize(const std::string& domainName)
{
    if (domainName == "1.3.36.3.3.2.8.1.1.3") return 24;   // brainpoolP192r1
    if (domainName == "1.3.36.3.3.2.8.1.1.5") return 28;   // brainpoolP224r1
    if (domainName == "1.3.36.3.3.2.8.1.1.7") return 32;   // brainpoolP256r1
    if (domainName == "1.3.36.3.3.2.8.1.1.13") return 64;  // brainpoolP512r1
    return 0;
}

std::unique_ptr<HexBinary> DeriveKey(const HexBinary& kSeed, uint8_t counter)
{
    HexBinary input(kSeed);
    const uint8_t suffix[4] = {0x00, 0x00, 0x00, counter};
    const HexBinary counterBytes(suffix, sizeof suffix, true);
    input.Append(&counterBytes);
    const Brelt::Crypto::MessageDigest sha1;
    const auto digest = sha1.Digest(&input);
    return std::make_unique<HexBinary>(digest->data, static_cast<int32_t>(kSessionKeyLength), true);
}

}  // namespace

std::unique_ptr<HexBinary> BuildMseSetAtData(const HexBinary* publicKey, int32_t keyId)
{
    if (keyId > 0xFF) throw std::runtime_error("Max value of KeyID is 0xff");
    if (publicKey == nullptr || publicKey->length <= 0 || publicKey->data == nullptr || keyId < 0) return nullptr;
    std::vector<uint8_t> data;
    const uint8_t id = static_cast<uint8_t>(keyId);
    AppendTlv(data, 0x84, &id, 1);
    AppendTlv(data, 0x91, publicKey->data, static_cast<size_t>(publicKey->length));
    return std::make_unique<HexBinary>(data.data(), static_cast<int32_t>(data.size()), true);
}

std::unique_ptr<HexBinary> ZeroPadding(const HexBinary* secret, const std::string& domainName)
{
    if (secret == nullptr) return nullptr;
    const size_t fieldSize = FieldSize(domainName);
    const size_t length = static_cast<size_t>(secret->length);
    if (fieldSize == 0 || length >= fieldSize) return std::make_unique<HexBinary>(*secret);
    std::vector<uint8_t> padded(fieldSize - length, 0x00);
    if (length > 0) padded.insert(padded.end(), secret->data, secret->data + length);
    return std::make_unique<HexBinary>(padded.data(), static_cast<int32_t>(padded.size()), true);
}

std::unique_ptr<Brelt::Crypto::SessionKeyPair> DeriveKeyFromKSeed(const HexBinary* kSeed)
{
    const int32_t length = kSeed != nullptr ? kSeed->length : 0;
    if (length != 24 && length != 28 && length != 32 && length != 64) {
        LogMessage(LOG_LEVEL_ERROR, true, "DeriveKeyFromKSeed", __LINE__, true,
                   "CAProtocol->DeriveKeyFromKSeed(): Wrong KSeed length");
        return nullptr;
    }
    const auto kEnc = DeriveKey(*kSeed, 1);
    const auto kMac = DeriveKey(*kSeed, 2);
    return std::make_unique<Brelt::Crypto::SessionKeyPair>(kEnc.get(), kMac.get());
}

CK_RV ChipAuthentication(CK_ULONG* lastStatus, const Slot* slot, const Brelt::Crypto::EcDomain& domain,
                         const Brelt::Crypto::EcPrivateKeyHolder& ephemeral,
                         const Brelt::Crypto::EcPublicKeyHolder& cardKey, std::unique_ptr<SecureMessaging>* out)
{
    static constexpr const char* kName = "ChipAuthentication";
    FunctionTrace trace(kName);
    auto fail = [&trace](CK_RV rv) {
        LOG_FAILED(kName, rv);
        return trace.Result(rv);
    };
    if (slot == nullptr || out == nullptr || !ephemeral || !cardKey) return fail(CKR_ARGUMENTS_BAD);

    std::unique_ptr<HexBinary> mseData;
    try {
        const auto point = Brelt::Crypto::GetEcPublicPoint(ephemeral);
        mseData = BuildMseSetAtData(point.get(), kChipAuthenticationKeyId);
    } catch (...) {
        mseData.reset();
    }
    if (!mseData) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Cannot create public key template data");
        return fail(CKR_FUNCTION_FAILED);
    }

    CK_RV rv = SelectMF(slot);
    if (rv != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Select MF failed, SendApdu() = %s", CkrToString(rv));
        return fail(rv);
    }

    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0x22, 0x41, 0xA6, kNoLe, kSwSuccess);
    rv = SetApduData(&command, static_cast<uint16_t>(mseData->length), mseData->data, 1);
    if (rv == CKR_OK) rv = SendApdu(slot, &command, &response, lastStatus, 0, 0);
    if (rv != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true,
                   "MSE command with ephemeral terminal public key failed , SendApdu() = %s", CkrToString(rv));
        return fail(rv);
    }

    std::unique_ptr<HexBinary> padded;
    try {
        const Brelt::Crypto::EcdhAgreement agreement(ephemeral, cardKey, "Raw");
        const auto secret = agreement.Derive(0);
        padded = ZeroPadding(secret.get(), domain.GetName());
    } catch (const std::exception& e) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Key agreement failed: %s", e.what());
        return fail(CKR_FUNCTION_FAILED);
    } catch (...) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Key agreement failed");
        return fail(CKR_FUNCTION_FAILED);
    }
    if (!padded) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "ZeroPadding return null");
        return fail(CKR_FUNCTION_FAILED);
    }
    const auto keys = DeriveKeyFromKSeed(padded.get());
    if (!keys) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "DeriveKeyFromKSeed return null");
        return fail(CKR_FUNCTION_FAILED);
    }
    auto context = std::make_unique<SecureMessaging>();
    rv = context->SetSessionKey(keys.get(), 1);
    if (rv != CKR_OK) return fail(rv);
    *out = std::move(context);
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Card
