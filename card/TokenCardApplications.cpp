#include "card/TokenCardApplications.h"

#include <mutex>

#include "card/CardCommands.h"
#include "card/ConnectionMgr.h"
#include "card/Slot.h"
#include "eID/CardAccess.h"
#include "token/ApplicationInfoList.h"
#include "token/BitStringFlags.h"
#include "token/AttributeGetters.h"
#include "token/CardDetection.h"
#include "token/CiaFileReaders.h"
#include "token/TokenInfo.h"

namespace Brelt::MW::Card {
namespace {

std::vector<uint8_t> CopyBytes(const MW::Token::Bytes& bytes) {
  if (!bytes || bytes->data == nullptr || bytes->length <= 0) return {};
  return std::vector<uint8_t>(bytes->data, bytes->data + bytes->length);
}

class TokenCardApplications final : public CardApplications {
 public:
  CK_RV LoadReaderApplications(const std::string& readerName, Slot& cardSlot, std::vector<SlotPtr>& newSlots,
                               bool& ownApplication) override {
    uint32_t own = 1;
    const CK_RV rv = MW::Token::LoadReaderApplications(
        readerName, &cardSlot, newSlots, &own,
        [](const std::string& reader, const std::string& slotText, CK_SLOT_ID slotId, SlotPtr& out) {
          return ConnectionMgr::CreateSlot(reader, slotText.c_str(), slotId, out);
        });
    ownApplication = own != 0;
    return rv;
  }

  void InvalidateApplicationInfo(CK_SLOT_ID slotId) override {
    MW::Token::InvalidateApplicationInfo(static_cast<uint32_t>(slotId));
  }

  void RemoveAllInvalidApplications() override { MW::Token::RemoveAllInvalidApplications(); }

  CK_RV GetCardProfile(CK_SLOT_ID slotId, std::optional<uint32_t>& profile) override {
    profile.reset();
    std::lock_guard lock(MW::Token::ApplicationListMutex());
    MW::Token::ApplicationInfoPtr application;
    if (const CK_RV rv = MW::Token::FindApplicationInfo(static_cast<uint32_t>(slotId), application); rv != CKR_OK)
      return rv;
    if (application) profile = application->Profile;
    return CKR_OK;
  }

  CK_RV GetApplicationFacts(CK_SLOT_ID slotId, std::optional<ApplicationFacts>& facts) override {
    facts.reset();
    // Held while the application is read: card object management changes
    // its object lists under the same lock.
    std::lock_guard lock(MW::Token::ApplicationListMutex());
    MW::Token::ApplicationInfoPtr application;
    if (const CK_RV rv = MW::Token::FindApplicationInfo(static_cast<uint32_t>(slotId), application); rv != CKR_OK)
      return rv;
    if (!application) return CKR_OK;

    ApplicationFacts found;
    found.cardProfile = application->Profile;
    if (const MW::Token::CIAInfo* cia = application->CiaInfo.get()) {
      const std::vector<uint8_t> maker = CopyBytes(cia->manufacturerID);
      found.manufacturerId.assign(maker.begin(), maker.end());
      for (const MW::Token::AlgorithmInfo& info : cia->algorithms) {
        AlgorithmFacts algorithm;
        const std::vector<uint8_t> value = CopyBytes(info.algorithm);
        algorithm.hasAlgorithm = info.algorithm != nullptr;
        algorithm.algorithmFirstByte = value.empty() ? 0 : value.front();
        algorithm.mechanism = MW::Token::GetMechanismFromAlgorithmInfo(value.data(), value.size());
        algorithm.supportedOperations = CopyBytes(info.supportedOperations);
        found.algorithms.push_back(std::move(algorithm));
      }
    }
    if (const MW::Token::CIOObjectList* keys = application->FindObjectList(MW::Token::kKindRsaPrivateKey)) {
      for (const auto& key : keys->objects) {
        if (const MW::Token::RSAKeyAttributes* rsa = key->AsRSAKeyAttributes())
          found.rsaModulusBits.push_back(rsa->modulusLength);
      }
    }
    facts = std::move(found);
    return CKR_OK;
  }

  CK_RV GetTokenInfoEF(const Slot& slot, CK_TOKEN_INFO* info) override { return MW::Token::GetTokenInfoEF(slot, info); }

  CK_RV ReadCardAccess(Slot& cardSlot, std::vector<uint8_t>& content) override {
    if (const CK_RV rv = SelectMF(&cardSlot); rv != CKR_OK) return rv;
    static constexpr uint8_t kCardAccessFile[] = {0x01, 0x1C};
    MW::Base::HexBinary data;
    if (const CK_RV rv = MW::Token::ReadEF(&cardSlot, kCardAccessFile, sizeof kCardAccessFile, data, 1); rv != CKR_OK)
      return rv;
    content.assign(data.data, data.data + (data.length > 0 ? data.length : 0));
    return CKR_OK;
  }

  // The PIN length the card's PinInfo gives goes to the PIN objects whose
  // flags do not fix their own length (pwdFlags bit 1 clear or not present).
  // Without a usable PinInfo the PIN objects keep the lengths their directory
  // entries give, never an undefined value.
  void ApplyCardAccessPinLength(CK_SLOT_ID slotId, const std::vector<uint8_t>& cardAccess) override {
    const MW::Base::HexBinary file(cardAccess.data(), static_cast<int32_t>(cardAccess.size()), true);
    const uint32_t pinLength = Crypto::EIDStruct::PinLengthFromCardAccess(&file);
    if (pinLength == 0) return;
    std::lock_guard lock(MW::Token::ApplicationListMutex());
    MW::Token::ApplicationInfoPtr application;
    if (MW::Token::FindApplicationInfo(static_cast<uint32_t>(slotId), application) != CKR_OK || !application) return;
    static constexpr uint32_t kFixedLengthFlag = 1;
    for (const auto& list : application->ObjectLists) {
      if (!list || list->kind != MW::Token::kKindPin) continue;
      for (const auto& object : list->objects) {
        MW::Token::PasswordAttributes* pin = object ? object->AsPasswordAttributes() : nullptr;
        if (!pin) continue;
        bool fixed = false;
        const bool known = pin->pwdFlags && MW::Token::GetFlagAtIndex(pin->pwdFlags->data, pin->pwdFlags->length,
                                                                     kFixedLengthFlag, &fixed);
        if (known && fixed) continue;
        pin->minLength = pinLength;
        pin->maxLength = pinLength;
      }
    }
  }
};

}  // namespace

std::shared_ptr<CardApplications> MakeTokenCardApplications() { return std::make_shared<TokenCardApplications>(); }

}  // namespace Brelt::MW::Card
