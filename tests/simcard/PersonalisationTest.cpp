#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>

namespace {

using namespace simtest;

Bytes Record(uint8_t number, const std::string& hex)
{
    return Cat({0x00, number}, Hex(hex));
}

TEST(Personalisations, EveryNameBuildsACardWithAPlausibleAtr)
{
    const auto names = cardsim::PersonalisationNames();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        auto card = cardsim::MakePersonalisation(name);
        EXPECT_EQ(card->Name(), name);
        const Bytes atr = card->Atr();
        ASSERT_GE(atr.size(), 4u);
        EXPECT_EQ(atr[0], 0x3B);
        uint8_t tck = 0;
        for (size_t i = 1; i < atr.size(); ++i)
            tck ^= atr[i];
        EXPECT_EQ(tck, 0) << "check byte";
        EXPECT_LE(atr.size(), name == "LONG-ATR" ? 33u : 32u);
        if (name == "LONG-ATR") {
            EXPECT_EQ(atr.size(), 33u);
        }
        const uint16_t selectMf = Sw(card->Transmit(Hex("00 A4 00 0C")));
        EXPECT_EQ(selectMf, name == "MUTE" ? 0x6F00 : 0x9000);
    }
    EXPECT_THROW(cardsim::MakePersonalisation("NO-SUCH-CARD"), std::invalid_argument);
}

TEST(Personalisations, AtrAndVersionIdentifyTheCardOs)
{
    const std::pair<const char*, const char*> expected[] = {
        {"DEF43B", "3B D2 18 00 81 31 FE 58 C8 08 1C"},
        {"DEF44", "3B D2 18 00 81 31 FE 58 C8 0D 19"},
        {"DEF50", "3B D2 18 00 81 31 FE 58 C9 01 14"},
    };
    for (const auto& [name, atr] : expected) {
        auto card = cardsim::MakePersonalisation(name);
        EXPECT_EQ(card->Atr(), Hex(atr)) << name;
        // Sent without Le, the version still comes back: the two historical bytes.
        const Bytes atrBytes = card->Atr();
        const Bytes version(atrBytes.begin() + 8, atrBytes.begin() + 10);
        EXPECT_EQ(card->Transmit(Hex("00 CA 01 82")), Cat(version, {0x90, 0x00})) << name;
    }
    auto unknown = cardsim::MakePersonalisation("UNK-OS");
    EXPECT_EQ(unknown->Transmit(Hex("00 CA 01 82")), Hex("01 02 03 90 00"));
    EXPECT_EQ(cardsim::MakePersonalisation("UNK-OS-6A88")->Transmit(Hex("00 CA 01 82 00")), Hex("6A 88"));
}

TEST(Personalisations, GetDataObjectsPerCardOs)
{
    auto v50 = cardsim::MakePersonalisation("DEF50");
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 81 00")), Hex("12 34 56 78 9A BC DE F0 90 00"));
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 80 00")), Hex("6A 88"));
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 89 00")), Hex("00 00 00 80 05 00 90 00"));
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 8A 00")), Hex("7D 00 90 00"));
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 83 00")), Hex("24 90 00"));
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 8E 00")), Hex("00 90 00"));
    // The APDU buffer size that PC/SC middleware reads before anything else.
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 8D 02")), Hex("02 80 90 00"));
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 84 00")), Hex("90 00"));
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 99 00")), Hex("6A 88"));

    auto v44 = cardsim::MakePersonalisation("DEF44");
    const Bytes product = Data(v44->Transmit(Hex("00 CA 01 80 00")));
    EXPECT_EQ(std::string(product.begin(), product.end()), "CardOS V4.4 (C) Emulator");
    EXPECT_EQ(Data(v44->Transmit(Hex("00 CA 01 81 00"))).size(), 16u);
    EXPECT_EQ(v44->Transmit(Hex("00 CA 01 89 00")), Hex("00 00 00 40 04 04 90 00"));

    // The strict variant answers a case-1 GET DATA without data.
    auto strict = cardsim::MakePersonalisation("DEF44-STRICT");
    EXPECT_EQ(strict->Transmit(Hex("00 CA 01 82")), Hex("90 00"));
    EXPECT_EQ(strict->Transmit(Hex("00 CA 01 82 00")), Hex("C8 0D 90 00"));
}

