// The secure channels, driven directly on the registry, with every card
// command failed once with each kind of fault: the application-container
// channel of a SigZepEp card and the chip authentication of a QesEac card,
// opened afresh and renewed after the card lost it, and a signature and a
// deciphering inside each channel.

#include "FaultSweep.h"

#include <botan/pubkey.h>
#include <botan/system_rng.h>
#include <botan/x509cert.h>

#include "card/ApduTransport.h"
#include "card/CardCommands.h"
#include "card/SecureMessaging.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/CryptoOperations.h"
#include "pkcs11/Session.h"
#include "tests/sign/ChannelApplication.h"
#include "tests/sm/ChannelKeyValues.h"
#include "tests/sm/SmTestSupport.h"
#include "token/AttributeSource.h"
#include "token/CardSignature.h"

namespace faults {
namespace {

using Brelt::MW::Card::StatusCache;

constexpr const char* kReader = "Channel Reader 00";
constexpr CK_SLOT_ID kSlotId = 7;

// A card handle of its own, registered as slot 7 without the library.
class ChannelOperation : public Operation {
public:
    using Operation::Operation;
    ~ChannelOperation() override
    {
        Forget();
        if (context_ != 0) SCardReleaseContext(context_);
    }
    void Prepare() override
    {
        Forget();
        if (context_ == 0) {
            EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_), SCARD_S_SUCCESS);
        }
        DWORD protocol = 0;
        EXPECT_EQ(SCardConnect(context_, bench_.Reader().c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &handle_,
                               &protocol),
                  SCARD_S_SUCCESS);
        slot_ = std::make_shared<Brelt::MW::Card::Slot>(kSlotId, bench_.Reader());
        slot_->SetCardHandle(handle_);
        slot_->SetTokenPresent(true);
        slot_->SetTokenId(StatusCache::GetOrCreateToken(handle_));
        StatusCache::AddNewSlot(slot_);
    }

protected:
    // Whether a protected SELECT of the MF through `channel` comes back intact.
    bool Works(Brelt::MW::Card::ApduProtector& channel)
    {
        Brelt::MW::Card::ApduCommand plain;
        Brelt::MW::Card::SetApdu(&plain, 0x00, 0xA4, 0x00, 0x0C, Brelt::MW::Card::kNoLe, Brelt::MW::Card::kSwSuccess);
        const std::unique_ptr<Brelt::MW::Card::ApduCommand> wrapped(channel.WrapCommand(plain));
        Brelt::MW::Card::ApduResponse response;
        CK_ULONG status = 0;
        const CK_RV sent = wrapped ? Brelt::MW::Card::SendApduImpl(slot_.get(), wrapped.get(), &response, &status, 0, 0)
                                   : CKR_FUNCTION_FAILED;
        return channel.UnwrapResponse(response) == CKR_OK && sent == CKR_OK;
    }

    std::shared_ptr<Brelt::MW::Card::Slot> slot_;
    Brelt::MW::Pkcs11::Session session_{kSlotId, CKF_SERIAL_SESSION};

private:
    // Drops the registry's records (which gives their card handle back).
    void Forget()
    {
        StatusCache::RemoveAllSlots();
        StatusCache::RemoveAllTokens();
        StatusCache::ClearAuthTable();
        handle_ = 0;
    }
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE handle_ = 0;
};

// Mutual authentication with the application container's key.
class AppContainerOpening final : public ChannelOperation {
public:
    using ChannelOperation::ChannelOperation;
    void Reset() override { StatusCache::RemoveCardAuth(slot_->CardHandle(), true); }
    Outcome Run() override
    {
        const auto channel = StatusCache::EstablishAuthContext(session_);
        CloseFaultWindow();
        CallResult call{"application-container channel", "card", channel ? CKR_OK : CKR_FUNCTION_FAILED};
        if (channel) call.output = Works(*channel) ? "works" : "opened, but its commands fail";
        return {call};
    }
};

