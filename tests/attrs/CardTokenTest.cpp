// Token information and the card-level object operations against the
// simulated cards.

#include <algorithm>
#include <cstring>

#include "../token/CardFixture.h"
#include "BaseTypes.h"
#include "card/CardCommands.h"
#include "token/ApplicationInfoList.h"
#include "token/ApplicationOperations.h"
#include "token/CardObjects.h"
#include "token/CardText.h"
#include "token/ObjectHandles.h"
#include "token/TokenInfo.h"

using namespace Brelt::MW::Token;
using namespace token_test;

namespace {

using CardTokenTest = CardFixture;

std::string Field(const CK_UTF8CHAR* bytes, size_t size)
{
    std::string text(reinterpret_cast<const char*>(bytes), size);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

struct Expected {
    const char* personalisation;
    const char* model;
    CK_VERSION firmware;
    const char* serial;
};

class TokenInfoTest : public CardTokenTest, public ::testing::WithParamInterface<Expected> {};

TEST_P(TokenInfoTest, FromTheCardBeforeAndAfterThePinIsVerified)
{
    const Expected& expected = GetParam();
    Load(expected.personalisation);
    for (const bool verified : {false, true}) {
        if (verified) VerifyUserPin();
        CK_TOKEN_INFO info;
        std::memset(&info, 0xAB, sizeof info);
        ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK) << verified;
        EXPECT_EQ(Field(info.model, sizeof info.model), expected.model);
        EXPECT_EQ(info.firmwareVersion.major, expected.firmware.major);
        EXPECT_EQ(info.firmwareVersion.minor, expected.firmware.minor);
        EXPECT_EQ(Field(info.serialNumber, sizeof info.serialNumber), expected.serial);
        EXPECT_EQ(Field(info.manufacturerID, sizeof info.manufacturerID), "Rada IT Solutions and Services");
        EXPECT_NE(Field(info.label, sizeof info.label), "");
        EXPECT_NE(info.ulMaxPinLen, CK_UNAVAILABLE_INFORMATION);
        EXPECT_LE(info.ulMinPinLen, info.ulMaxPinLen);
        EXPECT_GT(info.ulTotalPublicMemory, 0u);
        EXPECT_EQ(info.flags & ~CKF_PROTECTED_AUTHENTICATION_PATH,
                  CKF_RNG | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_LOGIN_REQUIRED);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AdmittedCards, TokenInfoTest,
    ::testing::Values(Expected{"DEF50", "V50;;2k", {0xC9, 0x01}, "123456789ABCDEF0"},
                      Expected{"DEF50-3K", "V50;;3k", {0xC9, 0x01}, "123456789ABCC55A"},
                      Expected{"DEF44", "CardOS V4.4", {0xC8, 0x0D}, "123456789ABCA62B"},
                      // Its OS query goes without Le and gets no data: it runs as CardOS 5.0.
                      Expected{"DEF44-STRICT", "V50;;2k", {0xC8, 0x0D}, "0011223344556677"},
                      Expected{"DEF43B", "CardOS V4.3B", {0xC8, 0x08}, "123456789ABCE569"},
                      Expected{"SIGG50-2ND", "V50;;2k", {0xC9, 0x01}, "123456789ABC1EB9"},
                      Expected{"X509-ONLY44", "CardOS V4.4", {0xC8, 0x0D}, "123456789ABC4882"}),
    [](const auto& info) { return TestName(info.param.personalisation); });

TEST_F(CardTokenTest, TokenInfoWithShortOrOddCardAnswers)
{
    Load("DEF50");
    // A memory answer too short for its fields leaves them cleared.
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith({0x00, 0xCA, 0x01, 0x89}, {0x00, 0x01, 0x90, 0x00}));
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith({0x00, 0xCA, 0x01, 0x82}, {0xC9, 0x90, 0x00}));
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0xCA, 0x01, 0x81}, 0x6A, 0x88));
    CK_TOKEN_INFO info;
    ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK);
    EXPECT_EQ(info.ulTotalPublicMemory, 0u);
    EXPECT_EQ(info.hardwareVersion.major, 0);
    EXPECT_EQ(info.firmwareVersion.major, 0);
    EXPECT_EQ(Field(info.model, sizeof info.model), "");
    EXPECT_EQ(Field(info.serialNumber, sizeof info.serialNumber), "FFFFFFFFFFFFFFFF");

    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0x20, 0x00, 0x01}, 0x63, 0xC1));
    ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_FINAL_TRY);
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0x20, 0x00, 0x01}, 0x69, 0x83));
    ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_LOCKED);
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0x20, 0x00, 0x01}, 0x69, 0x84));
    ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK);
    EXPECT_FALSE(info.flags & CKF_USER_PIN_INITIALIZED);
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0x20, 0x00, 0x01}, 0x6A, 0x82));
    EXPECT_EQ(GetTokenInfoEF(*slot_, &info), CKR_FUNCTION_FAILED);
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0xCA, 0x01, 0x8A}, 0x6A, 0x88));
    EXPECT_NE(GetTokenInfoEF(*slot_, &info), CKR_OK);
}

