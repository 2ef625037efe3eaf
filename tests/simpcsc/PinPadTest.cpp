// Simulated PIN pads: the APDUs built from PIN_VERIFY and PIN_MODIFY
// structures.
#include "StandInCard.h"

#include <reader.h>

namespace cardsim::test {
namespace {

constexpr DWORD kVerifyDirect = SCARD_CTL_CODE(0x330000 + FEATURE_VERIFY_PIN_DIRECT);
constexpr DWORD kModifyDirect = SCARD_CTL_CODE(0x330000 + FEATURE_MODIFY_PIN_DIRECT);

void AppendLength(Bytes& structure, uint32_t length)
{
    for (int shift = 0; shift < 32; shift += 8) {
        structure.push_back(uint8_t(length >> shift));
    }
}

// A PIN_VERIFY_STRUCTURE for VERIFY with a padded PIN block of `maxLength`.
Bytes VerifyStructure(uint8_t format, uint8_t maxLength, uint8_t minLength, uint8_t pad)
{
    Bytes structure = {0xFF, 0xFF, format, maxLength, 0x00, maxLength, minLength,
                       0x02, 0xFF, 0x1B, 0x04, 0x00, 0x00, 0x00, 0x00};
    AppendLength(structure, maxLength + 5u);
    structure.insert(structure.end(), {0x00, 0x20, 0x00, 0x01, maxLength});
    structure.insert(structure.end(), maxLength, pad);
    return structure;
}

// A PIN_MODIFY_STRUCTURE; bConfirmPIN 3 asks the current PIN too.
Bytes ModifyStructure(uint8_t confirm, uint8_t maxLength, uint8_t minLength)
{
    const bool withOld = (confirm & 0x02) != 0;
    const uint8_t dataLength = withOld ? 2 * maxLength : maxLength;
    Bytes structure = {0xFF, 0xFF, 0x02, maxLength, 0x00, 0x00,
                       uint8_t(withOld ? maxLength : 0), maxLength, minLength, confirm,
                       0x02, 0xFF, 0x1B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    AppendLength(structure, dataLength + 5u);
    structure.insert(structure.end(),
                     {0x00, 0x24, uint8_t(withOld ? 0x00 : 0x01), 0x01, dataLength});
    structure.insert(structure.end(), dataLength, 0xFF);
    return structure;
}

class PinPadTest : public ReadersTest {
protected:
    LONG Control(SCARDHANDLE handle, DWORD code, const Bytes& input, Bytes& output,
                 DWORD room = 2)
    {
        output.assign(room, 0);
        DWORD returned = 0;
        const LONG result = SCardControl(handle, code, input.data(), DWORD(input.size()),
                                         output.data(), room, &returned);
        output.resize(returned);
        return result;
    }

    Bytes LastCommand(const std::string& reader) { return Transcript(reader).back().command; }
};

// A reader answers the feature request under pcsc-lite's control code only;
// the Windows encoding of SCARD_CTL_CODE(3400) is not a request here.
TEST_F(PinPadTest, FeatureListOnlyUnderThePcscLiteControlCode)
{
    AddReaderWithCard("Pad", PinPad::Direct);
    const SCARDHANDLE handle = Connect("Pad");
    Bytes features;
    ASSERT_EQ(CM_IOCTL_GET_FEATURE_REQUEST, DWORD(0x42000D48));
    ASSERT_EQ(Control(handle, CM_IOCTL_GET_FEATURE_REQUEST, {}, features, 264), SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(features), "06 04 42 33 00 06 07 04 42 33 00 07");
    EXPECT_EQ(Control(handle, 0x313520, {}, features, 264), SCARD_E_UNSUPPORTED_FEATURE);
    EXPECT_TRUE(features.empty());
}

TEST_F(PinPadTest, VerifyInsertsTheTypedPinIntoThePinBlock)
{
    AddReaderWithCard("Pad", PinPad::Direct);
    const SCARDHANDLE handle = Connect("Pad");
    Bytes answer;
    ScriptPinPad("Pad", PinEntry::Typing("1234"));
    ASSERT_EQ(Control(handle, kVerifyDirect, VerifyStructure(0x02, 8, 4, 0xFF), answer),
              SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(answer), "90 00");
    EXPECT_EQ(ToHex(LastCommand("Pad")), "00 20 00 01 08 31 32 33 34 FF FF FF FF");
    EXPECT_EQ(Transcript("Pad").back().call, "SCardControl VERIFY_PIN_DIRECT");

    // BCD, two digits a byte; unscripted entries type the card's PIN (4711).
    ASSERT_EQ(Control(handle, kVerifyDirect, VerifyStructure(0x01, 4, 4, 0xFF), answer),
              SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(LastCommand("Pad")), "00 20 00 01 04 47 11 FF FF");
    ScriptPinPad("Pad", PinEntry::Typing("12345"));
    ASSERT_EQ(Control(handle, kVerifyDirect, VerifyStructure(0x01, 8, 4, 0xFF), answer),
              SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(LastCommand("Pad")), "00 20 00 01 08 12 34 5F FF FF FF FF FF");
    EXPECT_EQ(PendingPinPadEntries("Pad"), 0u);
}

TEST_F(PinPadTest, ModifyPlacesOldAndNewPin)
{
    AddReaderWithCard("Pad", PinPad::Direct);
    const SCARDHANDLE handle = Connect("Pad");
    Bytes answer;
    ScriptPinPad("Pad", PinEntry::Changing("1234", "567890"));
    ASSERT_EQ(Control(handle, kModifyDirect, ModifyStructure(3, 8, 4), answer), SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(LastCommand("Pad")),
              "00 24 00 01 10 31 32 33 34 FF FF FF FF 35 36 37 38 39 30 FF FF");
    ScriptPinPad("Pad", PinEntry::Changing("", "5678"));
    ASSERT_EQ(Control(handle, kModifyDirect, ModifyStructure(1, 8, 4), answer), SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(LastCommand("Pad")), "00 24 01 01 08 35 36 37 38 FF FF FF FF");
    ScriptPinPad("Pad", PinEntry::Mismatched("1234", "5678"));
    ASSERT_EQ(Control(handle, kModifyDirect, ModifyStructure(3, 8, 4), answer), SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(answer), "64 02");
}

}  // namespace
}  // namespace cardsim::test
