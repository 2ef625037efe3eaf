#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "SimulatedReader.h"
#include "card/CardCommands.h"

using namespace Brelt::MW::Card;
using Brelt::MW::Base::HexBinary;
using cardsim::Fault;

namespace {

class CardCommandsTest : public SimulatedReaderTest {
protected:
    // Creates a transparent EF `fid` of `size` bytes in the MF, filled with
    // WriteBinary, and returns its contents.
    std::vector<uint8_t> CreateFile(uint16_t fid, uint16_t size)
    {
        EXPECT_EQ(SelectMF(&slot_), CKR_OK);
        const cardsim::Bytes fcp = {0x62, 0x0B, 0x80, 0x02, uint8_t(size >> 8), uint8_t(size), 0x82, 0x01, 0x01,
                                    0x83, 0x02, uint8_t(fid >> 8), uint8_t(fid)};
        cardsim::Bytes create = {0x00, 0xE0, 0x00, 0x00, uint8_t(fcp.size())};
        create.insert(create.end(), fcp.begin(), fcp.end());
        EXPECT_EQ(Raw(create), "90 00");
        std::vector<uint8_t> contents(size);
        if (size <= 0x7FFF) {  // larger files stay zero: writes cannot reach their end
            std::iota(contents.begin(), contents.end(), uint8_t(fid));
            const uint8_t path[] = {uint8_t(fid >> 8), uint8_t(fid)};
            EXPECT_EQ(WriteBinary(&lastStatus_, &slot_, path, 2, contents.data(), size, 0), CKR_OK);
        }
        Commands();
        return contents;
    }

    CK_RV Read(uint16_t fid, std::vector<uint8_t>& buffer, uint32_t* length)
    {
        const uint8_t path[] = {uint8_t(fid >> 8), uint8_t(fid)};
        return ReadBinaryInCDF(&slot_, path, 2, buffer.data(), length, &lastStatus_, kSelectByPathFromMf);
    }

    // Offsets (P1 P2) of the READ BINARY commands sent since the last call.
    std::vector<std::string> ReadOffsets()
    {
        std::vector<std::string> offsets;
        for (const std::string& command : Commands())
            if (command.rfind("00 B0", 0) == 0) offsets.push_back(command.substr(6, 5));
        return offsets;
    }

    CK_ULONG lastStatus_ = 0;
};

}  // namespace

TEST_F(CardCommandsTest, ChunkedReadsOfFilesOfEverySize)
{
    Insert("DEF50");
    struct Case {
        uint16_t fid, size;
        std::vector<std::string> offsets;
    };
    const Case cases[] = {
        {0x5F00, 0, {}},
        {0x5F01, 1, {"00 00"}},
        {0x5F02, 240, {"00 00"}},
        {0x5F03, 241, {"00 00", "00 F0"}},
        {0x5F04, 4000, {}},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> contents = CreateFile(c.fid, c.size);
        std::vector<uint8_t> buffer(65535, 0xEE);
        uint32_t length = uint32_t(buffer.size());
        ASSERT_EQ(Read(c.fid, buffer, &length), CKR_OK) << c.size;
        EXPECT_EQ(length, c.size);
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + length), contents);
        EXPECT_EQ(buffer[length], 0xEE);
        const std::vector<std::string> offsets = ReadOffsets();
        if (c.size == 4000) {
            ASSERT_EQ(offsets.size(), 17u);
            EXPECT_EQ(offsets.back(), "0F 00");
        } else {
            EXPECT_EQ(offsets, c.offsets);
        }
    }
}