// Every text field holds printable ASCII only: blanks pad, never NUL.
void ExpectPrintableTextFields(const CK_TOKEN_INFO& info)
{
    const std::pair<const CK_UTF8CHAR*, size_t> fields[] = {
        {info.label, sizeof info.label},
        {info.manufacturerID, sizeof info.manufacturerID},
        {info.model, sizeof info.model},
        {info.serialNumber, sizeof info.serialNumber},
        {info.utcTime, sizeof info.utcTime},
    };
    for (const auto& [bytes, size] : fields) {
        for (size_t i = 0; i < size; ++i) EXPECT_TRUE(bytes[i] >= 0x20 && bytes[i] <= 0x7E) << i << ": " << int(bytes[i]);
    }
}

std::vector<uint8_t> Answer(const std::string& data)
{
    std::vector<uint8_t> answer(data.begin(), data.end());
    answer.insert(answer.end(), {0x90, 0x00});
    return answer;
}

const std::string kEightBytes("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
const std::string kProductionData("\x00\x11\x22\x33\x44\x55\x66\x77", 8);

struct TextCase {
    const char* name;
    const char* personalisation;
    uint8_t p2;  // GET DATA 01 p2 answered with `data`
    std::string data;
    const char* serial;
    const char* model;
};

class TokenInfoTextTest : public CardTokenTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TokenInfoTextTest, BlankPaddedPrintableText)
{
    const TextCase& c = GetParam();
    Load(c.personalisation);
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith({0x00, 0xCA, 0x01, c.p2}, Answer(c.data)));
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK);
    EXPECT_EQ(Field(info.serialNumber, sizeof info.serialNumber), c.serial);
    EXPECT_EQ(Field(info.model, sizeof info.model), c.model);
    ExpectPrintableTextFields(info);
}