// The PKCS#15 files are written with a DER encoder; they must come out as the
// byte strings the module's reader was designed against.
TEST(Personalisations, DefaultLayoutFilesHaveTheAgreedEncoding)
{
    auto card = cardsim::MakePersonalisation("DEF50");
    EXPECT_EQ(*card->FileContents(Hex("2F00")),
              Hex("61 26 4F 0C A0 00 00 00 63 50 4B 43 53 2D 31 35 50 10 50 4B 43 53 23 31 35 20 65 6D 75 6C"
                  "61 74 65 64 51 04 3F 00 50 15"));
    EXPECT_EQ(*card->FileContents(Hex("3F00 5015 5032")),
              Hex("30 4E 02 01 00 04 08 00 00 00 00 00 00 00 01 0C 0F 45 6D 75 6C 61 74 65 64 20 43 61 72 64 4F 53"
                  "80 0F 45 6D 75 20 44 65 66 61 75 6C 74 20 35 2E 30 03 02 05 60"
                  "A2 19 30 17 02 01 00 02 01 01 05 00 03 02 02 44 06 09 2A 86 48 86 F7 0D 01 01 01"));
    EXPECT_EQ(*card->FileContents(Hex("5015 5031")),
              Hex("A8 06 30 04 04 02 44 01 A0 06 30 04 04 02 44 02 A1 06 30 04 04 02 44 03"
                  "A4 06 30 04 04 02 44 04 A7 06 30 04 04 02 44 05"));
    const std::vector<Bytes> aodf{
        Record(1, "30 2C 30 09 0C 03 50 55 4B 03 02 06 40 30 03 04 01 02"
                  "A1 1A 30 18 03 02 01 0E 0A 01 01 02 01 08 02 01 08 02 01 08 A0 03 02 01 02 04 01 FF"),
        Record(2, "30 2C 30 09 0C 03 50 49 4E 03 02 06 40 30 03 04 01 01"
                  "A1 1A 30 18 03 02 02 0C 0A 01 01 02 01 04 02 01 08 02 01 08 A0 03 02 01 01 04 01 FF")};
    EXPECT_EQ(*card->Records(Hex("5015 4401")), aodf);
    const std::vector<Bytes> prkdf{
        Record(1, "30 3E 30 16 0C 0D 53 69 67 6E 61 74 75 72 65 20 6B 65 79 03 02 06 C0 04 01 01"
                  "30 16 04 01 01 03 03 06 20 40 03 02 03 B8 02 01 01 A1 05 30 03 02 01 00"
                  "A1 0C 30 0A 30 04 04 02 4B 01 02 02 08 00"),
        Record(2, "30 42 30 1B 0C 12 41 75 74 68 65 6E 74 69 63 61 74 69 6F 6E 20 6B 65 79 03 02 06 C0 04 01 01"
                  "30 15 04 01 02 03 02 02 64 03 02 03 B8 02 01 02 A1 05 30 03 02 01 00"
                  "A1 0C 30 0A 30 04 04 02 4B 02 02 02 08 00")};
    EXPECT_EQ(*card->Records(Hex("5015 4402")), prkdf);
    const std::vector<Bytes> pukdf{
        Record(1, "30 34 30 1A 0C 14 53 69 67 6E 61 74 75 72 65 20 70 75 62 6C 69 63 20 6B 65 79 03 02 06 40"
                  "30 08 04 01 01 03 03 06 02 40 A1 0C 30 0A 30 04 04 02 45 01 02 02 08 00"),
        Record(2, "30 38 30 1F 0C 19 41 75 74 68 65 6E 74 69 63 61 74 69 6F 6E 20 70 75 62 6C 69 63 20 6B 65 79"
                  "03 02 06 40 30 07 04 01 02 03 02 01 82 A1 0C 30 0A 30 04 04 02 45 02 02 02 08 00")};
    EXPECT_EQ(*card->Records(Hex("5015 4403")), pukdf);
    const std::vector<Bytes> cdf{
        Record(1, "30 2C 30 1B 0C 15 53 69 67 6E 61 74 75 72 65 20 63 65 72 74 69 66 69 63 61 74 65 03 02 06 40"
                  "30 03 04 01 01 A1 08 30 06 30 04 04 02 43 01"),
        Record(2, "30 31 30 20 0C 1A 41 75 74 68 65 6E 74 69 63 61 74 69 6F 6E 20 63 65 72 74 69 66 69 63 61 74 65"
                  "03 02 06 40 30 03 04 01 02 A1 08 30 06 30 04 04 02 43 02")};
    EXPECT_EQ(*card->Records(Hex("5015 4404")), cdf);
    const std::vector<Bytes> dodf{
        Record(1, "30 27 30 0F 0C 09 43 61 72 64 20 64 61 74 61 03 02 06 40 30 0A 0C 08 45 6D 75 6C 61 74 6F 72"
                  "A1 08 30 06 30 04 04 02 46 01")};
    EXPECT_EQ(*card->Records(Hex("5015 4405")), dodf);
}

