// Reader set taken from CARDSIM_CARDS / CARDSIM_PINPAD_PIN on first use. Each
// suite runs in its own process with its own environment (see CMakeLists.txt).
#include <cardsim/Card.h>
#include <cardsim/Readers.h>

#include <gtest/gtest.h>
#include <reader.h>

#include <cstring>

namespace cardsim::test {
namespace {

std::vector<std::string> ListedReaders()
{
    SCARDCONTEXT context = 0;
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    LPSTR names = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    std::vector<std::string> readers;
    if (SCardListReaders(context, nullptr, reinterpret_cast<LPSTR>(&names), &length) ==
        SCARD_S_SUCCESS) {
        for (const char* name = names; *name != '\0'; name += std::strlen(name) + 1) {
            readers.emplace_back(name);
        }
        SCardFreeMemory(context, names);
    }
    SCardReleaseContext(context);
    return readers;
}

// CARDSIM_CARDS="DEF44@PIN pad 1,@Spare", CARDSIM_PINPAD_PIN=5678
TEST(FromSetting, ReadersCardsAndPinPadPin)
{
    EXPECT_EQ(ListedReaders(), (std::vector<std::string>{"PIN pad 1", "Spare"}));
    const auto card = CardIn("PIN pad 1");
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->Os(), CardOs::V44);
    EXPECT_EQ(IccIn("Spare"), nullptr);

    SCARDCONTEXT context = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(context, "PIN pad 1", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &handle,
                           &protocol),
              SCARD_S_SUCCESS);
    // VERIFY of reference 01, ASCII, 4 to 8 digits padded with FF.
    Bytes structure = {0xFF, 0xFF, 0x02, 0x08, 0x00, 0x08, 0x04, 0x02, 0xFF, 0x1B, 0x04,
                       0x00, 0x00, 0x00, 0x00, 13,   0x00, 0x00, 0x00, 0x00, 0x20, 0x00,
                       0x01, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    BYTE answer[2];
    DWORD returned = 0;
    ASSERT_EQ(SCardControl(handle, SCARD_CTL_CODE(0x330000 + FEATURE_VERIFY_PIN_DIRECT),
                           structure.data(), DWORD(structure.size()), answer, 2, &returned),
              SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(Transcript("PIN pad 1").back().command),
              "00 20 00 01 08 35 36 37 38 FF FF FF FF");
    SCardReleaseContext(context);
}

}  // namespace
}  // namespace cardsim::test