INSTANTIATE_TEST_SUITE_P(
    OddCardAnswers, TokenInfoTextTest,
    ::testing::Values(
        // A serial answer too short for its layout gives no part of a serial.
        TextCase{"Serial5Of8", "DEF50", 0x81, std::string("\x12\x34\x56\x78\x9A", 5), "FFFFFFFFFFFFFFFF",
                 "V50;;2k"},
        TextCase{"Serial8", "DEF50", 0x81, kEightBytes, "0102030405060708", "V50;;2k"},
        TextCase{"Serial8Of16", "DEF44", 0x81, kEightBytes, "FFFFFFFFFFFFFFFF", "CardOS V4.4"},
        TextCase{"Serial15Of16", "DEF44", 0x81, kProductionData + kEightBytes.substr(0, 7), "FFFFFFFFFFFFFFFF",
                 "CardOS V4.4"},
        TextCase{"Serial16", "DEF44", 0x81, kProductionData + kEightBytes, "0102030405060708", "CardOS V4.4"},
        // The model stops at the first byte that is not printable.
        TextCase{"ModelNul", "DEF44", 0x80, std::string("Card\0OS V4.4 (C) x", 19), "123456789ABCA62B", "Card"},
        TextCase{"ModelFF", "DEF44", 0x80, "CardOS\xFFV4.4 (C) x", "123456789ABCA62B", "CardOS"},
        TextCase{"ModelTab", "DEF43B", 0x80, "CardOS V4.3B\tSpecial (C)", "123456789ABCE569", "CardOS V4.3B"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CardText, EndsBeforeTheFirstByteThatIsNotPrintable)
{
    struct Case {
        std::string text;
        size_t room;
        CardTextKind kind;
        size_t length;
    };
    const Case cases[] = {
        {"Label", 32, CardTextKind::Ascii, 5},
        {"Label", 3, CardTextKind::Ascii, 3},
        {std::string("La\0bel", 6), 32, CardTextKind::Utf8, 2},
        {"La\xFF" "bel", 32, CardTextKind::Utf8, 2},
        {"La\x1F" "bel", 32, CardTextKind::Utf8, 2},
        {"Ob\xC4\x8D" "ianka", 32, CardTextKind::Utf8, 9},  // "Občianka"
        {"Ob\xC4\x8D" "ianka", 32, CardTextKind::Ascii, 2},
        {"Ob\xC4\x8D", 3, CardTextKind::Utf8, 2},  // not cut in half
        {"Ob\xC4" "c", 32, CardTextKind::Utf8, 2},  // broken sequence
        {"Ob\xC2\x85", 32, CardTextKind::Utf8, 2},  // C1 control
        {"Ob\xC0\xAF", 32, CardTextKind::Utf8, 2},  // overlong
        {"Ob\xED\xA0\x80", 32, CardTextKind::Utf8, 2},  // surrogate
        {"Ob\xE2\x82\xAC\xF0\x9F\x98\x80", 32, CardTextKind::Utf8, 9},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PrintableTextLength(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size(), c.room, c.kind),
                  c.length)
            << c.text;
    }
    EXPECT_EQ(PrintableTextLength(nullptr, 4, 32, CardTextKind::Utf8), 0u);
}

// The lengths an application is told are those the PIN keyboard takes: a
// maximum below the minimum gives the keyboard's default maximum.
TEST_F(CardTokenTest, PinLengthsNeverGiveAMinimumAboveTheMaximum)
{
    Load("DEF50-PINMAX2");
    CK_TOKEN_INFO info;
    ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK);
    EXPECT_EQ(info.ulMinPinLen, 4u);
    EXPECT_EQ(info.ulMaxPinLen, 12u);
}

// The card-side object operations, which no export reaches.
class CardObjectsTest : public CardTokenTest {
protected:
    void SetUp() override
    {
        CardTokenTest::SetUp();
        // The default layout with the DF in which certificates are created.
        Load("DEF50-CERTDF");
        ASSERT_EQ(GetApplicationInfo(uint32_t(slot_->SlotId()), application_), CKR_OK);
        ASSERT_TRUE(application_);
    }

    // Makes the directory file `fid` look transparent and `size` bytes large
    // to every SELECT that asks for its FCP.
    void DirectoryFileLooksTransparent(uint8_t fid, uint16_t size)
    {
        auto fault = cardsim::Fault::AnswerWith({0x00, 0xA4, 0x00, 0x00, 0x02, 0x44, fid},
                                                {0x62, 0x0B, 0x80, 0x02, uint8_t(size >> 8), uint8_t(size), 0x82, 0x01,
                                                 0x01, 0x83, 0x02, 0x44, fid, 0x90, 0x00});
        fault.everyTime = true;
        cardsim::InjectFault(kReader, fault);
    }

    std::vector<CK_OBJECT_HANDLE> Handles(CioFileKind kind)
    {
        std::vector<CK_OBJECT_HANDLE> handles;
        for (const auto& object : application_->FindObjectList(kind)->objects) handles.push_back(object->handle);
        return handles;
    }

    static bool Sent(const std::vector<std::string>& commands, const std::string& prefix)
    {
        return std::any_of(commands.begin(), commands.end(),
                           [&](const std::string& command) { return command.rfind(prefix, 0) == 0; });
    }

    // The directory file's records without their 00 <number> prefix.
    std::vector<std::vector<uint8_t>> Entries(uint8_t fid)
    {
        std::vector<std::vector<uint8_t>> entries;
        const auto records = card_->Records({0x3F, 0x00, 0x50, 0x15, 0x44, fid});
        for (const auto& record : records.value()) entries.emplace_back(record.begin() + 2, record.end());
        return entries;
    }

    ApplicationInfoPtr application_;
    CK_ULONG status_ = 0;
};