TEST(Personalisations, VariantsChangeTheirEntries)
{
    auto v43 = cardsim::MakePersonalisation("DEF43B");
    EXPECT_FALSE(v43->FileContents(Hex("2F00")));
    EXPECT_EQ((*v43->Records(Hex("5015 4401")))[1],
              Record(2, "30 29 30 09 0C 03 50 49 4E 03 02 06 40 30 03 04 01 01 A1 17 30 15 03 02 03 08 0A 01 01"
                        "02 01 04 02 01 08 02 01 08 A0 03 02 01 01"));
    EXPECT_EQ(v43->UserPin(), "123456");

    auto sigg = cardsim::MakePersonalisation("SIGG50");
    EXPECT_EQ((*sigg->Records(Hex("5015 4402")))[0],
              Record(1, "30 45 30 1B 0C 12 53 69 67 47 20 73 69 67 6E 61 74 75 72 65 20 6B 65 79 03 02 06 C0 04 01 01"
                        "30 16 04 01 01 03 03 06 20 40 03 02 03 B8 02 01 01 A1 05 30 03 02 01 00"
                        "A1 0E 30 0C 30 06 04 04 3F 00 DF 01 02 02 08 00"));
    EXPECT_TRUE(sigg->FileContents(Hex("2F02")));
    EXPECT_NE(sigg->Key(Hex("DF01"), 1), nullptr);
    EXPECT_NE(sigg->Key(Hex("DF02"), 2), nullptr);

    auto uc = cardsim::MakePersonalisation("DEF50-UC");
    const Bytes ucKey = (*uc->Records(Hex("5015 4402")))[0];
    const Bytes consent = Hex("04 01 01 02 01 01");  // authId 01, userConsent 1
    EXPECT_NE(std::search(ucKey.begin(), ucKey.end(), consent.begin(), consent.end()), ucKey.end());

    auto threeK = cardsim::MakePersonalisation("DEF50-3K");
    const Bytes bigKey = (*threeK->Records(Hex("5015 4402")))[0];
    EXPECT_EQ(Bytes(bigKey.end() - 4, bigKey.end()), Hex("02 02 0C 00"));

    auto qes = cardsim::MakePersonalisation("QES50");
    EXPECT_EQ(*qes->FileContents(Hex("2F00")), Hex("61 13 4F 0A A0 00 00 01 67 45 53 49 47 4E 50 05 45 53 49 47 4E"));
    auto zep = cardsim::MakePersonalisation("ZEP44");
    EXPECT_EQ(zep->Transmit(Hex("00 A4 04 0C 08 D7 03 00 00 11 00 00 01")), Hex("90 00"));
    EXPECT_EQ(zep->Transmit(Hex("00 A4 04 0C 08 D7 03 00 00 11 00 00 02")), Hex("90 00"));
    EXPECT_EQ(zep->Transmit(kSelectPkcs15), Hex("6A 82"));
}

}  // namespace
