// Card detection and application loading on the simulated personalisations:
// what is loaded equals what the card holds; refused and faulty cards load
// nothing.

#include <gtest/gtest.h>

#include <map>

#include "CardFixture.h"
#include "DerBuild.h"
#include "token/CardDetection.h"
#include "token/CiaFileReaders.h"

using namespace Brelt::MW::Token;
using namespace token_test;
using Brelt::MW::Base::HexBinary;
using Brelt::MW::Card::SlotPtr;

namespace {

struct Outcome {
    CK_RV rv = CKR_OK;
    std::vector<SlotPtr> slots;
    uint32_t own = 7;
};

class CardLoading : public CardFixture {
protected:
    Outcome Load(const SlotFactory& factory = PlainSlots())
    {
        Outcome outcome;
        outcome.rv = LoadReaderApplications(kReader, slot_.get(), outcome.slots, &outcome.own, factory);
        return outcome;
    }

    // A fresh fixture with the personalisation in the reader.
    void Reinsert(const std::string& personalisation)
    {
        TearDown();
        SetUp();
        Insert(personalisation);
    }

    // Every directory-file entry on the card, keyed by file id.
    std::map<std::string, std::vector<testder::Der>> CardEntries(const std::shared_ptr<cardsim::Card>& card)
    {
        std::map<std::string, std::vector<testder::Der>> entries;
        for (const char* file : {"4401", "4402", "4403", "4404", "4405"}) {
            const auto records = card->Records(testder::Hex(std::string("3F005015") + file));
            if (!records) continue;
            for (const auto& record : *records) entries[file].emplace_back(record.begin() + 2, record.end());
        }
        return entries;
    }
};

struct Admitted {
    const char* name;
    uint32_t os;
    uint32_t profile;
};

}  // namespace

TEST_F(CardLoading, AdmittedCardsLoadWhatTheCardHolds)
{
    const Admitted cards[] = {
        {"DEF50", CardOSv50, DefaultProfile}, {"DEF44", CardOSv44, DefaultProfile},
        {"DEF43B", CardOSv43, DefaultProfile}, {"SIGG50", CardOSv50, SigGProfile},
        {"SIGG44", CardOSv44, SigGProfile},    {"DEF50-KREF81", CardOSv50, DefaultProfile},
        {"UNK-OS", CardOSv50, DefaultProfile}, {"X509-ONLY44", CardOSv44, DefaultProfile},
    };
    for (const Admitted& expected : cards) {
        SCOPED_TRACE(expected.name);
        Reinsert(expected.name);
        std::vector<std::string> texts;
        const Outcome outcome = Load(PlainSlots(&texts));
        ASSERT_EQ(outcome.rv, CKR_OK);
        EXPECT_EQ(outcome.own, 1u);
        ASSERT_EQ(outcome.slots.size(), 1u);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].rfind(std::string(kReader) + "; Emu ", 0), 0u) << texts[0];

        ApplicationInfoPtr application;
        ASSERT_EQ(GetApplicationInfo(kFirstSlotId, application), CKR_OK);
        ASSERT_NE(application, nullptr);
        EXPECT_EQ(application->CardOS, expected.os);
        EXPECT_EQ(application->Profile, expected.profile);
        EXPECT_EQ(application->CiaLoaded, 1u);
        EXPECT_EQ(application->Aid->ToString(), "A000000063504B43532D3135");
        EXPECT_TRUE(application->IasAid->Equals(application->Aid.get()));
        EXPECT_EQ(application->Fid->ToString(), "5015");

        // Each entry of the card is one object, in card order, written back as it stands
        // (the whole files with 00 appended: the card-object tests).
        const auto onCard = CardEntries(cardsim::CardIn(kReader));
        std::map<std::string, std::vector<testder::Der>> loaded;
        for (const auto& list : application->ObjectLists) {
            ASSERT_NE(list->path, nullptr);
            const std::string file = list->path->ToString().substr(list->path->length * 2 - 4);
            for (const auto& object : list->objects) {
                EXPECT_EQ(object->handle >> 16, list->kind);
                loaded[file].push_back(testder::FromHex(object->OriginalEntry()));
            }
        }
        EXPECT_EQ(loaded, onCard);
    }
}

