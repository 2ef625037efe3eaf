#include "Commands.h"
#include "EidFiles.h"
#include "KeyStore.h"
#include "Tlv.h"

#include <botan/pubkey.h>
#include <botan/system_rng.h>

namespace cardsim::detail {

namespace {

constexpr uint8_t kDigitalSignatureTemplate = 0xB6;
constexpr uint8_t kConfidentialityTemplate = 0xB8;
constexpr uint8_t kAuthenticationTemplate = 0xA4;
constexpr uint8_t kKeyAgreementTemplate = 0xA6;
constexpr uint8_t kAlgorithmPkcs1Padded = 0x10;  // DST: card adds PKCS#1 v1.5 type 1
constexpr uint8_t kAlgorithmDecipherPkcs1 = 0x02;
constexpr uint8_t kAlgorithmDecipherRaw = 0x08;   // host removes the padding (OAEP)

size_t KeyBytes(const Botan::RSA_PrivateKey& key)
{
    return (key.get_n().bits() + 7) / 8;
}

// A key is unusable once its key-container EF was deactivated.
RsaKeyObject* UsableKey(File& df, uint8_t reference)
{
    RsaKeyObject* key = df.FindKey(reference);
    if (key == nullptr)
        return nullptr;
    if (key->containerFid) {
        const File* container = df.Child(*key->containerFid);
        if (container == nullptr || container->deactivated)
            return nullptr;
    }
    return key;
}

// With no key named by the environment, the key whose container EF is the
// current file (selected as the key's file).
std::optional<uint8_t> KeyOfCurrentFile(const CardState& state)
{
    const File* ef = state.currentEf;
    if (ef == nullptr || ef->parent != state.currentDf)
        return std::nullopt;
    for (const RsaKeyObject& key : state.currentDf->keys)
        if (key.containerFid == ef->fid)
            return key.reference;
    return std::nullopt;
}

std::optional<Response> CheckKeyAccess(const CardState& state, const RsaKeyObject& key)
{
    if (!state.PinVerified(key.pinReference))
        return Error(sw::kSecurityNotSatisfied);
    if (key.userConsent > 0 && key.operationsSinceVerify >= key.userConsent)
        return Error(sw::kSecurityNotSatisfied);
    return std::nullopt;
}

// MSE SET AT with the terminal's ephemeral public key (tag 91): key
// agreement with the card's static key opens secure messaging.
Response ChipAuthentication(CardState& state, const std::vector<TlvElement>& elements)
{
    if (elements.empty())
        return {};
    const TlvElement* keyRef = FindTlv(elements, 0x84);
    const TlvElement* ephemeral = FindTlv(elements, 0x91);
    if (ephemeral == nullptr || !state.chipAuthenticationKey || keyRef == nullptr ||
        keyRef->value != Bytes{kChipAuthenticationKeyId})
        return Error(sw::kReferenceNotFound);
    try {
        Botan::PK_Key_Agreement agreement(*state.chipAuthenticationKey, Botan::system_rng(), "Raw");
        const auto secret = agreement.derive_key(0, ephemeral->value).bits_of();
        state.secureMessaging = DeriveSession(Bytes(secret.begin(), secret.end()));
    } catch (const std::exception&) {
        return Error(sw::kWrongData);  // not a point of the card's curve
    }
    return {};
}

Response SetTemplate(CardState& state, const Command& cmd)
{
    const auto elements = ParseTlvs(cmd.data);
    if (!elements)
        return Error(sw::kWrongData);
    const TlvElement* keyRef = FindTlv(*elements, 0x84);
    const TlvElement* algorithm = FindTlv(*elements, 0x80);
    if ((keyRef && keyRef->value.size() != 1) || (algorithm && algorithm->value.size() != 1))
        return Error(sw::kWrongData);
    std::optional<uint8_t> algorithmValue;
    if (algorithm)
        algorithmValue = algorithm->value[0];

    switch (cmd.p2) {
    case kDigitalSignatureTemplate:
        if (algorithmValue && *algorithmValue != kAlgorithmPkcs1Padded)
            return Error(sw::kWrongData);
        state.se.signatureKey.reset();
        state.se.signatureAlgorithm = algorithmValue;
        if (keyRef) {
            if (UsableKey(*state.currentDf, keyRef->value[0]) == nullptr)
                return Error(sw::kReferenceNotFound);
            state.se.signatureKey = keyRef->value[0];
        }
        return {};
    case kConfidentialityTemplate:
        if (algorithmValue && *algorithmValue != kAlgorithmDecipherPkcs1 &&
            *algorithmValue != kAlgorithmDecipherRaw)
            return Error(sw::kWrongData);
        state.se.decipherKey.reset();
        state.se.decipherAlgorithm = algorithmValue;
        if (keyRef) {
            if (UsableKey(*state.currentDf, keyRef->value[0]) == nullptr)
                return Error(sw::kReferenceNotFound);
            state.se.decipherKey = keyRef->value[0];
        }
        return {};
    case kAuthenticationTemplate:
        // No keys for internal or external authentication on these cards.
        return elements->empty() ? Response{} : Error(sw::kReferenceNotFound);
    case kKeyAgreementTemplate:
        return ChipAuthentication(state, *elements);
    default:
        return Error(sw::kWrongP1P2);
    }
}

Response ComputeSignature(CardState& state, const Command& cmd)
{
    std::optional<uint8_t> reference = state.se.signatureKey;
    if (!reference)
        reference = KeyOfCurrentFile(state);
    if (!reference)
        reference = state.currentDf->defaultSignatureKey;
    if (!reference)
        return Error(sw::kConditionsNotSatisfied);
    RsaKeyObject* key = UsableKey(*state.currentDf, *reference);
    if (key == nullptr)
        return Error(sw::kReferenceNotFound);
    if (!key->canSign)
        return Error(sw::kConditionsNotSatisfied);
    if (auto refusal = CheckKeyAccess(state, *key))
        return *refusal;
    if (cmd.data.empty() || cmd.data.size() + 11 > KeyBytes(*key->key))
        return Error(sw::kWrongLength);
    const Bytes signature = RsaSign(*key->key, "EMSA3(Raw)", cmd.data);
    ++key->operationsSinceVerify;
    return {signature, sw::kOk};
}

// Removes PKCS#1 v1.5 type 2 padding; nullopt when the block is not one.
std::optional<Bytes> RemoveEncryptionPadding(const Bytes& block)
{
    if (block.size() < 11 || block[0] != 0x00 || block[1] != 0x02)
        return std::nullopt;
    size_t pos = 2;
    while (pos < block.size() && block[pos] != 0x00)
        ++pos;
    if (pos == block.size() || pos < 10)
        return std::nullopt;
    return Bytes(block.begin() + pos + 1, block.end());
}

Response Decipher(CardState& state, const Command& cmd)
{
    std::optional<uint8_t> reference = state.se.decipherKey;
    if (!reference)
        reference = KeyOfCurrentFile(state);
    if (!reference)
        return Error(sw::kConditionsNotSatisfied);
    RsaKeyObject* key = UsableKey(*state.currentDf, *reference);
    if (key == nullptr)
        return Error(sw::kReferenceNotFound);
    if (!key->canDecipher)
        return Error(sw::kConditionsNotSatisfied);
    if (auto refusal = CheckKeyAccess(state, *key))
        return *refusal;
    // First byte: padding indicator, 00 for RSA.
    const size_t k = KeyBytes(*key->key);
    if (cmd.data.size() != k + 1)
        return Error(sw::kWrongLength);
    if (cmd.data[0] != 0x00)
        return Error(sw::kWrongData);

    Bytes block;
    try {
        block = RsaPrivateOperation(*key->key, cmd.data.data() + 1, k);
    } catch (const std::exception&) {
        return Error(sw::kWrongData);  // cryptogram not below the modulus
    }
    ++key->operationsSinceVerify;

    bool raw = key->decipherMode == DecipherMode::Raw;
    if (state.se.decipherAlgorithm)
        raw = *state.se.decipherAlgorithm == kAlgorithmDecipherRaw;
    if (raw)
        return {block, sw::kOk};
    auto message = RemoveEncryptionPadding(block);
    if (!message)
        return Error(sw::kWrongData);
    return {*message, sw::kOk};
}

}  // namespace

Response ManageSecurityEnvironment(CardState& state, const Command& cmd)
{
    if (cmd.p1 == 0xF3) {  // RESTORE: a stored environment of the DF, else the empty one
        if (!cmd.data.empty())
            return Error(sw::kWrongLength);
        const auto& stored = state.currentDf->storedEnvironments;
        if (const auto found = stored.find(cmd.p2); found != stored.end()) {
            state.se = found->second;
            return {};
        }
        if (cmd.p2 > 0x03)
            return Error(sw::kReferenceNotFound);
        state.se = {};
        return {};
    }
    if ((cmd.p1 & 0x0F) != 0x01)
        return Error(sw::kWrongP1P2);
    return SetTemplate(state, cmd);
}

Response PerformSecurityOperation(CardState& state, const Command& cmd)
{
    if (cmd.p1 == 0x9E && cmd.p2 == 0x9A)
        return ComputeSignature(state, cmd);
    if (cmd.p1 == 0x80 && cmd.p2 == 0x86)
        return Decipher(state, cmd);
    return Error(sw::kWrongP1P2);
}

Response GetChallenge(CardState& state, const Command& cmd)
{
    if (cmd.p1 != 0 || cmd.p2 != 0)
        return Error(sw::kWrongP1P2);
    if (!cmd.hasLe || !cmd.data.empty())
        return Error(sw::kWrongLength);
    Bytes challenge(cmd.ne);
    if (state.options.deterministicChallenge) {
        if (!state.challengeRng) {
            const std::string seed = "cardsim challenge:" + state.name;
            Botan::secure_vector<uint8_t> material(seed.begin(), seed.end());
            material.resize(std::max<size_t>(material.size(), 32), 0x00);
            state.challengeRng = std::make_unique<Botan::ChaCha_RNG>(material);
        }
        state.challengeRng->randomize(challenge.data(), challenge.size());
    } else {
        Botan::system_rng().randomize(challenge.data(), challenge.size());
    }
    state.lastChallenge = challenge;
    return {challenge, sw::kOk};
}

Response GenerateKeyPair(CardState& state, const Command& cmd)
{
    if ((cmd.p1 != 0x82 && cmd.p1 != 0x83) || cmd.p2 != 0x00)
        return Error(sw::kWrongP1P2);
    const auto outer = ParseTlvs(cmd.data);
    const TlvElement* crt = outer ? FindTlv(*outer, kDigitalSignatureTemplate) : nullptr;
    const auto inner = crt ? ParseTlvs(crt->value) : std::nullopt;
    const TlvElement* keyRef = inner ? FindTlv(*inner, 0x84) : nullptr;
    if (keyRef == nullptr || keyRef->value.size() != 1)
        return Error(sw::kWrongData);
    const uint8_t reference = keyRef->value[0];
    RsaKeyObject* key = UsableKey(*state.currentDf, reference);

    if (cmd.p1 == 0x83) {  // read the public part of the existing pair
        if (key == nullptr)
            return Error(sw::kReferenceNotFound);
        return {PublicKeyTemplate(*key->key), sw::kOk};
    }
    if (!state.PinVerified(key != nullptr ? key->pinReference : 0x01))
        return Error(sw::kSecurityNotSatisfied);
    const size_t bits = key != nullptr ? key->key->get_n().bits() : 2048;
    if (key == nullptr) {
        RsaKeyObject fresh;
        fresh.reference = reference;
        fresh.canDecipher = true;
        state.currentDf->keys.push_back(fresh);
        key = &state.currentDf->keys.back();
    }
    ++state.generatedKeys;
    key->key = DeterministicKey(state.name + " generated " + std::to_string(state.generatedKeys), bits);
    return {PublicKeyTemplate(*key->key), sw::kOk};
}

}  // namespace cardsim::detail
