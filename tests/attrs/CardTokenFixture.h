#pragma once
// A simulated card in a simulated reader, loaded into the application table
// and the registry the way the reader monitor does it, for the card-level
// token operations.

#include <gtest/gtest.h>

#include <cardsim/Card.h>
#include <cardsim/Readers.h>

#include <memory>
#include <string>
#include <vector>

#include "card/Slot.h"
#include "card/StatusCache.h"
#include "token/ApplicationInfoList.h"
#include "token/CardDetection.h"

namespace attrstest {

class CardTokenTest : public ::testing::Test {
protected:
    static constexpr const char* kReader = "Card Reader 00";
    static constexpr CK_SLOT_ID kFirstSlot = 7;

    void SetUp() override { Brelt::MW::Card::StatusCache::Initialize(); }

    void TearDown() override
    {
        Brelt::MW::Card::StatusCache::RemoveAllSessions();
        Brelt::MW::Card::StatusCache::RemoveAllSlots();
        Brelt::MW::Card::StatusCache::RemoveAllTokens();
        Brelt::MW::Card::StatusCache::Dispose();
        Brelt::MW::Token::ClearApplicationList();
        if (context_ != 0) SCardReleaseContext(context_);
        context_ = 0;
        cardsim::ClearFaults();
        cardsim::RemoveAllReaders();
    }

    // Inserts the card, connects and loads its applications into slots from kFirstSlot on.
    void Load(const std::string& personalisation, cardsim::PinPad pinPad = cardsim::PinPad::None)
    {
        cardsim::RemoveAllReaders();
        cardsim::ClearFaults();
        cardsim::AddReader(kReader, pinPad);
        card_ = cardsim::InsertCard(kReader, personalisation);
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_), SCARD_S_SUCCESS);
        DWORD protocol = 0;
        ASSERT_EQ(SCardConnect(context_, kReader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &handle_, &protocol),
                  SCARD_S_SUCCESS);
        Brelt::MW::Card::Slot probe(kFirstSlot, kReader);
        probe.SetCardHandle(handle_);
        std::vector<Brelt::MW::Card::SlotPtr> created;
        uint32_t own = 0;
        const SCARDHANDLE handle = handle_;
        const auto factory = [handle](const std::string& reader, const std::string& text, CK_SLOT_ID id,
                                      Brelt::MW::Card::SlotPtr& out) {
            out = std::make_shared<Brelt::MW::Card::Slot>(id, reader, reader + "; " + text);
            out->SetCardHandle(handle);
            out->SetTokenPresent(true);
            return CKR_OK;
        };
        ASSERT_EQ(Brelt::MW::Token::LoadReaderApplications(kReader, &probe, created, &own, factory), CKR_OK);
        ASSERT_FALSE(created.empty()) << personalisation;
        for (const auto& slot : created) {
            slot->SetTokenId(Brelt::MW::Card::StatusCache::GetOrCreateToken(handle_));
            Brelt::MW::Card::StatusCache::AddNewSlot(slot);
        }
        slot_ = created.front();
        cardsim::ClearTranscript(kReader);
    }

    // Sends an APDU around the module; the answer as hex text.
    std::string Raw(const std::vector<uint8_t>& command)
    {
        std::vector<uint8_t> answer(0x10008);
        DWORD length = DWORD(answer.size());
        EXPECT_EQ(SCardTransmit(handle_, SCARD_PCI_T1, command.data(), DWORD(command.size()), nullptr, answer.data(),
                                &length),
                  SCARD_S_SUCCESS);
        answer.resize(length);
        return cardsim::ToHex(answer);
    }

    // The commands the card got since the last call, as hex text.
    std::vector<std::string> Commands()
    {
        std::vector<std::string> commands;
        for (const auto& entry : cardsim::Transcript(kReader)) commands.push_back(cardsim::ToHex(entry.command));
        cardsim::ClearTranscript(kReader);
        return commands;
    }

    std::shared_ptr<cardsim::Card> card_;
    Brelt::MW::Card::SlotPtr slot_;
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE handle_ = 0;
};

}  // namespace attrstest
