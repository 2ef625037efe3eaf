#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace simtest;

// Reads a transparent EF the way a host does: 240-byte chunks until 62 82.
Bytes ReadWholeFile(cardsim::Card& card, size_t size)
{
    Bytes content;
    for (size_t offset = 0; offset < size; offset += 240) {
        const Bytes answer = card.Transmit({0x00, 0xB0, uint8_t(offset >> 8), uint8_t(offset), 0xF0});
        const uint16_t sw = Sw(answer);
        EXPECT_TRUE(sw == 0x9000 || sw == 0x6282) << std::hex << sw;
        const Bytes chunk = Data(answer);
        content.insert(content.end(), chunk.begin(), chunk.end());
        if (sw == 0x6282)
            break;
    }
    return content;
}

TEST(CardFileSystem, ReadBinaryChunksAndLimits)
{
    auto card = cardsim::MakePersonalisation("DEF50");
    ASSERT_EQ(Sw(card->Transmit(kSelectPkcs15)), 0x9000);
    const Bytes certificate = *card->FileContents(Hex("5015 4301"));
    ASSERT_GT(certificate.size(), 480u);
    EXPECT_EQ(Sw(card->Transmit(Hex("00 A4 00 0C 02 43 01"))), 0x9000);
    EXPECT_EQ(ReadWholeFile(*card, certificate.size()), certificate);

    const size_t size = certificate.size();
    EXPECT_EQ(card->Transmit({0x00, 0xB0, uint8_t(size >> 8), uint8_t(size), 0xF0}), Hex("6B 00"));
    EXPECT_EQ(card->Transmit(Hex("00 B0 81 00 10")), Hex("6A 82")) << "short EF identifier";
    // Extended Le reads the whole file at once.
    const Bytes whole = card->Transmit(Hex("00 B0 00 00 00 00 00"));
    EXPECT_EQ(Data(whole), certificate);
    EXPECT_EQ(Sw(whole), 0x6282);

    // Record commands on transparent files and the other way round.
    EXPECT_EQ(card->Transmit(Hex("00 B2 00 00 00")), Hex("69 81"));
    EXPECT_EQ(Sw(card->Transmit(Hex("00 A4 02 0C 02 44 01"))), 0x9000);
    EXPECT_EQ(card->Transmit(Hex("00 B0 00 00 F0")), Hex("69 81"));
    // Key containers can be selected but never read.
    EXPECT_EQ(card->Transmit(Hex("00 A4 09 0C 02 4B 01")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 B0 00 00 F0")), Hex("69 82"));

    auto recordDir = cardsim::MakePersonalisation("REC-DIR");
    EXPECT_EQ(Sw(recordDir->Transmit(Hex("00 A4 00 00 02 2F 00 00"))), 0x9000);
    EXPECT_EQ(recordDir->Transmit(Hex("00 B0 00 00 F0")), Hex("69 81"));
}

TEST(CardFileSystem, SelectionRules)
{
    auto card = cardsim::MakePersonalisation("SIGG50");
    // P1 00 searches the current DF, its parent and the parent's children only.
    EXPECT_EQ(card->Transmit(Hex("00 A4 00 0C 02 43 01")), Hex("6A 82"));
    EXPECT_EQ(card->Transmit(Hex("00 A4 00 0C 02 50 15")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 A4 00 0C 02 43 01")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 A4 00 0C 02 45 01")), Hex("90 00")) << "another child after an EF select";
    EXPECT_EQ(card->CurrentEf(), 0x4501);
    EXPECT_EQ(card->Transmit(Hex("00 A4 00 0C 02 DF 01")), Hex("90 00")) << "child of the parent DF";
    EXPECT_EQ(card->CurrentDfPath(), Hex("3F00 DF01"));
    // P1 02 finds only EFs directly under the current DF.
    EXPECT_EQ(card->Transmit(Hex("00 A4 00 0C")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 A4 02 0C 02 50 15")), Hex("6A 82"));
    EXPECT_EQ(card->Transmit(Hex("00 A4 02 0C 02 2F 02")), Hex("90 00"));
    // Paths: P1 08 from the MF (leading 3F00 tolerated), P1 09 from the current DF.
    EXPECT_EQ(card->Transmit(Hex("00 A4 08 0C 04 3F 00 DF 01")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 A4 08 0C 04 50 15 43 02")), Hex("90 00"));
    EXPECT_EQ(card->CurrentDfPath(), Hex("3F00 5015"));
    EXPECT_EQ(card->Transmit(Hex("00 A4 09 0C 02 45 02")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 A4 09 0C 04 3F 00 50 15")), Hex("6A 82"));
    // Malformed: odd path, bad P2, FID of wrong length.
    EXPECT_EQ(card->Transmit(Hex("00 A4 08 0C 03 50 15 43")), Hex("6A 87"));
    EXPECT_EQ(card->Transmit(Hex("00 A4 00 01 02 50 15")), Hex("6A 86"));
    EXPECT_EQ(card->Transmit(Hex("00 A4 02 0C 01 50")), Hex("6A 87"));

    auto strict = cardsim::MakePersonalisation("SIGG50-STRICT");
    EXPECT_EQ(strict->Transmit(Hex("00 A4 08 0C 04 3F 00 DF 01")), Hex("6A 82"));
    EXPECT_EQ(strict->Transmit(Hex("00 A4 08 0C 02 DF 01")), Hex("90 00"));
}

TEST(CardFileSystem, UpdateBinaryHonoursAccessAndSize)
{
    auto card = cardsim::MakePersonalisation("DEF50");
    ASSERT_EQ(Sw(card->Transmit(kSelectPkcs15)), 0x9000);
    ASSERT_EQ(Sw(card->Transmit(Hex("00 A4 00 0C 02 46 01"))), 0x9000);
    EXPECT_EQ(card->Transmit(Hex("00 D6 00 00 02 AA BB")), Hex("69 82"));
    ASSERT_EQ(card->Transmit(kVerifyUserPin), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 D6 00 01 02 AA BB")), Hex("90 00"));
    const Bytes content = *card->FileContents(Hex("5015 4601"));
    EXPECT_EQ(Bytes(content.begin() + 1, content.begin() + 3), Hex("AA BB"));
    const size_t size = content.size();
    EXPECT_EQ(card->Transmit({0x00, 0xD6, 0x00, uint8_t(size - 1), 0x02, 0x01, 0x02}), Hex("6B 00"));
    // Directory files are record EFs: a transparent write is refused.
    ASSERT_EQ(Sw(card->Transmit(Hex("00 A4 00 0C 02 44 04"))), 0x9000);
    EXPECT_EQ(card->Transmit(Hex("00 D6 00 00 01 00")), Hex("69 81"));
}

}  // namespace
