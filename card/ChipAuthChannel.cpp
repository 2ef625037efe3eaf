// Opening of the chip-authentication channel from the card's EF.CardSecurity.

#include <botan/ecdh.h>

#include <exception>

#include "LogTrace.h"
#include "card/CardCommands.h"
#include "card/ChipAuthentication.h"
#include "eID/CardSecurity.h"
#include "token/CiaFileReaders.h"

namespace Brelt::MW::Card {

using Brelt::MW::Base::HexBinary;
namespace EIDStruct = Brelt::Crypto::EIDStruct;

namespace {

constexpr uint8_t kCardSecurityFid[] = {0x01, 0x1D};

void LogResult(const char* function, int line, const char* format, CK_RV rv)
{
    LogMessage(LOG_LEVEL_ERROR, true, function, line, true, format, CkrToString(rv));
}

// SELECT MF, READ BINARY of EF.CardSecurity and its parsing; null on any
// failure (a file the parser refuses included).
CardSecurityCache ReadCardSecurity(const char* function, const Slot* slot)
{
    CK_RV rv = SelectMF(slot);
    if (rv != CKR_OK) {
        LogResult(function, __LINE__, "Select MF failed, SendApdu() = %s", rv);
        return nullptr;
    }
    HexBinary content;
    rv = Token::ReadEF(slot, kCardSecurityFid, sizeof kCardSecurityFid, content, 1);
    if (rv != CKR_OK) {
        LogResult(function, __LINE__, "EF.CardSecurity reading failed, SendApdu() = %s", rv);
        return nullptr;
    }
    try {
        return std::make_shared<const EIDStruct::CardSecurity>(&content);
    } catch (const Base::MWException& e) {
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "EF.CardSecurity parsing failed: %s",
                   e.message.c_str());
    } catch (const std::exception& e) {
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "EF.CardSecurity parsing failed: %s", e.what());
    } catch (...) {
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "EF.CardSecurity parsing failed");
    }
    return nullptr;
}

// Domain, card key and ephemeral key from the file, then the exchange.
void AuthenticateWith(const char* function, CK_ULONG* lastStatus, const Slot* slot,
                      const EIDStruct::CardSecurity& file, std::unique_ptr<SecureMessaging>* out)
{
    try {
        const std::unique_ptr<Brelt::Crypto::EcDomain> domain = file.GetChipAuthenticationDomain();
        std::unique_ptr<HexBinary> point = GetChipAuthPublicKey(file);
        if (!domain || !point) {
            LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true,
                       "EF.CardSecurity has no chip-authentication domain or key");
            return;
        }
        const auto cardKey = Brelt::Crypto::MakeEcPublicKeyFromPoint(*domain, point.get());
        point.reset();
        const auto ephemeral = Brelt::Crypto::GenerateEcKeyPair(*domain);
        std::unique_ptr<SecureMessaging> context;
        if (ChipAuthentication(lastStatus, slot, *domain, ephemeral, cardKey, &context) == CKR_OK && context)
            *out = std::move(context);
    } catch (const Base::MWException& e) {
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "Chip authentication failed: %s", e.message.c_str());
    } catch (const std::exception& e) {
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "Chip authentication failed: %s", e.what());
    } catch (...) {
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "Chip authentication failed");
    }
}

}  // namespace

std::unique_ptr<HexBinary> GetChipAuthPublicKey(const EIDStruct::CardSecurity& file)
{
    try {
        const auto* info = dynamic_cast<const EIDStruct::ChipAuthenticationPublicKeyInfo*>(
            EIDStruct::FindSecurityInfoByType(&file.GetEncapsulatedContentInfo().GetSecurityInfos(),
                                              EIDStruct::kTypeChipAuthenticationPublicKeyInfo));
        if (info == nullptr || !info->GetChipAuthenticationPublicKey().publicKey) return nullptr;
        return std::make_unique<HexBinary>(*info->GetChipAuthenticationPublicKey().publicKey);
    } catch (...) {
        return nullptr;
    }
}

CK_RV ChipAuthSecMessaging(CK_ULONG* lastStatus, const Slot* slot, CardSecurityCache* cache,
                           std::unique_ptr<SecureMessaging>* out)
{
    static constexpr const char* kName = "ChipAuthSecMessaging";
    FunctionTrace trace(kName);
    if (slot == nullptr || cache == nullptr || out == nullptr) return trace.Result(CKR_OK);
    CardSecurityCache file = ReadCardSecurity(kName, slot);
    if (!file) return trace.Result(CKR_OK);
    *cache = file;
    AuthenticateWith(kName, lastStatus, slot, *file, out);
    return trace.Result(CKR_OK);
}

CK_RV RenewChipAuthSecMessaging(CK_ULONG* lastStatus, const Slot* slot, CardSecurityCache* cache,
                                std::unique_ptr<SecureMessaging>* out)
{
    static constexpr const char* kName = "RenewChipAuthSecMessaging";
    FunctionTrace trace(kName);
    if (slot == nullptr || cache == nullptr || out == nullptr) return trace.Result(CKR_OK);
    if (!*cache) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "EF.CardSecurity is not set, trying to read file again");
        *cache = ReadCardSecurity(kName, slot);
        if (!*cache) return trace.Result(CKR_OK);
    }
    AuthenticateWith(kName, lastStatus, slot, **cache, out);
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Card