TEST_F(CardCommandsTest, ReadsEndOnBadOrMissingAnswers)
{
    Insert("DEF50");
    CreateFile(0x5F10, 500);
    std::vector<uint8_t> buffer(1000);
    uint32_t length = 1000;

    cardsim::InjectFault(kReader, Fault::StatusWordFor(Hex("00B000F0"), 0x69, 0x82));
    EXPECT_EQ(Read(0x5F10, buffer, &length), CKR_FUNCTION_FAILED);
    EXPECT_EQ(lastStatus_, 0x6982u);

    length = 1000;
    cardsim::InjectFault(kReader, Fault::TransmitError(SCARD_F_COMM_ERROR, 2));
    EXPECT_EQ(Read(0x5F10, buffer, &length), CKR_FUNCTION_FAILED);
    EXPECT_EQ(lastStatus_, 0u);

    // 9000 without data would never advance the offset.
    length = 1000;
    cardsim::InjectFault(kReader, Fault::AnswerWith(Hex("00B000F0"), Hex("9000")));
    EXPECT_EQ(Read(0x5F10, buffer, &length), CKR_FUNCTION_FAILED);

    // So does a chunk longer than asked for, even one that says end of file.
    length = 1000;
    cardsim::Bytes longChunk(241, 0x41);
    longChunk.insert(longChunk.end(), {0x62, 0x82});
    cardsim::InjectFault(kReader, Fault::AnswerWith(Hex("00B000F0"), longChunk));
    EXPECT_EQ(Read(0x5F10, buffer, &length), CKR_FUNCTION_FAILED);

    // An early end-of-file answer ends the read with what was read.
    length = 1000;
    cardsim::InjectFault(kReader, Fault::AnswerWith(Hex("00B000F0"), Hex("6282")));
    EXPECT_EQ(Read(0x5F10, buffer, &length), CKR_OK);
    EXPECT_EQ(length, 240u);

    // The size comes from the 80 element's own value, and only from inside the FCI.
    Commands();
    length = 1000;
    cardsim::InjectFault(kReader, Fault::AnswerWith(Hex("00A40800"), Hex("62038001059000")));
    EXPECT_EQ(Read(0x5F10, buffer, &length), CKR_OK);
    EXPECT_EQ(length, 5u);
    for (const char* fci : {"620280019000", "62038002019000", "6203820101" "9000", "9000"}) {
        length = 1000;
        cardsim::InjectFault(kReader, Fault::AnswerWith(Hex("00A40800"), Hex(fci)));
        EXPECT_EQ(Read(0x5F10, buffer, &length), CKR_FUNCTION_FAILED) << fci;
    }
    length = 1000;
    EXPECT_EQ(Read(0x4321, buffer, &length), CKR_FUNCTION_FAILED);  // no such file
    EXPECT_EQ(lastStatus_, 0x6A82u);
    EXPECT_EQ(ReadBinaryInCDF(&slot_, nullptr, 2, buffer.data(), &length, nullptr, 8), CKR_ARGUMENTS_BAD);
}

TEST_F(CardCommandsTest, OffsetsBeyondFifteenBitsAreRefused)
{
    Insert("DEF50");
    CreateFile(0x5F20, 40000);
    std::vector<uint8_t> buffer(65535);
    uint32_t length = uint32_t(buffer.size());
    EXPECT_EQ(Read(0x5F20, buffer, &length), CKR_FUNCTION_FAILED);
    const std::vector<std::string> offsets = ReadOffsets();
    ASSERT_FALSE(offsets.empty());
    EXPECT_EQ(offsets.back(), "7F 80");  // 32,640: the last offset below 0x8000

    const uint8_t data[] = {1, 2, 3};
    EXPECT_EQ(WriteChunk(nullptr, &slot_, 0x8000, data, 3), CKR_FUNCTION_FAILED);
    EXPECT_EQ(WriteChunk(nullptr, &slot_, 0x7FFD, data, 3), CKR_OK);
    EXPECT_EQ(Commands(), std::vector<std::string>{"00 D6 7F FD 03 01 02 03"});
}

TEST_F(CardCommandsTest, WritesInChunksInsideACardTransaction)
{
    auto card = Insert("DEF50");
    CreateFile(0x5F30, 250);
    std::vector<uint8_t> data(250, 0x77);
    const uint8_t path[] = {0x5F, 0x30};
    ASSERT_EQ(WriteBinary(&lastStatus_, &slot_, path, 2, data.data(), 250, 1), CKR_OK);
    std::vector<std::string> commands = Commands();
    ASSERT_EQ(commands.size(), 5u);
    EXPECT_EQ(commands[0], "00 A4 00 0C 02 5F 30");
    EXPECT_EQ(commands[1], "00 12 00 80");
    EXPECT_EQ(commands[2].substr(0, 14), "00 D6 00 00 F0");
    EXPECT_EQ(commands[3].substr(0, 14), "00 D6 00 F0 0A");
    EXPECT_EQ(commands[4], "00 12 00 81");
    EXPECT_EQ(card->FileContents({0x5F, 0x30}).value(), data);

    // The failed chunk is the result, and the transaction is still ended.
    cardsim::InjectFault(kReader, Fault::StatusWordFor(Hex("00D600F0"), 0x65, 0x81));
    EXPECT_EQ(WriteBinary(&lastStatus_, &slot_, nullptr, 0, data.data(), 250, 1), CKR_FUNCTION_FAILED);
    commands = Commands();
    EXPECT_EQ(commands.back(), "00 12 00 81");
}


