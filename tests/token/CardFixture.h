#pragma once
// A simulated card in a reader, a slot connected to it, an empty application
// table and a plain trace log the test can read back; Load() registers the
// card's applications the way the reader monitor does.

#include <gtest/gtest.h>

#include <cardsim/Card.h>
#include <cardsim/Readers.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "../base/LogTestSupport.h"
#include "Logger.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "token/ApplicationInfoList.h"
#include "token/CardDetection.h"

namespace token_test {

constexpr const char* kReader = cardsim::kDefaultReaderName;
constexpr CK_SLOT_ID kFirstSlotId = 10;

// Makes plain slots for the loaded applications, noting their texts when asked.
inline Brelt::MW::Token::SlotFactory PlainSlots(std::vector<std::string>* texts = nullptr)
{
    return [texts](const std::string& reader, const std::string& text, CK_SLOT_ID id,
                   Brelt::MW::Card::SlotPtr& out) {
        if (texts != nullptr) texts->push_back(text);
        out = std::make_shared<Brelt::MW::Card::Slot>(id, reader, text);
        return CKR_OK;
    };
}

// A personalisation name as a test-name part.
inline std::string TestName(std::string name)
{
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

class CardFixture : public LogTest {
protected:
    void SetUp() override
    {
        LogTest::SetUp();
        StartPlainLog(4);
        Brelt::MW::Card::StatusCache::Initialize();
        Brelt::MW::Token::ClearApplicationList();
        cardsim::ClearFaults();
    }

    void TearDown() override
    {
        Brelt::MW::Token::ClearApplicationList();
        Brelt::MW::Card::StatusCache::RemoveAllSessions();
        Brelt::MW::Card::StatusCache::RemoveAllSlots();
        Brelt::MW::Card::StatusCache::RemoveAllTokens();
        Brelt::MW::Card::StatusCache::Dispose();
        if (handle_ != 0) SCardDisconnect(handle_, SCARD_LEAVE_CARD);
        if (context_ != 0) SCardReleaseContext(context_);
        cardsim::ClearFaults();
        LogTest::TearDown();
    }

    // Puts the personalisation in the reader and connects the new card's slot.
    void Insert(const std::string& personalisation)
    {
        cardsim::Configure(personalisation + "@" + kReader);
        personalisation_ = personalisation;
        card_ = cardsim::CardIn(kReader);
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_), SCARD_S_SUCCESS);
        DWORD protocol = 0;
        ASSERT_EQ(SCardConnect(context_, kReader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &handle_, &protocol),
                  SCARD_S_SUCCESS);
        slot_ = std::make_shared<Brelt::MW::Card::Slot>(kFirstSlotId, kReader);
        slot_->SetCardHandle(handle_);
        slot_->SetTokenPresent(true);
    }

    // Inserts the card and registers slots for its applications; slot_ is the first.
    void Load(const std::string& personalisation)
    {
        ASSERT_NO_FATAL_FAILURE(Insert(personalisation));
        std::vector<Brelt::MW::Card::SlotPtr> created;
        uint32_t own = 0;
        const auto connected = [handle = handle_](const std::string& reader, const std::string& text, CK_SLOT_ID id,
                                                  Brelt::MW::Card::SlotPtr& out) {
            PlainSlots()(reader, text, id, out);
            out->SetCardHandle(handle);
            out->SetTokenPresent(true);
            return CKR_OK;
        };
        ASSERT_EQ(Brelt::MW::Token::LoadReaderApplications(kReader, slot_.get(), created, &own, connected), CKR_OK);
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

    // VERIFY of the card's user PIN around the module, padded to 8 bytes but
    // on the CardOS 4.3B card.
    void VerifyUserPin()
    {
        const std::string pin = card_->UserPin();
        std::vector<uint8_t> verify{0x00, 0x20, 0x00, 0x01, 0x00};
        verify.insert(verify.end(), pin.begin(), pin.end());
        if (personalisation_.rfind("DEF43B", 0) != 0) verify.resize(13, 0xFF);
        verify[4] = uint8_t(verify.size() - 5);
        ASSERT_EQ(Raw(verify), "90 00");
    }

    // The commands the card got since the last call, as hex text.
    std::vector<std::string> Commands()
    {
        std::vector<std::string> commands;
        for (const auto& entry : cardsim::Transcript(kReader)) commands.push_back(cardsim::ToHex(entry.command));
        cardsim::ClearTranscript(kReader);
        return commands;
    }

    std::string Log()
    {
        CloseLogger();
        const std::string text = ReadFile(LogPath());
        InitLogger();
        return text;
    }

    std::string personalisation_;
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE handle_ = 0;
    std::shared_ptr<cardsim::Card> card_;
    Brelt::MW::Card::SlotPtr slot_;
};

}  // namespace token_test