// Chip authentication from EF.CardSecurity; with `renew`, the channel is
// opened first and the card then loses it, so the kept file renews it.
class ChipAuthenticationOpening final : public ChannelOperation {
public:
    ChipAuthenticationOpening(Bench& bench, bool renew) : ChannelOperation(bench), renew_(renew) {}
    void Reset() override
    {
        StatusCache::RemoveCardAuth(slot_->CardHandle(), true);
        if (!renew_) return;
        EXPECT_TRUE(StatusCache::CreateSecureMessaging(slot_.get(), &session_));
        bench_.Card()->Reset();
    }
    Outcome Run() override
    {
        const auto channel = StatusCache::CreateSecureMessaging(slot_.get(), &session_);
        CloseFaultWindow();
        CallResult call{"chip-authentication channel", "card", channel ? CKR_OK : CKR_FUNCTION_FAILED};
        if (channel) call.output = Works(*channel) ? "works" : "opened, but its commands fail";
        return {call};
    }

private:
    const bool renew_;
};

// Inside the channel of the card's profile, as a signing or deciphering call
// has it: the application-container channel opened for every call, the
// chip-authentication channel kept while the card answers under it.
class InsideChannel : public ChannelOperation {
public:
    InsideChannel(Bench& bench, const channeltest::ChannelCard& card) : ChannelOperation(bench), card_(card) {}
    void Prepare() override
    {
        ChannelOperation::Prepare();
        application_ = channeltest::RegisterApplication(card_, kSlotId);
    }
    // The signing PIN, as the login before the call gives it.
    void Reset() override
    {
        cardsim::Bytes answer(2);
        DWORD length = DWORD(answer.size());
        SCardTransmit(slot_->CardHandle(), SCARD_PCI_T1, channeltest::kVerifySigningPin.data(),
                      DWORD(channeltest::kVerifySigningPin.size()), nullptr, answer.data(), &length);
    }

protected:
    std::shared_ptr<Brelt::MW::Card::SecureMessaging> Channel()
    {
        if (card_.profile == Brelt::MW::Token::SigZepEpProfile) return StatusCache::EstablishAuthContext(session_);
        auto channel = StatusCache::EnsureSecureMessaging(&session_);
        return channel && Brelt::MW::Card::SelectMF(slot_.get()) == CKR_OK ? channel : nullptr;
    }
    Brelt::MW::Token::CIOObject* Key(size_t index) const
    {
        return application_->FindObjectList(Brelt::MW::Token::kKindRsaPrivateKey)->objects.at(index).get();
    }
    std::unique_ptr<Botan::Public_Key> CertificateKey(uint8_t index) const
    {
        cardsim::Bytes path = card_.df;
        path.insert(path.end(), {0x43, index});
        return Botan::X509_Certificate(*bench_.Card()->FileContents(path)).load_subject_public_key();
    }
    const channeltest::ChannelCard card_;
    Brelt::MW::Token::ApplicationInfoPtr application_;
};

class SignatureInChannel final : public InsideChannel {
public:
    using InsideChannel::InsideChannel;
    Outcome Run() override
    {
        const auto channel = Channel();
        if (!channel) return {{"channel", "card", CKR_FUNCTION_FAILED}};
        Brelt::MW::Token::AttributeSource source;
        Brelt::MW::Token::SignatureKey key;
        key.slotId = kSlotId;
        key.lastStatus = session_.LastStatusWord();
        key.userLoggedIn = true;
        key.source = &source;
        key.key = Key(0);
        key.handle = channeltest::kSignatureKey;
        key.channel = channel;
        const cardsim::Bytes data = DigestInfo();
        cardsim::Bytes signature(300);
        CK_ULONG length = signature.size();
        CallResult call{"signature", "card",
                        Brelt::MW::Token::ComputeDigitalSignatureFinal(key, data.data(), uint16_t(data.size()),
                                                                       signature.data(), &length)};
        signature.resize(call.rv == CKR_OK ? length : 0);
        call.output = Hex(signature);
        if (call.rv == CKR_OK && !Botan::PK_Verifier(*CertificateKey(1), "EMSA3(Raw)").verify_message(data, signature))
            call.problem = "signature does not verify";
        return {{"channel", "card", CKR_OK}, call};
    }

private:
    static cardsim::Bytes DigestInfo()
    {
        cardsim::Bytes info = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03,
                               0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
        info.insert(info.end(), 32, 0x6C);
        return info;
    }
};