TEST_F(CardCommandsTest, CardOsVersionPerCard)
{
    const std::pair<const char*, uint32_t> cards[] = {
        {"DEF50", kCardOs50}, {"DEF44", kCardOs44}, {"DEF43B", kCardOs43B}, {"UNK-OS", kCardOs50},
        {"UNK-OS-6A88", kCardOs50}};
    for (const auto& [name, expected] : cards) {
        Insert(name);
        uint32_t version = 0;
        EXPECT_EQ(GetCardOSVersion(&slot_, &version), CKR_OK) << name;
        EXPECT_EQ(version, expected) << name;
    }
    for (const char* answer : {"C80D9000", "0102039000", "C89000", "C80D6A88"}) {
        cardsim::InjectFault(kReader, Fault::AnswerWith(Hex("00CA0182"), Hex(answer)));
        uint32_t version = 0;
        EXPECT_EQ(GetCardOSVersion(&slot_, &version), CKR_OK);
        EXPECT_EQ(version, std::string(answer) == "C80D9000" ? kCardOs44 : kCardOs50) << answer;
    }
    cardsim::InjectFault(kReader, Fault::StatusWordFor(Hex("00A4000C"), 0x6A, 0x82));
    uint32_t version = 0;
    EXPECT_EQ(GetCardOSVersion(&slot_, &version), CKR_FUNCTION_FAILED);
}

TEST_F(CardCommandsTest, GetDataLifeCycleAndSecurityStatus)
{
    auto card = Insert("DEF50");
    uint16_t value = 0;
    ASSERT_EQ(GetData(&lastStatus_, &slot_, 0x83, &value), CKR_OK);
    EXPECT_EQ(value, card->LifeCycle());
    EXPECT_EQ(GetData(&lastStatus_, &slot_), CKR_OK);
    EXPECT_EQ(Commands().back(), "00 CA 01 83 00");

    // Already in the wanted state: only the GET DATA goes out.
    const uint8_t current = card->LifeCycle();
    Commands();
    EXPECT_EQ(ChangeLc(&lastStatus_, &slot_, current), CKR_OK);
    EXPECT_EQ(Commands(), std::vector<std::string>{"00 CA 01 83 00"});
    EXPECT_EQ(CheckLc(&lastStatus_, &slot_, uint8_t(current + 1)), CKR_FUNCTION_FAILED);
    Commands();

    // Another state: the change command, then the check.
    const uint8_t other = current == 0x24 ? 0x10 : 0x24;
    const CK_RV changed = ChangeLc(&lastStatus_, &slot_, other);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"00 CA 01 83 00", "80 10 00 00", "00 CA 01 83 00"}));
    EXPECT_EQ(changed == CKR_OK, card->LifeCycle() == other);
    cardsim::InjectFault(kReader, Fault::StatusWordFor(Hex("801000"), 0x69, 0x85));
    EXPECT_EQ(ChangeLc(&lastStatus_, &slot_, 0x99), CKR_FUNCTION_FAILED);
    EXPECT_EQ(lastStatus_, 0x6985u);

    uint32_t flags[4] = {7, 7, 7, 7};
    cardsim::InjectFault(kReader, Fault::AnswerWith(Hex("00CA0184"), Hex("01955A9000")));
    ASSERT_EQ(GetDataSecurityStatus(&lastStatus_, &slot_, flags), CKR_OK);
    EXPECT_EQ(std::vector<uint32_t>(flags, flags + 4), (std::vector<uint32_t>{0, 1, 0, 1}));
    ASSERT_EQ(GetDataSecurityStatus(&lastStatus_, &slot_, flags), CKR_OK);  // nothing verified
    EXPECT_EQ(std::vector<uint32_t>(flags, flags + 4), (std::vector<uint32_t>{0, 0, 0, 0}));
}