// Refused cards load nothing and say why in the log; faulty ones fail.
TEST_F(CardLoading, RefusedAndFaultyCardsLoadNothing)
{
    const char* unsupported = "Card profile has not been detected, the card is unsupported";
    const struct {
        const char* name;
        CK_RV rv;
        const char* message;
    } cards[] = {
        {"ZEP50", CKR_OK, "Card is unsupported!!!"},
        {"QES50", CKR_OK, "Card is unsupported!!!"},
        {"ZEP44", CKR_OK, unsupported},
        {"QES44", CKR_OK, unsupported},
        {"NO-P15", CKR_OK, "No application found"},
        {"NO-83", CKR_OK, "GetApplicationFID failed, result = CKR_ARGUMENTS_BAD"},
        {"NO-83-EMPTY", CKR_OK, "No application found"},
        {"MUTE", CKR_FUNCTION_FAILED, nullptr},
        {"BAD-CIA", CKR_ARGUMENTS_BAD, nullptr},
        {"BAD-CIA-MISSING", CKR_FUNCTION_FAILED, nullptr},
        {"BAD-ODF", CKR_FUNCTION_FAILED, nullptr},
        {"REC-DIR", CKR_FUNCTION_FAILED, nullptr},
    };
    for (const auto& card : cards) {
        SCOPED_TRACE(card.name);
        Reinsert(card.name);
        const Outcome outcome = Load();
        EXPECT_EQ(outcome.rv, card.rv);
        if (card.rv == CKR_OK) EXPECT_EQ(outcome.own, 0u);
        EXPECT_TRUE(outcome.slots.empty());
        EXPECT_TRUE(GlobalApplicationList().empty());
        if (card.message != nullptr) EXPECT_NE(Log().find(card.message), std::string::npos);
    }
}

// Only the card's own answer says that an application or a file is not
// there: a fault in the exchange fails the load, so that the monitor reads
// the card again instead of giving it up or loading it as another profile.
TEST_F(CardLoading, CardsThatGiveNoRealAnswerAreReadAgain)
{
    struct Row {
        const char* card;
        cardsim::Fault fault;
    };
    const Row rows[] = {
        {"DEF50", cardsim::Fault::StatusWordFor(testder::Hex("00A40400"), 0x6F, 0x00)},  // PKCS#15 application
        {"DEF50", cardsim::Fault::AnswerWith(testder::Hex("00A40400"), {0x6A})},
        {"SIGG50", cardsim::Fault::StatusWordFor(testder::Hex("00A4020C022F02"), 0x6F, 0x00)},  // SigG marker
        {"DEF44", cardsim::Fault::StatusWordFor(testder::Hex("00A40800022F00"), 0x65, 0x81)},  // EF.DIR
        {"DEF44", cardsim::Fault::OversizedAnswer(1, testder::Hex("00B0"))},  // its READ BINARY
        {"DEF50", cardsim::Fault::OversizedAnswer(1, testder::Hex("00B2"))},  // a directory file's record
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.card) + " " + cardsim::ToHex(row.fault.commandPrefix));
        Reinsert(row.card);
        cardsim::InjectFault(kReader, row.fault);
        const Outcome outcome = Load();
        EXPECT_TRUE(outcome.rv == CKR_FUNCTION_FAILED || outcome.rv == CKR_DEVICE_ERROR) << outcome.rv;
        EXPECT_TRUE(outcome.slots.empty());
        EXPECT_TRUE(GlobalApplicationList().empty());
    }
}

TEST_F(CardLoading, CardThatNeverEndsItsRecordsIsRefused)
{
    Insert("DEF50");
    // Every READ RECORD (next) is answered with one more record.
    cardsim::Fault fault = cardsim::Fault::AnswerWith({0x00, 0xB2, 0x00, 0x02}, testder::Hex("0001300080009000"));
    fault.everyTime = true;
    cardsim::InjectFault(kReader, fault);
    const Outcome outcome = Load();
    EXPECT_EQ(outcome.rv, CKR_FUNCTION_FAILED);
    EXPECT_TRUE(GlobalApplicationList().empty());
    size_t nextRecordReads = 0;
    for (const auto& entry : cardsim::Transcript(kReader))
        if (entry.command.size() >= 4 && entry.command[1] == 0xB2 && entry.command[3] == 0x02) ++nextRecordReads;
    EXPECT_EQ(nextRecordReads, kMaxRecordCount);
}

TEST_F(CardLoading, RecordWithoutItsPrefixRefusesTheFile)
{
    Insert("DEF50");
    const auto aodf = cardsim::CardIn(kReader)->Records(testder::Hex("3F0050154401"));
    ASSERT_TRUE(aodf && !aodf->empty());
    // The entry alone: without the prefix, the first two bytes read are the entry's own header.
    testder::Der bare((*aodf)[0].begin() + 2, (*aodf)[0].end());
    for (uint8_t b : testder::Hex("9000")) bare.push_back(b);
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith({0x00, 0xB2, 0x00, 0x00}, bare));
    const Outcome outcome = Load();
    EXPECT_EQ(outcome.rv, CKR_ARGUMENTS_BAD);
    EXPECT_TRUE(outcome.slots.empty());
    EXPECT_TRUE(GlobalApplicationList().empty());
}