TEST_F(CardObjectsTest, FreeCertificateNumbersFromTheCardsFileList)
{
    EXPECT_EQ(GetFreeCertFID(slot_->SlotId(), &status_, nullptr, 0, 0x02, 0x43), 3) << "4301 and 4302 are in use";
    EXPECT_EQ(GetFreeCertFID(slot_->SlotId(), &status_, nullptr, 0, 0x02, 0x99), 0);
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x80, 0x16}, 0x6A, 0x82));
    EXPECT_EQ(GetFreeCertFID(slot_->SlotId(), &status_, nullptr, 0, 0x02, 0x43), 0xFFFF);
    EXPECT_EQ(GetFreeCertFID(4242, &status_, nullptr, 0, 0x02, 0x43), 0xFFFF);
}

TEST_F(CardObjectsTest, RecordDirectoryFilesLeaveCardAndObjectsUnchanged)
{
    // The default layout keeps its directory files as record files, which
    // cannot be rewritten: every operation is refused before the card changes.
    VerifyUserPin();
    const auto keys = Entries(0x02);
    const auto certificates = Entries(0x04);
    Commands();
    EXPECT_NE(DestroyPrivKey(slot_->SlotId(), &status_, 0x00030000), CKR_OK);
    EXPECT_NE(DestroyCertificate(slot_->SlotId(), &status_, 0x00070000), CKR_OK);
    auto created = std::make_unique<CertificateObject>(0, nullptr);
    const Brelt::MW::Base::HexBinary data(std::string("3003020100"));
    EXPECT_NE(CreateCertificate(slot_->SlotId(), &status_, std::move(created), data), CKR_OK);
    const auto commands = Commands();
    for (const char* change : {"00 04", "00 E4", "00 E0", "00 D6", "00 DA"})
        EXPECT_FALSE(Sent(commands, change)) << change;
    EXPECT_EQ(Handles(kKindRsaPrivateKey), (std::vector<CK_OBJECT_HANDLE>{0x30000, 0x30001}));
    EXPECT_EQ(Handles(kKindCertificate), (std::vector<CK_OBJECT_HANDLE>{0x70000, 0x70001}));
    EXPECT_EQ(Entries(0x02), keys);
    EXPECT_EQ(Entries(0x04), certificates);
    EXPECT_TRUE(card_->FileContents({0x3F, 0x00, 0x50, 0x15, 0x43, 0x01}));

    // A key without a usable file path is refused before any command.
    CIOObject* key = nullptr;
    ASSERT_EQ(FindObjectByHandle(&application_->ObjectLists, &key, nullptr, 0x00030001), CKR_OK);
    key->AsRSAKeyAttributes()->path = std::make_unique<Brelt::MW::Base::HexBinary>(std::string("4B"));
    EXPECT_EQ(DestroyPrivKey(slot_->SlotId(), &status_, 0x00030001), CKR_FUNCTION_FAILED);
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(DestroyPrivKey(slot_->SlotId(), &status_, 0x00039999), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(DestroyCertificate(slot_->SlotId(), &status_, 0x00079999), CKR_OBJECT_HANDLE_INVALID);
}

TEST_F(CardObjectsTest, KeyDeletionRewritesItsDirectoryFileWithoutTheKey)
{
    VerifyUserPin();
    const auto keys = Entries(0x02);
    DirectoryFileLooksTransparent(0x02, 1024);
    auto written = cardsim::Fault::AnswerWith({0x00, 0xD6}, {0x90, 0x00});
    written.everyTime = true;
    cardsim::InjectFault(kReader, written);
    // A key file that is deactivated already counts as deactivated.
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0x04}, 0x62, 0x83));
    Commands();
    ASSERT_EQ(DestroyPrivKey(slot_->SlotId(), &status_, 0x00030001), CKR_OK);
    const auto commands = Commands();
    EXPECT_TRUE(Sent(commands, "00 04 00 00 02 4B 02"));
    std::vector<uint8_t> expected = keys.at(0);
    expected.push_back(0x00);
    std::string update = "00 D6 00 00 " + cardsim::ToHex({uint8_t(expected.size())}) + " " + cardsim::ToHex(expected);
    EXPECT_TRUE(Sent(commands, update)) << "the first key's entry and the closing 00";
    EXPECT_EQ(Handles(kKindRsaPrivateKey), std::vector<CK_OBJECT_HANDLE>{0x30000});
    CK_OBJECT_HANDLE next = 0;
    ASSERT_EQ(CreateNewTokenObjectId(*application_->FindObjectList(kKindRsaPrivateKey), &next), CKR_OK);
    EXPECT_EQ(next, 0x30002u) << "the number of a deleted key is not given again";
}

