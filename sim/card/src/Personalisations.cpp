#include <cardsim/Personalisations.h>

#include "Commands.h"
#include "EidFiles.h"
#include "Layouts.h"
#include "Pkcs15.h"

#include <functional>
#include <stdexcept>
#include <utility>

namespace cardsim {

namespace {

using detail::CardState;
using detail::LayoutOptions;
using detail::NewCard;

const Bytes kSigZepEpAid1{0xD7, 0x03, 0x00, 0x00, 0x11, 0x00, 0x00, 0x01};
const Bytes kSigZepEpAid2{0xD7, 0x03, 0x00, 0x00, 0x11, 0x00, 0x00, 0x02};
const Bytes kEsignAid{0xA0, 0x00, 0x00, 0x01, 0x67, 0x45, 0x53, 0x49, 0x47, 0x4E};
// SecurityInfos with one PinInfo naming a 6-digit PIN.
const Bytes kCardAccessPinInfo{0x31, 0x11, 0x30, 0x0F, 0x06, 0x07, 0x28, 0x81, 0xC1, 0x17, 0x03,
                               0x00, 0x09, 0x02, 0x01, 0x01, 0x02, 0x01, 0x06};

// Simulator defaults; tests that drive the module's own keys replace them.
const Bytes kDefaultContainerKey{0x41, 0x50, 0x50, 0x43, 0x4F, 0x4E, 0x54, 0x41,
                                 0x49, 0x4E, 0x45, 0x52, 0x4B, 0x45, 0x59, 0x31};
const Bytes kDefaultDerivationKey{0x53, 0x45, 0x53, 0x53, 0x49, 0x4F, 0x4E, 0x20,
                                  0x4B, 0x45, 0x59, 0x20, 0x44, 0x45, 0x52, 0x49};

using Builder = std::function<std::unique_ptr<CardState>(const std::string& name)>;

std::string DefaultLabel(CardOs os)
{
    switch (os) {
    case CardOs::V43B: return "Emu Default 4.3B";
    case CardOs::V44: return "Emu Default 4.4";
    default: return "Emu Default 5.0";
    }
}

// Adjusts the user PIN after the layout was built.
std::function<void(CardState&)> WithUserPin(std::function<void(detail::PinObject&)> adjust)
{
    return [=](CardState& state) {
        for (detail::PinObject& pin : state.pins)
            if (pin.reference == 0x01)
                adjust(pin);
    };
}

Builder Pkcs15Card(CardOs os, std::function<void(LayoutOptions&)> adjust = {},
                   std::function<void(CardState&)> finish = {})
{
    return [=](const std::string& name) {
        auto state = NewCard(name, os);
        LayoutOptions options;
        options.label = DefaultLabel(os);
        if (adjust)
            adjust(options);
        detail::AddPkcs15Layout(*state, options);
        if (finish)
            finish(*state);
        return state;
    };
}

std::unique_ptr<detail::File> ApplicationDf(uint16_t fid, const Bytes& aid)
{
    auto df = std::make_unique<detail::File>();
    df->fid = fid;
    df->type = detail::FileType::Df;
    df->aid = aid;
    return df;
}

std::unique_ptr<detail::File> TransparentEf(uint16_t fid, const Bytes& data)
{
    auto ef = std::make_unique<detail::File>();
    ef->fid = fid;
    ef->data = data;
    return ef;
}

// eID card with the two SigZepEp applications and the application container.
Builder SigZepEpCard(CardOs os)
{
    return [=](const std::string& name) {
        auto state = NewCard(name, os);
        state->mf->AddChild(TransparentEf(0x011C, kCardAccessPinInfo));
        detail::AddEidApplicationKeys(*state, state->mf->AddChild(ApplicationDf(0x1F01, kSigZepEpAid1)));
        state->mf->AddChild(ApplicationDf(0x1F02, kSigZepEpAid2));
        state->mf->AddChild(ApplicationDf(0x1F10, detail::kApplicationContainerAid));
        state->applicationContainerKey = kDefaultContainerKey;
        state->sessionKeyDerivationKey = kDefaultDerivationKey;
        return state;
    };
}

// eID card whose EF.DIR names the ESIGN application; it offers chip
// authentication and secure messaging.
Builder QesEacCard(CardOs os, detail::CardSecurityGap gap = detail::CardSecurityGap::None,
                   std::function<void(CardState&)> finish = {})
{
    return [=](const std::string& name) {
        auto state = NewCard(name, os);
        state->chipAuthenticationKey = detail::ChipAuthenticationKey();
        state->mf->AddChild(TransparentEf(0x2F00, detail::EncodeEfDirEntry(kEsignAid, "ESIGN", {})));
        state->mf->AddChild(TransparentEf(0x011C, detail::EncodeCardAccess(*state->chipAuthenticationKey)));
        state->mf->AddChild(TransparentEf(0x011D, detail::EncodeCardSecurity(*state->chipAuthenticationKey, gap)));
        detail::File& esign = state->mf->AddChild(ApplicationDf(0x1F03, kEsignAid));
        detail::AddEidApplicationKeys(*state, esign);
        // Environment 01 names the signature key, 03 the deciphering key.
        esign.storedEnvironments[0x01].signatureKey = 0x01;
        esign.storedEnvironments[0x03].decipherKey = 0x02;
        if (finish)
            finish(*state);
        return state;
    };
}

const std::vector<std::pair<std::string, Builder>>& Catalogue()
{
    static const std::vector<std::pair<std::string, Builder>> catalogue{
        // Admitted cards.
        {"DEF50", Pkcs15Card(CardOs::V50)},
        {"DEF50-3K", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.signatureKeyBits = 3072; })},
        {"DEF50-1K", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.authenticationKeyBits = 1024; })},
        {"DEF50-PINMAX2", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.userPinMaxLength = 2; })},
        {"DEF50-UC", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.signatureKeyUserConsent = 1; })},
        {"DEF50-KREF81", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.keyReferenceBase = 0x80; })},
        {"DEF50-PIN63CX", Pkcs15Card(CardOs::V50, {}, [](CardState& s) {
             s.options.pinStatus9000WhenVerified = false;
         })},
        {"DEF50-TRANSPORT", Pkcs15Card(CardOs::V50, {}, WithUserPin([](detail::PinObject& pin) {
             pin.usable = false;
         }))},
        {"DEF50-FINALTRY", Pkcs15Card(CardOs::V50, {}, WithUserPin([](detail::PinObject& pin) {
             pin.retriesLeft = 1;
         }))},
        {"DEF50-BLOCKED", Pkcs15Card(CardOs::V50, {}, WithUserPin([](detail::PinObject& pin) {
             pin.retriesLeft = 0;
         }))},
        {"DEF44", Pkcs15Card(CardOs::V44)},
        {"DEF44-UC", Pkcs15Card(CardOs::V44, [](LayoutOptions& o) { o.signatureKeyUserConsent = 1; })},
        {"DEF44-STRICT", Pkcs15Card(CardOs::V44, {}, [](CardState& s) { s.options.dataWithoutLe = false; })},
        {"DEF43B", Pkcs15Card(CardOs::V43B, [](LayoutOptions& o) {
             o.efDir = false;
             o.unpaddedPin = true;
         })},
        {"DEF43B-NOEXT", Pkcs15Card(CardOs::V43B, [](LayoutOptions& o) {
             o.efDir = false;
             o.unpaddedPin = true;
         }, [](CardState& s) { s.options.extendedLength = false; })},
        {"SIGG50", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) {
             o.sigG = true;
             o.label = "Emu SigG 5.0";
         })},
        {"SIGG50-2ND", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) {
             o.sigG = true;
             o.secondSigGKey = true;
             o.label = "Emu SigG 5.0";
         })},
        {"SIGG50-STRICT", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) {
             o.sigG = true;
             o.label = "Emu SigG 5.0";
         }, [](CardState& s) { s.options.acceptMfInPathFromMf = false; })},
        {"SIGG44", Pkcs15Card(CardOs::V44, [](LayoutOptions& o) {
             o.sigG = true;
             o.label = "Emu SigG 4.4";
         })},
        {"DEF50-PADDED", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.certificateFill = 0x00; })},
        {"DEF50-PADDED-FF", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.certificateFill = 0xFF; })},
        {"DEF50-DIRBITS1024", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.directoryModulusBits = 1024; })},
        {"DEF44-DIRBITS1024", Pkcs15Card(CardOs::V44, [](LayoutOptions& o) { o.directoryModulusBits = 1024; })},
        {"DEF50-NOHALF", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.publicHalvesUnmatched = true; })},
        {"DEF50-NOHALF-BITS0", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) {
             o.publicHalvesUnmatched = true;
             o.directoryModulusBits = 0;
         })},
        {"DEF50-NOHALF-BITS70000", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) {
             o.publicHalvesUnmatched = true;
             o.directoryModulusBits = 70000;
         })},
        {"DEF44-PADDED", Pkcs15Card(CardOs::V44, [](LayoutOptions& o) { o.certificateFill = 0x00; })},
        {"DEF44-PADDED-FF", Pkcs15Card(CardOs::V44, [](LayoutOptions& o) { o.certificateFill = 0xFF; })},
        {"DEF50-CERTDF", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.certificateDf = true; })},
        {"UNK-OS", Pkcs15Card(CardOs::Unknown)},
        {"UNK-OS-6A88", Pkcs15Card(CardOs::Unknown, {}, [](CardState& s) { s.dataObjects.erase(0x82); })},
        {"X509-ONLY", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.mechanism = 3; })},
        {"X509-ONLY44", Pkcs15Card(CardOs::V44, [](LayoutOptions& o) { o.mechanism = 3; })},
        // Refused cards.
        {"ZEP50", SigZepEpCard(CardOs::V50)},
        {"ZEP44", SigZepEpCard(CardOs::V44)},
        {"QES50", QesEacCard(CardOs::V50)},
        {"QES44", QesEacCard(CardOs::V44)},
        {"QES50-NOKEY", QesEacCard(CardOs::V50, detail::CardSecurityGap::PublicKey)},
        {"QES50-NODOMAIN", QesEacCard(CardOs::V50, detail::CardSecurityGap::DomainParameters)},
        {"QES50-FCP", QesEacCard(CardOs::V50, detail::CardSecurityGap::None, [](CardState& s) {
             s.dataObjects[0x8E] = {0x01};
             detail::PinObject zepPin;
             zepPin.reference = 0x00;
             zepPin.text = "123456";
             zepPin.value = Bytes(zepPin.text.begin(), zepPin.text.end());
             s.pins.push_back(zepPin);
         })},
        {"NO-P15", [](const std::string& name) { return NewCard(name, CardOs::V50); }},
        // Faulty cards.
        {"NO-83", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.applicationFcpWithoutFid = true; })},
        {"NO-83-EMPTY", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.applicationFcpEmpty = true; })},
        {"MUTE", Pkcs15Card(CardOs::V50, {}, [](CardState& s) { s.mute = true; })},
        {"BAD-CIA", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.ciaInfoTwoElements = true; })},
        {"BAD-CIA-MISSING", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.ciaInfoMissing = true; })},
        {"BAD-ODF", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.odfDanglingEntry = true; })},
        {"REC-DIR", Pkcs15Card(CardOs::V50, [](LayoutOptions& o) { o.efDirAsRecords = true; })},
        {"LONG-ATR", Pkcs15Card(CardOs::V50, {}, [](CardState& s) {
             // 33 bytes: TD2..TD4 announce further T=1 interface bytes and
             // 15 historical bytes follow.
             s.atr = {0x3B, 0xDF, 0x18, 0x00, 0x81, 0xF1, 0xFE, 0x58, 0x00, 0xF1, 0xFE, 0x58,
                      0x00, 0x71, 0xFE, 0x58, 0x00};
             const Bytes historical{0xC9, 0x01, 'C', 'a', 'r', 'd', 's', 'i', 'm', ' ', 'l', 'o', 'n', 'g', '!'};
             s.atr.insert(s.atr.end(), historical.begin(), historical.end());
             uint8_t tck = 0;
             for (size_t i = 1; i < s.atr.size(); ++i)
                 tck ^= s.atr[i];
             s.atr.push_back(tck);
         })},
    };
    return catalogue;
}

}  // namespace

std::unique_ptr<Card> MakePersonalisation(const std::string& name)
{
    for (const auto& [entryName, build] : Catalogue())
        if (entryName == name)
            return std::make_unique<Card>(build(name));
    throw std::invalid_argument("unknown card personalisation: " + name);
}

std::vector<std::string> PersonalisationNames()
{
    std::vector<std::string> names;
    for (const auto& entry : Catalogue())
        names.push_back(entry.first);
    return names;
}

}  // namespace cardsim
