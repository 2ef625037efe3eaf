#include "token/CardKeyCommands.h"

#include <memory>

#include "card/ApduTransport.h"
#include "card/CardCommands.h"
#include "card/StatusCache.h"
#include "token/ApplicationInfoList.h"

namespace Brelt::MW::Token {

namespace {

CK_RV BuildKeyCommand(uint8_t ins, uint8_t p1, uint8_t p2, const std::vector<uint8_t>& data, bool withLe,
                      Card::ApduCommand& command)
{
    Card::SetApdu(&command, 0x00, ins, p1, p2, withLe ? 0 : Card::kNoLe, Card::kSwSuccess);
    if (data.empty()) return CKR_OK;
    if (data.size() > 0xFFFF) return CKR_DATA_LEN_RANGE;
    return Card::SetApduData(&command, static_cast<uint16_t>(data.size()), data.data(), 1);
}

}  // namespace

CK_RV LookUpKeyApplication(CK_SLOT_ID slotId, Card::SlotPtr& slot, ApplicationInfoPtr& application)
{
    slot = Card::StatusCache::GetSlotWithoutProbe(slotId);
    if (!slot) return CKR_FUNCTION_FAILED;
    const CK_RV rv = GetApplicationInfo(static_cast<uint32_t>(slotId), application);
    if (rv != CKR_OK) return rv;
    return application ? CKR_OK : CKR_FUNCTION_FAILED;
}

CK_RV SelectKeyApplication(CK_ULONG* lastStatus, const Card::Slot& slot, const ApplicationInfo& application)
{
    return Card::SetIntoIasAppDF(lastStatus, &slot, application.IasAid.get(), application.Profile, [&slot] {
        return Card::StatusCache::EnsureSecureMessagingForSlot(&slot) != nullptr;
    });
}

CK_RV SendKeyCommand(const Card::Slot& slot, CK_ULONG* lastStatus, uint8_t ins, uint8_t p1, uint8_t p2,
                     const std::vector<uint8_t>& data, bool withLe, bool forceExtended, Card::ApduResponse& response)
{
    Card::ApduCommand command;
    if (CK_RV rv = BuildKeyCommand(ins, p1, p2, data, withLe, command); rv != CKR_OK) return rv;
    response.Clear();
    return Card::SendApdu(&slot, &command, &response, lastStatus, 0, forceExtended ? 1 : 0);
}

CK_RV SendKeyCommandInChannel(Card::SecureMessaging& channel, const Card::Slot& slot, CK_ULONG* lastStatus,
                              uint8_t ins, uint8_t p1, uint8_t p2, const std::vector<uint8_t>& data, bool withLe,
                              bool forceExtended, Card::ApduResponse& response)
{
    Card::ApduCommand command;
    if (CK_RV rv = BuildKeyCommand(ins, p1, p2, data, withLe, command); rv != CKR_OK) return rv;
    const std::unique_ptr<Card::ApduCommand> wrapped = channel.EncodeCommand(&command, Card::kSmWholeCommand);
    if (!wrapped) return CKR_FUNCTION_FAILED;
    response.Clear();
    const CK_RV sent = Card::SendApdu(&slot, wrapped.get(), &response, lastStatus, 0, forceExtended ? 1 : 0);
    // A refused command's answer is unwrapped too: the channel's counter
    // moves on with every answer.
    const CK_RV unwrapped = channel.DecodeResponse(&response);
    if (sent != CKR_OK) return sent;
    // An answer that fails the check keeps its status word for the caller,
    // 90 00 included, as SendApdu does for its own channel.
    if (unwrapped != CKR_OK) Card::StoreLastStatus(lastStatus, response.sw);
    return unwrapped;
}

bool KeyReferenceOf(const CIOObject& key, uint32_t* reference)
{
    const CommonKeyAttributes* attributes = key.AsCommonKeyAttributes();
    if (attributes == nullptr || !attributes->keyReference) return false;
    *reference = *attributes->keyReference;
    return true;
}

}  // namespace Brelt::MW::Token
