// The secure-channel openings, driven directly on the registry, with every
// card command failed once with each kind of fault: the application-container
// channel of a SigZepEp card and the chip authentication of a QesEac card,
// opened afresh and renewed after the card lost it.

#include "FaultSweep.h"

#include "Eme.h"
#include "card/AppContainerChannel.h"
#include "card/ApduTransport.h"
#include "card/CardCommands.h"
#include "card/SecureMessaging.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/Session.h"

namespace faults {
namespace {

using Brelt::MW::Card::StatusCache;

constexpr const char* kReader = "Channel Reader 00";
constexpr CK_SLOT_ID kSlotId = 7;

cardsim::Bytes Bytes(const std::unique_ptr<Brelt::MW::Base::HexBinary>& value)
{
    return value ? cardsim::Bytes(value->data, value->data + value->length) : cardsim::Bytes();
}

// The module's session-key derivation key, as the card must hold it.
cardsim::Bytes DerivationKey()
{
    const Brelt::MW::Base::HexBinary wrapped{std::string(
        "6213E6554777D1A00BCE32E5BCB4A8819AE1E70442EC66CF5216EF905C49763D"
        "C30226F7256A98EF325938B64F6519CC8C35D1B131E023F508B0284BC82149B4"
        "314AF23D9934566F4BAF30B19214D0A8020B6D830A3C47DDDC1E3B83E49381B5"
        "42A51FEC3B58061B823EB29B874AAEA0AD8D129F25C1E83EA06240E3D0425BD0")};
    return Bytes(Brelt::Crypto::OAEP("SHA-256", 1024, "").Decode(&wrapped));
}

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

class ChannelFaults : public ::testing::Test {
protected:
    void SetUp() override { StatusCache::Initialize(); }
    void TearDown() override
    {
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
    bench.UseCard("ZEP50");
    bench.Card()->SetApplicationContainerKeys(Bytes(Brelt::MW::Card::UnwrapAppContainerKey()), DerivationKey());
    cardsim::InsertCard(kReader, bench.Card());
    AppContainerOpening operation(bench);
    Sweep("application-container channel on ZEP50", operation);
}

TEST_F(ChannelFaults, ChipAuthentication)
{
    Bench bench(kReader);
    bench.UseCard("QES50");
    cardsim::InsertCard(kReader, bench.Card());
    ChipAuthenticationOpening opening(bench, false);
    Sweep("chip authentication on QES50", opening);
    ChipAuthenticationOpening renewal(bench, true);
    Sweep("chip authentication renewed on QES50", renewal);
}

}  // namespace
}  // namespace faults
