#pragma once
// An application of a secure-channel profile put into the application table
// by hand (the table admits none of them to a slot): a signature key and a
// deciphering key of the simulated card, with the access rules the tests give;
// and signing and deciphering with them as the exports do.

#include <botan/pk_keys.h>
#include <botan/x509cert.h>
#include <cardsim/Card.h>

#include <memory>
#include <mutex>
#include <ostream>
#include <vector>

#include "BaseTypes.h"
#include "pkcs11/CryptoOperations.h"
#include "pkcs11/Session.h"
#include "token/ApplicationInfoList.h"
#include "token/AttributeSource.h"
#include "token/CIOObject.h"
#include "token/CardSignature.h"

namespace channeltest {

struct ChannelCard {
    const char* name;
    uint32_t profile;
    uint32_t cardOs;
    cardsim::Bytes aid;  // the application's AID (its IAS application)
    cardsim::Bytes df;   // its DF under the MF
};

inline void PrintTo(const ChannelCard& card, std::ostream* out)
{
    *out << card.name;
}

inline const cardsim::Bytes kZepAid{0xD7, 0x03, 0x00, 0x00, 0x11, 0x00, 0x00, 0x01};
inline const cardsim::Bytes kEsignAid{0xA0, 0x00, 0x00, 0x01, 0x67, 0x45, 0x53, 0x49, 0x47, 0x4E};
inline const ChannelCard kZep50{"ZEP50", Brelt::MW::Token::SigZepEpProfile, Brelt::MW::Token::CardOSv50, kZepAid,
                                {0x1F, 0x01}};
inline const ChannelCard kZep44{"ZEP44", Brelt::MW::Token::SigZepEpProfile, Brelt::MW::Token::CardOSv44, kZepAid,
                                {0x1F, 0x01}};
inline const ChannelCard kQes50{"QES50", Brelt::MW::Token::QesEacProfile, Brelt::MW::Token::CardOSv50, kEsignAid,
                                {0x1F, 0x03}};
inline const ChannelCard kQes44{"QES44", Brelt::MW::Token::QesEacProfile, Brelt::MW::Token::CardOSv44, kEsignAid,
                                {0x1F, 0x03}};

inline constexpr CK_OBJECT_HANDLE kSignatureKey = 0x00030000;
inline constexpr CK_OBJECT_HANDLE kDecipherKey = 0x00030001;
inline constexpr int kPinRule = -1;  // an access rule that names the PIN and no environment
// VERIFY of the signing PIN (reference 03) of the simulated eID cards.
inline const cardsim::Bytes kVerifySigningPin{0x00, 0x20, 0x00, 0x03, 0x06, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36};

// A private key in key file 4B<reference> with one access rule per entry of
// `rules`: an environment number, or kPinRule.
inline std::unique_ptr<Brelt::MW::Token::CIOObject> PrivateKey(CK_OBJECT_HANDLE handle, uint8_t reference,
                                                                std::vector<int> rules)
{
    using namespace Brelt::MW::Token;
    const auto byte = [](uint8_t value) { return std::make_unique<Brelt::MW::Base::HexBinary>(&value, 1, true); };
    auto key = std::make_unique<RSAPrvKeyObject>(static_cast<uint32_t>(handle), nullptr);
    key->AsCommonKeyAttributes()->keyReference = std::make_unique<uint32_t>(reference);
    const uint8_t path[] = {0x4B, reference};
    key->AsRSAKeyAttributes()->path = std::make_unique<Brelt::MW::Base::HexBinary>(path, 2, true);
    key->AsRSAKeyAttributes()->modulusLength = 2048;
    for (int environment : rules) {
        AccessControlRule rule;
        rule.condition = std::make_unique<SecurityCondition>();
        if (environment == kPinRule) {
            rule.condition->authId = byte(0x03);
        } else {
            rule.condition->authReference = std::make_unique<AuthReference>();
            rule.condition->authReference->seIdentifier = byte(static_cast<uint8_t>(environment));
        }
        key->commonAttributes->accessControlRules.push_back(std::move(rule));
    }
    return key;
}

// Puts the card's application, holding the signature key and the
// deciphering key, into the table under `slot`.
inline Brelt::MW::Token::ApplicationInfoPtr RegisterApplication(const ChannelCard& card, CK_SLOT_ID slot,
                                                                 std::vector<int> signatureKeyRules = {3, 1, kPinRule})
{
    using namespace Brelt::MW::Token;
    auto application = std::make_shared<ApplicationInfo>();
    application->Profile = card.profile;
    application->CardOS = card.cardOs;
    application->Aid = std::make_unique<Brelt::MW::Base::HexBinary>(card.aid.data(),
                                                                    static_cast<int32_t>(card.aid.size()), true);
    application->IasAid = std::make_unique<Brelt::MW::Base::HexBinary>(*application->Aid);
    auto keys = std::make_unique<CIOObjectList>(kKindRsaPrivateKey);
    keys->objects.push_back(PrivateKey(kSignatureKey, 0x01, std::move(signatureKeyRules)));
    keys->objects.push_back(PrivateKey(kDecipherKey, 0x02, {3}));
    application->ObjectLists.push_back(std::move(keys));
    std::lock_guard lock(ApplicationListMutex());
    GlobalApplicationList()[static_cast<uint32_t>(slot)] = application;
    return application;
}

// A SHA-256 DigestInfo whose digest is 32 bytes of `fill`.
inline cardsim::Bytes DigestInfo(uint8_t fill = 0x5A)
{
    cardsim::Bytes info = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                           0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    info.insert(info.end(), 32, fill);
    return info;
}

// The public key of certificate 43 <index> in the card's application DF.
inline std::unique_ptr<Botan::Public_Key> CertificateKey(const cardsim::Card& card, const cardsim::Bytes& df,
                                                         uint8_t index)
{
    cardsim::Bytes path = df;
    path.insert(path.end(), {0x43, index});
    return Botan::X509_Certificate(*card.FileContents(path)).load_subject_public_key();
}

// The signature key's signature of `data` as C_Sign has the card compute it
// for a logged-in session, inside `channel` (null: without one).
inline CK_RV SignInChannel(Brelt::MW::Pkcs11::Session& session, const Brelt::MW::Token::ApplicationInfoPtr& application,
                           std::shared_ptr<Brelt::MW::Card::SecureMessaging> channel, const cardsim::Bytes& data,
                           cardsim::Bytes& signature)
{
    Brelt::MW::Token::AttributeSource source;
    Brelt::MW::Token::SignatureKey key;
    key.slotId = session.SlotId();
    key.lastStatus = session.LastStatusWord();
    key.userLoggedIn = true;
    key.source = &source;
    key.key = application->FindObjectList(Brelt::MW::Token::kKindRsaPrivateKey)->objects.at(0).get();
    key.handle = kSignatureKey;
    key.channel = std::move(channel);
    signature.assign(300, 0);
    CK_ULONG length = signature.size();
    const CK_RV rv = Brelt::MW::Token::ComputeDigitalSignatureFinal(key, data.data(), uint16_t(data.size()),
                                                                    signature.data(), &length);
    signature.resize(rv == CKR_OK ? length : 0);
    return rv;
}

// C_Decrypt of `cryptogram` with the deciphering key.
inline CK_RV Decipher(Brelt::MW::Pkcs11::Session& session, const CK_MECHANISM& mechanism,
                      const cardsim::Bytes& cryptogram, cardsim::Bytes& plain)
{
    Brelt::MW::Pkcs11::OperationContext& context = session.decryptContext;
    Brelt::MW::Pkcs11::ResetOperation(context);
    context.mechanism = Brelt::MW::Pkcs11::CopyMechanism(&mechanism);
    context.hKey = kDecipherKey;
    context.modulusBits = 2048;
    plain.assign(256, 0);
    CK_ULONG length = plain.size();
    const CK_RV rv = Brelt::MW::Pkcs11::Decrypt(session, cryptogram.data(), cryptogram.size(), plain.data(), &length);
    plain.resize(rv == CKR_OK ? length : 0);
    return rv;
}

}  // namespace channeltest