// A certificate created in the DF F0 and deleted again. The card's writes
// (the new file is writable only after an authentication the simulated card
// does not know, the directory file is a record file) are answered, so the
// data of the UPDATE BINARY commands is what is checked.
TEST_F(CardObjectsTest, CertificateCreationAndDeletionRewriteTheDirectoryFile)
{
    VerifyUserPin();
    const auto path = [](std::vector<uint8_t> tail) {
        tail.insert(tail.begin(), {0x3F, 0x00, 0x50, 0x15});
        return tail;
    };
    // The data of the UPDATE BINARY commands since the last call, joined.
    const auto updated = [] {
        std::vector<uint8_t> data;
        for (const auto& entry : cardsim::Transcript(kReader))
            if (entry.command.size() > 5 && entry.command[1] == 0xD6)
                data.insert(data.end(), entry.command.begin() + 5, entry.command.end());
        return data;
    };
    std::vector<uint8_t> entries;
    for (const auto& entry : Entries(0x04)) entries.insert(entries.end(), entry.begin(), entry.end());
    const auto certificate = card_->FileContents(path({0x43, 0x02})).value();
    DirectoryFileLooksTransparent(0x04, 1024);
    auto written = cardsim::Fault::AnswerWith({0x00, 0xD6}, {0x90, 0x00});
    written.everyTime = true;
    cardsim::InjectFault(kReader, written);
    Commands();

    const Brelt::MW::Base::HexBinary der(certificate.data(), int32_t(certificate.size()), true);
    ASSERT_EQ(CreateCertificate(slot_->SlotId(), &status_, std::make_unique<CertificateObject>(0, nullptr), der),
              CKR_OK);
    EXPECT_TRUE(card_->FileContents(path({0xDF, 0xF0, 0xEF, 0x00}))) << "the first file of the empty DF";
    EXPECT_EQ(Handles(kKindCertificate), (std::vector<CK_OBJECT_HANDLE>{0x70000, 0x70001, 0x70002}));
    Bytes listed;
    ASSERT_EQ(GetEFData(*application_, kKindCertificate, listed), CKR_OK);
    std::vector<uint8_t> expected = certificate;
    expected.insert(expected.end(), listed->data, listed->data + listed->length);
    EXPECT_EQ(updated(), expected) << "the certificate, then the card's entries, the new one and the closing 00";
    EXPECT_EQ(std::vector<uint8_t>(listed->data, listed->data + entries.size()), entries);
    const auto created = Commands();
    EXPECT_TRUE(Sent(created, "00 E0 01 00 25 62 23 80 02 " + cardsim::ToHex({uint8_t(certificate.size() >> 8),
                                                                              uint8_t(certificate.size())}) +
                                  " 83 02 EF 00"));
    EXPECT_TRUE(Sent(created, "00 DA 01 62 16 AB 14")) << "a public certificate";

    ASSERT_EQ(DestroyCertificate(slot_->SlotId(), &status_, 0x00070002), CKR_OK);
    EXPECT_FALSE(card_->FileContents(path({0xDF, 0xF0, 0xEF, 0x00})));
    entries.push_back(0x00);
    EXPECT_EQ(updated(), entries) << "the card's entries and the closing 00";
    EXPECT_EQ(Handles(kKindCertificate), (std::vector<CK_OBJECT_HANDLE>{0x70000, 0x70001}));
}

TEST_F(CardObjectsTest, FailedRewriteAfterTheCardChangedKeepsTheObjectListed)
{
    VerifyUserPin();
    DirectoryFileLooksTransparent(0x02, 1024);
    Commands();
    // The key file is deactivated, then UPDATE BINARY meets a record file.
    EXPECT_NE(DestroyPrivKey(slot_->SlotId(), &status_, 0x00030000), CKR_OK);
    const auto commands = Commands();
    EXPECT_TRUE(Sent(commands, "00 04 00 00 02 4B 01"));
    EXPECT_TRUE(Sent(commands, "00 D6"));
    // The directory file on the card still names the key, and so does the list.
    EXPECT_EQ(Handles(kKindRsaPrivateKey), (std::vector<CK_OBJECT_HANDLE>{0x30000, 0x30001}));
}