class DecipheringInChannel final : public InsideChannel {
public:
    using InsideChannel::InsideChannel;
    void Prepare() override
    {
        InsideChannel::Prepare();
        if (cryptogram_.empty()) {
            Botan::PK_Encryptor_EME encryptor(*CertificateKey(2), Botan::system_rng(), "EME-PKCS1-v1_5");
            cryptogram_ = encryptor.encrypt(kSecret, Botan::system_rng());
        }
    }
    Outcome Run() override
    {
        if (!Channel()) return {{"channel", "card", CKR_FUNCTION_FAILED}};
        Brelt::MW::Pkcs11::OperationContext& context = session_.decryptContext;
        Brelt::MW::Pkcs11::ResetOperation(context);
        const CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
        context.mechanism = Brelt::MW::Pkcs11::CopyMechanism(&mechanism);
        context.hKey = channeltest::kDecipherKey;
        context.modulusBits = 2048;
        cardsim::Bytes plain(256);
        CK_ULONG length = plain.size();
        CallResult call{"deciphering", "C_Decrypt",
                        Brelt::MW::Pkcs11::Decrypt(session_, cryptogram_.data(), cryptogram_.size(), plain.data(),
                                                   &length)};
        plain.resize(call.rv == CKR_OK ? length : 0);
        call.output = Hex(plain);
        return {{"channel", "card", CKR_OK}, call};
    }

private:
    const cardsim::Bytes kSecret{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
    std::vector<uint8_t> cryptogram_;
};

// The card in the reader, holding the module's container keys when it has
// an application container.
void UseCard(Bench& bench, const channeltest::ChannelCard& card)
{
    bench.UseCard(card.name);
    if (card.profile == Brelt::MW::Token::SigZepEpProfile)
        bench.Card()->SetApplicationContainerKeys(KeyBytes(smtest::kContainerKey),
                                                  KeyBytes(smtest::kSessionKeyDerivationKey));
    cardsim::InsertCard(bench.Reader(), bench.Card());
}

class ChannelFaults : public ::testing::Test {
protected:
    void SetUp() override { StatusCache::Initialize(); }
    void TearDown() override
    {
        Brelt::MW::Token::ClearApplicationList();
        StatusCache::RemoveAllSlots();
        StatusCache::RemoveAllTokens();
        StatusCache::ClearAuthTable();
        StatusCache::Dispose();
        Brelt::MW::Card::SetApduProtectorLookup(nullptr);
    }
};

TEST_F(ChannelFaults, AppContainerChannel)
{
    Bench bench(kReader);
    UseCard(bench, channeltest::kZep50);
    AppContainerOpening operation(bench);
    Sweep("application-container channel on ZEP50", operation);
}

TEST_F(ChannelFaults, ChipAuthentication)
{
    Bench bench(kReader);
    UseCard(bench, channeltest::kQes50);
    ChipAuthenticationOpening opening(bench, false);
    Sweep("chip authentication on QES50", opening);
    ChipAuthenticationOpening renewal(bench, true);
    Sweep("chip authentication renewed on QES50", renewal);
}

class ChannelCards : public ChannelFaults, public ::testing::WithParamInterface<channeltest::ChannelCard> {};

TEST_P(ChannelCards, SignatureAndDecipheringInsideTheChannel)
{
    Bench bench(kReader);
    UseCard(bench, GetParam());
    SignatureInChannel signature(bench, GetParam());
    Sweep(std::string("signature inside the channel of ") + GetParam().name, signature);
    DecipheringInChannel deciphering(bench, GetParam());
    Sweep(std::string("deciphering inside the channel of ") + GetParam().name, deciphering);
}

INSTANTIATE_TEST_SUITE_P(Cards, ChannelCards, ::testing::Values(channeltest::kZep50, channeltest::kQes50),
                         [](const ::testing::TestParamInfo<channeltest::ChannelCard>& info) { return info.param.name; });

}  // namespace
}  // namespace faults
