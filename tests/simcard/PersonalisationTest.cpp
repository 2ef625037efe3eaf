#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>

namespace {

using namespace simtest;

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
    // The APDU buffer size that PC/SC middleware reads before anything else.
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 8D 02")), Hex("02 80 90 00"));
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 84 00")), Hex("90 00"));
    EXPECT_EQ(v50->Transmit(Hex("00 CA 01 99 00")), Hex("6A 88"));

    auto v44 = cardsim::MakePersonalisation("DEF44");
    const Bytes product = Data(v44->Transmit(Hex("00 CA 01 80 00")));
    EXPECT_EQ(std::string(product.begin(), product.end()), "CardOS V4.4 (C) Emulator");
    EXPECT_EQ(Data(v44->Transmit(Hex("00 CA 01 81 00"))).size(), 16u);

    // The strict variant answers a case-1 GET DATA without data.
    auto strict = cardsim::MakePersonalisation("DEF44-STRICT");
    EXPECT_EQ(strict->Transmit(Hex("00 CA 01 82")), Hex("90 00"));
    EXPECT_EQ(strict->Transmit(Hex("00 CA 01 82 00")), Hex("C8 0D 90 00"));
}

TEST(Personalisations, VariantsChangeTheirEntries)
{
    auto v43 = cardsim::MakePersonalisation("DEF43B");
    EXPECT_FALSE(v43->FileContents(Hex("2F00")));
    const Bytes pin43 = (*v43->Records(Hex("5015 4401")))[1];
    EXPECT_EQ(Bytes(pin43.end() - 5, pin43.end()), Hex("A0 03 02 01 01")) << "no padding character";
    EXPECT_EQ(v43->UserPin(), "123456");

    auto sigg = cardsim::MakePersonalisation("SIGG50");
    const Bytes siggKey = (*sigg->Records(Hex("5015 4402")))[0];
    const Bytes siggPath = Hex("04 04 3F 00 DF 01");
    EXPECT_NE(std::search(siggKey.begin(), siggKey.end(), siggPath.begin(), siggPath.end()), siggKey.end());
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
