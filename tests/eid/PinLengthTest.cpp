// The PIN length of EF.CardAccess reaches the PIN objects of a new card's
// application: only those that do not fix their own length, and only when the
// file names a usable length.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "EidTestData.h"
#include "card/TokenCardApplications.h"
#include "eID/SecurityInfos.h"
#include "token/ApplicationInfoList.h"

using namespace Brelt::MW::Token;
using Brelt::MW::Base::HexBinary;
using eidtest::Hex;
using eidtest::IntInfo;
using eidtest::SetOf;
using FileBytes = std::vector<uint8_t>;

namespace {

constexpr CK_SLOT_ID kSlot = 7;

class CardAccessPinLength : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearApplicationList();
        auto application = std::make_shared<ApplicationInfo>();
        auto pins = std::make_unique<CIOObjectList>(kKindPin);
        // pwdFlags: bit 1 set (fixed length), bit 1 clear, bit 1 outside the used bits.
        for (const char* flags : {"0640", "0680", "0780"}) {
            auto pin = std::make_unique<PINAuthenticationObject>(static_cast<uint32_t>(pins->objects.size()), nullptr);
            PasswordAttributes* attributes = pin->AsPasswordAttributes();
            attributes->pwdFlags = std::make_unique<HexBinary>(std::string(flags));
            attributes->minLength = 4;
            attributes->maxLength = 8;
            pins->objects.push_back(std::move(pin));
        }
        application->ObjectLists.push_back(std::move(pins));
        GlobalApplicationList()[static_cast<uint32_t>(kSlot)] = application;
        application_ = application;
    }
    void TearDown() override { ClearApplicationList(); }

    void Apply(const FileBytes& cardAccess)
    {
        Brelt::MW::Card::MakeTokenCardApplications()->ApplyCardAccessPinLength(kSlot, cardAccess);
    }

    std::vector<std::pair<uint32_t, uint32_t>> PinLengths() const
    {
        std::vector<std::pair<uint32_t, uint32_t>> lengths;
        for (const auto& pin : application_->ObjectLists[0]->objects)
            lengths.emplace_back(pin->AsPasswordAttributes()->minLength, pin->AsPasswordAttributes()->maxLength);
        return lengths;
    }

    ApplicationInfoPtr application_;
};

using Lengths = std::vector<std::pair<uint32_t, uint32_t>>;

}  // namespace

TEST_F(CardAccessPinLength, GoesToPinsWithoutAFixedLength)
{
    Apply(SetOf({IntInfo(Brelt::Crypto::EIDStruct::kOidPinInfo, 1, 6)}));
    EXPECT_EQ(PinLengths(), (Lengths{{4, 8}, {6, 6}, {6, 6}}));
}

TEST_F(CardAccessPinLength, WithoutAUsableLengthThePinsKeepTheirOwn)
{
    const std::vector<FileBytes> files{
        SetOf({IntInfo(Brelt::Crypto::EIDStruct::kOidCaEcdh3Des, 2, 1)}),  // no PinInfo
        SetOf({IntInfo(Brelt::Crypto::EIDStruct::kOidPinInfo, 1, 0)}),
        {0x31, 0x82, 0xFF},                                                 // damaged
    };
    for (const FileBytes& file : files) {
        Apply(file);
        EXPECT_EQ(PinLengths(), (Lengths{{4, 8}, {4, 8}, {4, 8}})) << Hex(file).ToString();
    }
    // A slot without an application is left alone.
    Brelt::MW::Card::MakeTokenCardApplications()->ApplyCardAccessPinLength(
        kSlot + 1, SetOf({IntInfo(Brelt::Crypto::EIDStruct::kOidPinInfo, 1, 6)}));
    EXPECT_EQ(PinLengths(), (Lengths{{4, 8}, {4, 8}, {4, 8}}));
}