TEST_F(CardObjectsTest, DirectoryFileTooSmallIsRefusedBeforeAnyWrite)
{
    Bytes data;
    ASSERT_EQ(GetEFData(*application_, kKindCertificate, data), CKR_OK);
    const auto size = static_cast<uint16_t>(data->length);
    int writes = 0;
    const CardFileWriter writer = [&](const Brelt::MW::Base::HexBinary& path, const Brelt::MW::Base::HexBinary& bytes,
                                      uint32_t flag) {
        ++writes;
        EXPECT_EQ(path.ToString(), "4404");
        EXPECT_TRUE(bytes.Equals(data.get()));
        EXPECT_EQ(flag, 1u);
        return CKR_OK;
    };
    EXPECT_EQ(WriteObjectInfo(slot_->SlotId(), 0, 1, writer), CKR_FUNCTION_FAILED);
    EXPECT_EQ(WriteObjectInfo(slot_->SlotId(), kKindEcPublicKey, 1, writer), CKR_FUNCTION_FAILED);
    EXPECT_EQ(WriteObjectInfo(slot_->SlotId(), kKindCertificate, 1, writer), CKR_FUNCTION_FAILED) << "record file";
    DirectoryFileLooksTransparent(0x04, uint16_t(size - 1));
    EXPECT_EQ(WriteObjectInfo(slot_->SlotId(), kKindCertificate, 1, writer), CKR_DEVICE_MEMORY);
    EXPECT_EQ(writes, 0);
    cardsim::ClearFaults();
    DirectoryFileLooksTransparent(0x04, size);
    EXPECT_EQ(WriteObjectInfo(slot_->SlotId(), kKindCertificate, 1, writer), CKR_OK);
    EXPECT_EQ(writes, 1);
}

TEST_F(CardObjectsTest, CardFilesAreWrittenInTheApplication)
{
    const uint8_t path[] = {0x46, 0x01};
    const std::vector<uint8_t> text{'N', 'e', 'w'};
    EXPECT_NE(WriteCardFile(slot_->SlotId(), &status_, path, 2, text.data(), 3, 0), CKR_OK) << "needs the PIN";
    VerifyUserPin();
    ASSERT_EQ(WriteCardFile(slot_->SlotId(), &status_, path, 2, text.data(), 3, 0), CKR_OK);
    ASSERT_EQ(WriteCardFile(slot_->SlotId(), &status_, path, 2, text.data(), 3, 4), CKR_OK);
    const auto contents = card_->FileContents({0x3F, 0x00, 0x50, 0x15, 0x46, 0x01});
    ASSERT_TRUE(contents);
    EXPECT_EQ(std::string(contents->begin(), contents->begin() + 7), std::string("Newu") + "New");
    const uint8_t records[] = {0x44, 0x02};
    EXPECT_NE(WriteCardFile(slot_->SlotId(), &status_, records, 2, text.data(), 3, 0), CKR_OK);
    slot_->SetTokenPresent(false);
    EXPECT_EQ(WriteCardFile(slot_->SlotId(), &status_, path, 2, text.data(), 3, 0), CKR_TOKEN_NOT_PRESENT);
}

TEST_F(CardTokenTest, TransactionGuardsCountAndRefuseUnknownSlots)
{
    Load("DEF50");
    EXPECT_EQ(PCSCBeginTransaction(slot_->SlotId()), CKR_OK);
    EXPECT_TRUE(slot_->IsTransactionOpen());
    EXPECT_EQ(PCSCEndTransaction(slot_->SlotId()), CKR_OK);
    EXPECT_FALSE(slot_->IsTransactionOpen());
    EXPECT_EQ(PCSCEndTransaction(slot_->SlotId()), CKR_DEVICE_ERROR) << "nothing left to end";
    EXPECT_EQ(PCSCBeginTransaction(CK_SLOT_ID{4242}), CKR_SLOT_ID_INVALID);
    cardsim::FailNextCalls(cardsim::ApiCall::BeginTransaction, SCARD_E_SHARING_VIOLATION);
    EXPECT_EQ(PCSCBeginTransaction(*slot_), CKR_DEVICE_ERROR);
    EXPECT_FALSE(slot_->IsTransactionOpen());
}

}  // namespace
