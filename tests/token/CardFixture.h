#pragma once
// A simulated card in a reader, a slot connected to it, an empty application
// table and a plain trace log the test can read back.

#include <gtest/gtest.h>

#include <cardsim/Card.h>
#include <cardsim/Readers.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

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

class CardFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        CloseLogger();
        std::string pattern = (std::filesystem::temp_directory_path() / "brelt-token-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        setenv("COPYRIGHT_BRELT_PKCS11_P", (folder_ / "pkcs11.log").c_str(), 1);
        setenv("COPYRIGHT_BRELT_PKCS11_L", "4", 1);
        setenv("COPYRIGHT_BRELT_PKCS11_T", "0", 1);
        InitLogger();
        Brelt::MW::Card::StatusCache::Initialize();
        Brelt::MW::Token::ClearApplicationList();
        cardsim::ClearFaults();
    }

    void TearDown() override
    {
        Brelt::MW::Token::ClearApplicationList();
        Brelt::MW::Card::StatusCache::RemoveAllSlots();
        Brelt::MW::Card::StatusCache::RemoveAllTokens();
        Brelt::MW::Card::StatusCache::Dispose();
        if (card_ != 0) SCardDisconnect(card_, SCARD_LEAVE_CARD);
        if (context_ != 0) SCardReleaseContext(context_);
        cardsim::ClearFaults();
        CloseLogger();
        unsetenv("COPYRIGHT_BRELT_PKCS11_P");
        unsetenv("COPYRIGHT_BRELT_PKCS11_L");
        unsetenv("COPYRIGHT_BRELT_PKCS11_T");
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // Puts the personalisation in the reader and connects the new card's slot.
    void Insert(const std::string& personalisation)
    {
        cardsim::Configure(personalisation + "@" + kReader);
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_), SCARD_S_SUCCESS);
        DWORD protocol = 0;
        ASSERT_EQ(SCardConnect(context_, kReader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card_, &protocol),
                  SCARD_S_SUCCESS);
        slot_ = std::make_shared<Brelt::MW::Card::Slot>(kFirstSlotId, kReader);
        slot_->SetCardHandle(card_);
        slot_->SetTokenPresent(true);
    }

    // Registers the card's slot, as the reader monitor does for a loaded card.
    void Register() { Brelt::MW::Card::StatusCache::AddNewSlot(slot_); }

    std::string Log()
    {
        CloseLogger();
        std::ifstream file(folder_ / "pkcs11.log");
        std::stringstream text;
        text << file.rdbuf();
        InitLogger();
        return text.str();
    }

    std::filesystem::path folder_;
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
    Brelt::MW::Card::SlotPtr slot_;
};

}  // namespace token_test
