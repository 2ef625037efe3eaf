// The secure channels, driven directly on the registry, with every card
// command failed once with each kind of fault: the application-container
// channel of a SigZepEp card and the chip authentication of a QesEac card,
// opened afresh and renewed after the card lost it, and a signature and a
// deciphering inside each channel.

#include "FaultSweep.h"

#include <botan/pubkey.h>
#include <botan/system_rng.h>

#include "card/ApduTransport.h"
#include "card/CardCommands.h"
#include "card/SecureMessaging.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "tests/sign/ChannelApplication.h"
#include "tests/sm/SmTestSupport.h"

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

// Opening the card's channel: mutual authentication with the application
// container's key, or chip authentication from EF.CardSecurity; renewed: the
// channel is opened first and the card then loses it, so the kept file renews it.
class ChannelOpening final : public ChannelOperation {
public:
    enum Kind { AppContainer, ChipAuthentication, RenewedChipAuthentication };
    ChannelOpening(Bench& bench, Kind kind) : ChannelOperation(bench), kind_(kind) {}
    void Reset() override
    {
        StatusCache::RemoveCardAuth(slot_->CardHandle(), true);
        if (kind_ != RenewedChipAuthentication) return;
        EXPECT_TRUE(StatusCache::CreateSecureMessaging(slot_.get(), &session_));
        bench_.Card()->Reset();
    }
    Outcome Run() override
    {
        const auto channel = kind_ == AppContainer ? StatusCache::EstablishAuthContext(session_)
                                                   : StatusCache::CreateSecureMessaging(slot_.get(), &session_);
        CloseFaultWindow();
        CallResult call{kind_ == AppContainer ? "application-container channel" : "chip-authentication channel",
                        "card", channel ? CKR_OK : CKR_FUNCTION_FAILED};
        if (channel) call.output = Works(*channel) ? "works" : "opened, but its commands fail";
        return {call};
    }

private:
    const Kind kind_;
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
    std::unique_ptr<Botan::Public_Key> CertificateKey(uint8_t index) const
    {
        return channeltest::CertificateKey(*bench_.Card(), card_.df, index);
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
        const cardsim::Bytes data = channeltest::DigestInfo();
        cardsim::Bytes signature;
        CallResult call{"signature", "card", channeltest::SignInChannel(session_, application_, channel, data, signature)};
        call.output = Hex(signature);
        // Under secure messaging a changed answer must fail its check.
        call.checked = true;
        const auto key = CertificateKey(1);
        if (call.rv == CKR_OK && signature.size() != (key->key_length() + 7) / 8)
            call.problem = std::to_string(signature.size()) + "-byte signature";
        else if (call.rv == CKR_OK && !Botan::PK_Verifier(*key, "EMSA3(Raw)").verify_message(data, signature))
            call.problem = "signature does not verify";
        return {{"channel", "card", CKR_OK}, call};
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
            cryptogram_ = encryptor.encrypt(cardsim::Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                                            Botan::system_rng());
        }
    }
    Outcome Run() override
    {
        if (!Channel()) return {{"channel", "card", CKR_FUNCTION_FAILED}};
        cardsim::Bytes plain;
        CallResult call{"deciphering", "C_Decrypt",
                        channeltest::Decipher(session_, {CKM_RSA_PKCS, nullptr, 0}, cryptogram_, plain)};
        call.output = Hex(plain);
        call.checked = true;
        return {{"channel", "card", CKR_OK}, call};
    }

private:
    std::vector<uint8_t> cryptogram_;
};

void UseCard(Bench& bench, const channeltest::ChannelCard& card)
{
    bench.UseCard(CardWithModuleKeys(card.name));
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
    ChannelOpening operation(bench, ChannelOpening::AppContainer);
    Sweep("application-container channel on ZEP50", operation);
}

TEST_F(ChannelFaults, ChipAuthentication)
{
    Bench bench(kReader);
    UseCard(bench, channeltest::kQes50);
    ChannelOpening opening(bench, ChannelOpening::ChipAuthentication);
    Sweep("chip authentication on QES50", opening);
    ChannelOpening renewal(bench, ChannelOpening::RenewedChipAuthentication);
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
