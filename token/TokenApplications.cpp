#include "token/TokenApplications.h"

#include "card/ConnectionMgr.h"
#include "token/ApplicationInfoList.h"
#include "token/AttributeGetters.h"
#include "token/CardDetection.h"
#include "token/TokenInfo.h"

namespace Brelt::MW::Token {

namespace {

class TokenApplications final : public Card::CardApplications {
public:
    CK_RV LoadReaderApplications(const std::string& readerName, Card::Slot& cardSlot,
                                 std::vector<Card::SlotPtr>& newSlots, bool& ownApplication) override
    {
        uint32_t own = 0;
        const auto createSlot = [](const std::string& reader, const std::string& text, CK_SLOT_ID slotId,
                                   Card::SlotPtr& out) {
            return Card::ConnectionMgr::CreateSlot(reader, text.c_str(), slotId, out);
        };
        const CK_RV rv = Token::LoadReaderApplications(readerName, &cardSlot, newSlots, &own, createSlot);
        ownApplication = own != 0;
        return rv;
    }

    void InvalidateApplicationInfo(CK_SLOT_ID slotId) override
    {
        Token::InvalidateApplicationInfo(static_cast<uint32_t>(slotId));
    }

    void RemoveAllInvalidApplications() override { Token::RemoveAllInvalidApplications(); }

    CK_RV GetApplicationFacts(CK_SLOT_ID slotId, std::optional<Card::ApplicationFacts>& facts) override
    {
        facts.reset();
        ApplicationInfoPtr application;
        if (CK_RV rv = GetApplicationInfo(static_cast<uint32_t>(slotId), application); rv != CKR_OK) return rv;
        if (!application) return CKR_OK;
        Card::ApplicationFacts made;
        made.cardProfile = application->Profile;
        if (const CIAInfo* cia = application->CiaInfo.get()) {
            if (cia->manufacturerID) made.manufacturerId = cia->manufacturerID->ToCharString();
            for (const AlgorithmInfo& entry : cia->algorithms) {
                Card::AlgorithmFacts algorithm;
                const MW::Base::HexBinary* field = entry.algorithm.get();
                algorithm.hasAlgorithm = field != nullptr;
                if (field != nullptr && field->length > 0) {
                    algorithm.mechanism = GetMechanismFromAlgorithmInfo(field->data, static_cast<size_t>(field->length));
                    algorithm.algorithmFirstByte = field->data[0];
                }
                if (const MW::Base::HexBinary* operations = entry.supportedOperations.get();
                    operations != nullptr && operations->length > 0) {
                    algorithm.supportedOperations.assign(operations->data, operations->data + operations->length);
                }
                made.algorithms.push_back(std::move(algorithm));
            }
        }
        if (const CIOObjectList* keys = application->FindObjectList(kKindRsaPrivateKey)) {
            for (const auto& key : keys->objects) {
                const RSAKeyAttributes* rsa = key->AsRSAKeyAttributes();
                made.rsaModulusBits.push_back(rsa != nullptr ? rsa->modulusLength : 0);
            }
        }
        facts = std::move(made);
        return CKR_OK;
    }

    CK_RV GetTokenInfoEF(const Card::Slot& slot, CK_TOKEN_INFO* info) override
    {
        return Token::GetTokenInfoEF(slot, info);
    }

    // EF.CardAccess matters only to the profiles with a secure channel,
    // whose applications never become slots.
    CK_RV ReadCardAccess(Card::Slot&, std::vector<uint8_t>&) override { return CKR_FUNCTION_FAILED; }
    void ApplyCardAccessPinLength(CK_SLOT_ID, const std::vector<uint8_t>&) override {}
};

}  // namespace

std::shared_ptr<Card::CardApplications> MakeTokenApplications()
{
    return std::make_shared<TokenApplications>();
}

void InstallTokenApplications()
{
    Card::InstallCardApplications(MakeTokenApplications());
}

}  // namespace Brelt::MW::Token
