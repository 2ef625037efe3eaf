// Secure messaging codec against vectors from outside the project: the
// worked example of ICAO Doc 9303 Part 11 (Appendix D) and values computed
// once with Python's 'cryptography' package (two-key Triple-DES, retail MAC,
// header padded to a block before the MAC).

#include <botan/hex.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BaseTypes.h"
#include "SessionKeyPair.h"
#include "card/ApduEncoding.h"
#include "card/SecureMessaging.h"

namespace {

using Brelt::MW::Base::HexBinary;
using Brelt::MW::Card::ApduCommand;
using Brelt::MW::Card::ApduResponse;
using Brelt::MW::Card::SecureMessaging;
using Brelt::MW::Card::kNoLe;

constexpr const char* kKey = "0123456789ABCDEFFEDCBA9876543210";

std::vector<uint8_t> Bytes(const std::string& hex)
{
    const HexBinary h(hex);
    return std::vector<uint8_t>(h.data, h.data + h.length);
}

std::string Hex(const uint8_t* data, size_t length) { return Botan::hex_encode(data, length); }

// Type 2 (one key, no counter) or type 4 (two keys and a counter).
std::unique_ptr<SecureMessaging> Context(bool chipAuthentication)
{
    auto sm = std::make_unique<SecureMessaging>();
    const HexBinary key{std::string(kKey)};
    if (chipAuthentication) {
        const Brelt::Crypto::SessionKeyPair pair(&key, &key);
        EXPECT_EQ(sm->SetSessionKey(&pair, 1), CKR_OK);
        sm->SetType(SecureMessaging::kChipAuthenticationType);
    } else {
        auto bytes = std::make_unique<uint8_t[]>(16);
        std::memcpy(bytes.get(), key.data, 16);
        EXPECT_EQ(sm->SetSessionKey(std::move(bytes), 16), CKR_OK);
    }
    return sm;
}

std::unique_ptr<ApduCommand> Plain(uint8_t ins, uint8_t p1, uint8_t p2, const std::vector<uint8_t>& data,
                                   uint16_t le)
{
    auto c = std::make_unique<ApduCommand>();
    c->cla = 0x00, c->ins = ins, c->p1 = p1, c->p2 = p2, c->le = le, c->expectedSw = 0x9000;
    c->lc = static_cast<uint16_t>(data.size());
    if (!data.empty()) c->data = std::make_unique<uint8_t[]>(data.size());
    if (!data.empty()) std::memcpy(c->data.get(), data.data(), data.size());
    return c;
}

// The whole protected command APDU as it goes to the card, as hex.
std::string Apdu(SecureMessaging& sm, const ApduCommand& plain, int32_t mode = 2)
{
    auto w = sm.EncodeCommand(&plain, mode);
    std::vector<uint8_t> out;
    if (!w || Brelt::MW::Card::EncodeCommandApdu(*w, false, out) != CKR_OK) return "null";
    return Hex(out.data(), out.size());
}

// Header, then the protected data field, as hex.
std::string Wrapped(SecureMessaging& sm, const ApduCommand& plain, int32_t mode = 2)
{
    auto w = sm.EncodeCommand(&plain, mode);
    if (!w) return "null";
    EXPECT_EQ(w->le, 0);
    EXPECT_EQ(w->expectedSw, plain.expectedSw);
    const uint8_t header[4] = {w->cla, w->ins, w->p1, w->p2};
    return Hex(header, 4) + " " + Hex(w->data.get(), w->lc);
}

void SetResponse(ApduResponse& r, const std::string& hex, uint16_t sw)
{
    const auto bytes = Bytes(hex);
    r.Clear();
    r.sw = sw, r.length = static_cast<uint16_t>(bytes.size());
    r.data = std::make_unique<uint8_t[]>(bytes.size());
    std::memcpy(r.data.get(), bytes.data(), bytes.size());
}

// ICAO Doc 9303 Part 11, Appendix D: SELECT EF.COM and two READ BINARY
// commands with their answers, byte for byte.
TEST(SecureMessagingCodec, PublishedExampleCommandsAndResponses)
{
    SecureMessaging sm;
    const HexBinary kEnc{std::string("979EC13B1CBFE9DCD01AB0FED307EAE5")};
    const HexBinary kMac{std::string("F1CB1F1FB5ADF208806B89DC579DC1F8")};
    const Brelt::Crypto::SessionKeyPair pair(&kEnc, &kMac);
    ASSERT_EQ(sm.SetSessionKey(&pair, 1), CKR_OK);
    sm.SetType(SecureMessaging::kChipAuthenticationType);
    ASSERT_TRUE(sm.SetSSC(Bytes("887022120C06C226")));
    ApduResponse r;

    EXPECT_EQ(Apdu(sm, *Plain(0xA4, 0x02, 0x0C, Bytes("011E"), kNoLe)),
              "0CA4020C158709016375432908C044F68E08BF8B92D635FF24F800");
    EXPECT_EQ(Hex(sm.SSC().data(), 8), "887022120C06C227");
    SetResponse(r, "990290008E08FA855A5D4C50A8ED", 0x9000);
    ASSERT_EQ(sm.DecodeResponse(&r), CKR_OK);
    EXPECT_EQ(r.length, 0);
    EXPECT_EQ(Hex(sm.SSC().data(), 8), "887022120C06C228");

    EXPECT_EQ(Apdu(sm, *Plain(0xB0, 0x00, 0x00, {}, 4)), "0CB000000D9701048E08ED6705417E96BA5500");
    SetResponse(r, "8709019FF0EC34F992265199029000" "8E08AD55CC17140B2DED", 0x9000);
    ASSERT_EQ(sm.DecodeResponse(&r), CKR_OK);
    EXPECT_EQ(Hex(r.data.get(), r.length), "60145F01");

    EXPECT_EQ(Apdu(sm, *Plain(0xB0, 0x00, 0x04, {}, 0x12)), "0CB000040D9701128E082EA28A70F3C7B53500");
    SetResponse(r, "871901FB9235F4E4037F2327DCC8964F1F9B8C30F42C8E2FFF224A99029000" "8E08C8B2787EAEA07D74",
                0x9000);
    ASSERT_EQ(sm.DecodeResponse(&r), CKR_OK);
    EXPECT_EQ(Hex(r.data.get(), r.length), "04303130365F36063034303030305C026175");
    EXPECT_EQ(Hex(sm.SSC().data(), 8), "887022120C06C22C");

    // The example goes on, with values computed in Python from its keys:
    // without data objects the header still enters the checksum padded
    // (SELECT MF in mode 2, VERIFY in mode 1), as ISO/IEC 7816-4 has it.
    EXPECT_EQ(Apdu(sm, *Plain(0xA4, 0x00, 0x0C, {}, kNoLe)), "0CA4000C0A8E08B81D24C9BD5CF21400");
    SetResponse(r, "990290008E08307FA6B65902FF74", 0x9000);
    EXPECT_EQ(sm.DecodeResponse(&r), CKR_OK);
    EXPECT_EQ(Apdu(sm, *Plain(0x20, 0x00, 0x81, Bytes("FFFFFFFFFFFF"), kNoLe), 1),
              "0C200081128E089899FEC8CF76EC5A8006FFFFFFFFFFFF00");
    EXPECT_EQ(Hex(sm.SSC().data(), 8), "887022120C06C22F");
    EXPECT_FALSE(sm.SetSSC(Bytes("01")));
}

TEST(SecureMessagingCodec, CommandsOfAllFourCasesWithAndWithoutCounter)
{
    auto sm = Context(false);
    // Case 1: the header alone, padded to a block before the MAC.
    EXPECT_EQ(Wrapped(*sm, *Plain(0xA4, 0x00, 0x0C, {}, kNoLe)), "0CA4000C 8E08FC666494A2AEA85D");
    // Case 4 with an odd INS: 85 without indicator; Le 0x100 in two bytes.
    EXPECT_EQ(Wrapped(*sm, *Plain(0xB1, 0x00, 0x00, Bytes("54020000"), 0x100)),
              "0CB10000 8508798FFFA026F449B2970201008E0866F3C987B23C99CD");
    // Extended data: 300 bytes become a 304-byte cryptogram in 87 82 01 31.
    auto w = sm->EncodeCommand(Plain(0x2A, 0x9E, 0x9A, std::vector<uint8_t>(300, 0xA5), 0).get(), 2);
    ASSERT_TRUE(w);
    ASSERT_EQ(w->lc, 4 + 305 + 3 + 10);
    const std::string field = Hex(w->data.get(), w->lc);
    EXPECT_EQ(field.substr(0, 18), "87820131018750C00D");
    EXPECT_EQ(field.substr(field.size() - 26), "9701008E082577ADAAD512E8EA");
    EXPECT_TRUE(sm->SSC().empty());
    // Header-only mode: the MAC covers the header, the data stays plain.
    EXPECT_EQ(Wrapped(*sm, *Plain(0x20, 0x00, 0x81, Bytes("3132333435FFFFFF"), kNoLe), 1),
              "0C200081 8E082CB9DB00CBEB51D9" "80083132333435FFFFFF");

    // With a counter, each command steps it.
    sm = Context(true);
    EXPECT_EQ(Hex(sm->SSC().data(), 8), "0000000000000000");
    EXPECT_EQ(Wrapped(*sm, *Plain(0xA4, 0x00, 0x0C, {}, kNoLe)), "0CA4000C 8E087004BE8DAFA9B79D");
    EXPECT_EQ(Hex(sm->SSC().data(), 8), "0000000000000001");

    // Eight data bytes give 16 cryptogram bytes (a whole padding block).
    sm = Context(true);
    EXPECT_EQ(Wrapped(*sm, *Plain(0xD6, 0x00, 0x00, Bytes("0102030405060708"), kNoLe)),
              "0CD60000 871101A85CEB8CDADFF808D2D375B3BFBD8FC18E08A5381D3033ABBA06");
}

// The counter carries into the byte before, and borrows from it.
TEST(SecureMessagingCodec, CounterCarriesAndBorrows)
{
    auto sm = Context(true);
    const struct {
        const char* from;
        bool up;
        const char* to;
    } steps[] = {
        {"00000000000000FF", true, "0000000000000100"},
        {"0000FFFFFFFFFFFF", true, "0001000000000000"},
        {"FFFFFFFFFFFFFFFF", true, "0000000000000000"},
        {"0000000000000100", false, "00000000000000FF"},
        {"0000000000000000", false, "FFFFFFFFFFFFFFFF"},
    };
    for (const auto& s : steps) {
        ASSERT_TRUE(sm->SetSSC(Bytes(s.from)));
        if (s.up) sm->IncrementSSC();
        else sm->DecrementSSC();
        EXPECT_EQ(Hex(sm->SSC().data(), 8), s.to) << s.from;
    }
}

TEST(SecureMessagingCodec, RefusedCommands)
{
    auto sm = Context(true);
    EXPECT_EQ(Wrapped(*sm, *Plain(0xA4, 0, 0, {}, kNoLe), 3), "null");
    EXPECT_EQ(sm->EncodeCommand(nullptr, 2), nullptr);
    auto noData = Plain(0xD6, 0, 0, {}, kNoLe);
    noData->lc = 4;
    EXPECT_EQ(sm->EncodeCommand(noData.get(), 2), nullptr);
    // Data too long for a protected command.
    EXPECT_EQ(sm->EncodeCommand(Plain(0xD6, 0, 0, std::vector<uint8_t>(0xFFF0, 1), kNoLe).get(), 2), nullptr);
    SecureMessaging noKeys;
    EXPECT_EQ(noKeys.EncodeCommand(Plain(0xA4, 0, 0, {}, kNoLe).get(), 2), nullptr);
    EXPECT_EQ(noKeys.SetSessionKey(nullptr, 1), CKR_ARGUMENTS_BAD);
    const HexBinary shortKey{std::string("0102")};
    const Brelt::Crypto::SessionKeyPair badPair(&shortKey, &shortKey);
    EXPECT_EQ(noKeys.SetSessionKey(&badPair, 1), CKR_ARGUMENTS_BAD);
}

TEST(SecureMessagingCodec, ResponsesDecode)
{
    ApduResponse r;
    // Counter 2 (the answer to the first command) with an 87 object.
    auto sm = Context(true);
    sm->IncrementSSC();
    SetResponse(r, "87110145F76884C7C8347EB006E4F65E95623A990290008E0881277A030C1E6ABE", 0x9000);
    ASSERT_EQ(sm->DecodeResponse(&r), CKR_OK);
    EXPECT_EQ(Hex(r.data.get(), r.length), "620A8201388302" "3F00");
    EXPECT_EQ(Hex(sm->SSC().data(), 8), "0000000000000002");

    sm = Context(false);
    SetResponse(r, "990290008E08D248C73632B2D6C3", 0x9000);
    EXPECT_EQ(sm->DecodeResponse(&r), CKR_OK);
    EXPECT_EQ(r.length, 0);
    SetResponse(r, "8102ABCD990290008E088A85178E332D1B6B", 0x9000);
    EXPECT_EQ(sm->DecodeResponse(&r), CKR_OK);
    EXPECT_EQ(Hex(r.data.get(), r.length), "ABCD");
}

// A card refuses a protected command in the clear: an error status word
// without protected objects is its answer. A success in the clear is not.
TEST(SecureMessagingCodec, BareStatusWordsPassOnlyWhenTheyReportAnError)
{
    const struct {
        uint16_t sw;
        CK_RV rv;
    } cases[] = {
        {0x6982, CKR_OK}, {0x6988, CKR_OK}, {0x63C2, CKR_OK},
        {0x9000, CKR_FUNCTION_FAILED}, {0x6110, CKR_FUNCTION_FAILED}, {0x6100, CKR_FUNCTION_FAILED},
    };
    for (bool chipAuthentication : {false, true}) {
        auto sm = Context(chipAuthentication);
        for (const auto& c : cases) {
            ApduResponse r;
            r.sw = c.sw;
            EXPECT_EQ(sm->DecodeResponse(&r), c.rv) << std::hex << c.sw;
            EXPECT_EQ(r.sw, c.sw);
            EXPECT_EQ(r.length, 0);
        }
        // Each answer stepped the counter all the same.
        if (chipAuthentication) {
            EXPECT_EQ(Hex(sm->SSC().data(), 8), "0000000000000006");
        }
    }
}

TEST(SecureMessagingCodec, HostileResponsesAreRefusedWithoutData)
{
    const char* good = "8102ABCD990290008E088A85178E332D1B6B";
    const struct {
        const char* hex;
        uint16_t sw;
    } cases[] = {
        {"8102ABCD990290008E088A85178E332D1B6C", 0x9000},               // wrong MAC
        {"8102ABCD99029000", 0x9000},                                   // no checksum
        {good, 0x6A82},                                                 // outer status differs from 99
        {"8102ABCD99029000FF088A85178E332D1B6B8E", 0x9000},             // runs past the end
        {"810AABCD", 0x9000},                                           // length past the end
        {"1F01018E00", 0x9000},                                         // multi-byte tag
        {"8102ABCD8701FF990290008E088A85178E332D1B6B", 0x9000},         // second data object
        // A well-formed cryptogram of "EVIL" next to the checked 81 object.
        {"8102ABCD87090112EDD4C1DB6C0750990290008E088A85178E332D1B6B", 0x9000},
        {"87090112EDD4C1DB6C07508102ABCD990290008E088A85178E332D1B6B", 0x9000},
        {"870101990290008E08D248C73632B2D6C3", 0x9000},                 // indicator only
    };
    auto sm = Context(false);
    ApduResponse r;
    for (const auto& c : cases) {
        SetResponse(r, c.hex, c.sw);
        EXPECT_EQ(sm->DecodeResponse(&r), CKR_FUNCTION_FAILED) << c.hex;
        EXPECT_EQ(r.length, 0) << c.hex;
        EXPECT_EQ(r.data, nullptr) << c.hex;
        EXPECT_EQ(r.sw, c.sw);
    }
    EXPECT_EQ(sm->DecodeResponse(nullptr), CKR_ARGUMENTS_BAD);

    // A cryptogram whose checksum verifies but whose padding is wrong.
    auto ca = Context(true);
    ca->IncrementSSC();
    SetResponse(r, "87110145F76884C7C8347EB006E4F65E95623A990290008E0881277A030C1E6ABE", 0x9000);
    ca->IncrementSSC();  // counter out of step: the checksum fails
    EXPECT_NE(ca->DecodeResponse(&r), CKR_OK);
}

}  // namespace
