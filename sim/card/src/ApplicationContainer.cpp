#include "Commands.h"
#include "SecureMessaging.h"
#include "Tlv.h"

#include <botan/hash.h>

namespace cardsim::detail {

namespace {

constexpr uint8_t kSessionKeyReference = 0x17;

bool InApplicationContainer(const CardState& state)
{
    return state.currentDf->aid == kApplicationContainerAid && !state.applicationContainerKey.empty();
}

Bytes Mac(const CardState& state, const Bytes& data)
{
    return RetailMac(state.applicationContainerKey, Pad2(data));
}

// 16-byte session key: the first 15 bytes of SHA-1(RC || RH) with the
// padding byte 80, enciphered in one CBC run under the derivation key.
Bytes SessionKey(const CardState& state, const Bytes& cardChallenge, const Bytes& hostChallenge)
{
    auto sha1 = Botan::HashFunction::create_or_throw("SHA-1");
    sha1->update(cardChallenge);
    sha1->update(hostChallenge);
    const auto digest = sha1->final();
    Bytes block(digest.begin(), digest.begin() + 15);
    block.push_back(0x80);
    return TripleDesCbc(state.sessionKeyDerivationKey, block, true);
}

}  // namespace

const Bytes kApplicationContainerAid{0xF0, 'A', 'P', 'P', 'C', 'O', 'N', 'T', 'A', 'I', 'N', 'E', 'R', '0', '1'};

Response Authenticate(CardState& state, const Command& cmd)
{
    if (cmd.p1 != 0x00)
        return Error(sw::kWrongP1P2);
    if (cmd.p2 != kApplicationContainerKeyReference || !InApplicationContainer(state))
        return Error(sw::kReferenceNotFound);
    // Every attempt uses up the card's challenge.
    const Bytes cardChallenge = state.lastChallenge;
    state.lastChallenge.clear();
    if (cardChallenge.empty())
        return Error(sw::kConditionsNotSatisfied);

    if (cmd.data.size() == 8) {  // EXTERNAL AUTHENTICATE: host MAC only
        if (cmd.data != Mac(state, cardChallenge))
            return Error(sw::kVerificationFailed);
        return {};
    }
    const auto top = ParseTlvs(cmd.data);
    const TlvElement* dynamic = top ? FindTlv(*top, 0x7C) : nullptr;
    const auto inner = dynamic ? ParseTlvs(dynamic->value) : std::nullopt;
    const TlvElement* hostMac = inner ? FindTlv(*inner, 0x82) : nullptr;
    const TlvElement* hostChallenge = inner ? FindTlv(*inner, 0x81) : nullptr;
    if (hostMac == nullptr || hostChallenge == nullptr || hostChallenge->value.empty())
        return Error(sw::kWrongData);
    if (hostMac->value != Mac(state, cardChallenge))
        return Error(sw::kVerificationFailed);

    // A B4 template naming the session key asks for a protected session.
    if (const TlvElement* sessionTemplate = FindTlv(*top, 0xB4)) {
        const auto fields = ParseTlvs(sessionTemplate->value);
        const TlvElement* reference = fields ? FindTlv(*fields, 0x84) : nullptr;
        if (reference == nullptr || reference->value != Bytes{kSessionKeyReference})
            return Error(sw::kReferenceNotFound);
        const Bytes key = SessionKey(state, cardChallenge, hostChallenge->value);
        state.secureMessaging = SmSession{key, key, {}};
    }
    return {Tlv(0x7C, Tlv(0x82, Mac(state, hostChallenge->value))), sw::kOk};
}

}  // namespace cardsim::detail
