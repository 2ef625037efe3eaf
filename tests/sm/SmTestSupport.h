#pragma once
// Simulated-card helpers shared by the secure-channel tests.

#include <cardsim/Icc.h>
#include <cardsim/Personalisations.h>

#include <functional>
#include <memory>
#include <string>

#include "BaseTypes.h"
#include "card/ApduTransport.h"
#include "card/CardApplications.h"
#include "card/CardCommands.h"
#include "card/StatusCache.h"
#include "pkcs11/Session.h"
#include "tests/card/SimulatedReader.h"
#include "tests/sm/ChannelKeyValues.h"

// Forwards to a card and lets the test change its answers.
class TamperingIcc final : public cardsim::Icc {
public:
    using Tamper = std::function<cardsim::Bytes(const cardsim::Bytes& command, cardsim::Bytes answer)>;
    TamperingIcc(std::shared_ptr<cardsim::Icc> inner, Tamper tamper) : inner_(std::move(inner)), tamper_(std::move(tamper)) {}
    cardsim::Bytes Atr() const override { return inner_->Atr(); }
    void Reset() override { inner_->Reset(); }
    cardsim::Bytes Transmit(const cardsim::Bytes& apdu) override { return tamper_(apdu, inner_->Transmit(apdu)); }

private:
    std::shared_ptr<cardsim::Icc> inner_;
    Tamper tamper_;
};

inline std::string NoSpaces(std::string text)
{
    std::erase(text, ' ');
    return text;
}

// Edits the card's answers to commands with the given INS.
inline TamperingIcc::Tamper OnIns(uint8_t ins, std::function<void(cardsim::Bytes&)> edit)
{
    return [ins, edit](const cardsim::Bytes& command, cardsim::Bytes answer) {
        if (command.size() > 1 && command[1] == ins) edit(answer);
        return answer;
    };
}

// Reads a transparent file through the module's card commands.
inline CK_RV ReadCardFile(CK_ULONG* status, const Brelt::MW::Card::Slot* slot, uint8_t high, uint8_t low,
                          cardsim::Bytes* contents = nullptr)
{
    uint8_t buffer[2048] = {};
    uint32_t length = sizeof buffer;
    const uint8_t fid[] = {high, low};
    const CK_RV rv = Brelt::MW::Card::ReadBinary(status, slot, fid, 2, buffer, &length);
    if (contents) contents->assign(buffer, buffer + (rv == CKR_OK ? length : 0));
    return rv;
}

// Key bytes from hex text.
inline cardsim::Bytes KeyBytes(const char* hex)
{
    const Brelt::MW::Base::HexBinary key{std::string(hex)};
    return cardsim::Bytes(key.data, key.data + key.length);
}

// A card of the personalisation; one with an application container (ZEP)
// holds the module's container keys.
inline std::shared_ptr<cardsim::Card> CardWithModuleKeys(const std::string& personalisation)
{
    auto card = cardsim::MakePersonalisation(personalisation);
    if (personalisation.rfind("ZEP", 0) == 0)
        card->SetApplicationContainerKeys(KeyBytes(smtest::kContainerKey), KeyBytes(smtest::kSessionKeyDerivationKey));
    return card;
}

// The registry around the simulated reader: the card becomes slot 7, and
// everything the registry, SendApdu and the application layer were given is
// dropped after each test.
class RegisteredCardTest : public SimulatedReaderTest {
protected:
    static constexpr CK_SLOT_ID kSlotId = 7;

    void SetUp() override { Brelt::MW::Card::StatusCache::Initialize(); }
    void TearDown() override
    {
        using Brelt::MW::Card::StatusCache;
        StatusCache::RemoveAllSlots();
        StatusCache::ClearAuthTable();
        StatusCache::Dispose();
        Brelt::MW::Card::SetApduProtectorLookup(nullptr);
        Brelt::MW::Card::InstallCardApplications(nullptr);
        SimulatedReaderTest::TearDown();
    }

    Brelt::MW::Card::SlotPtr RegisterSlot()
    {
        using Brelt::MW::Card::StatusCache;
        auto slot = std::make_shared<Brelt::MW::Card::Slot>(kSlotId, kReader);
        slot->SetCardHandle(handle_);
        slot->SetTokenPresent(true);
        slot->SetTokenId(StatusCache::GetOrCreateToken(handle_));
        StatusCache::AddNewSlot(slot);
        return slot;
    }

    Brelt::MW::Pkcs11::Session session_{kSlotId, CKF_SERIAL_SESSION};
};
