// The loaders of one application per EF.DIR record (transparent directory
// files), fed through scripted card answers.

#include <gtest/gtest.h>

#include <vector>

#include "CardFixture.h"
#include "DerBuild.h"
#include "token/CardDetection.h"

using namespace Brelt::MW::Token;
using namespace token_test;
using namespace testder;
using Brelt::MW::Base::HexBinary;

namespace {

const Der kCiaAid = Hex("E828BD080FD70300001101");
const Der kPin = Tlv(0x30, {Tlv(0x30, {Prim(0x0C, "5A4550")}), Tlv(0x30, {Prim(0x04, "01")}),
                            Tlv(0xA1, {Tlv(0x30, {Prim(0x03, "0780"), Prim(0x0A, "01"), Prim(0x02, "06"),
                                                  Prim(0x02, "08"), Prim(0x02, "08"), Tlv(0xA0, {Prim(0x02, "03")})})})});
const Der kRsaKey = Tlv(0x30, {Tlv(0x30, {Prim(0x0C, "52")}), Tlv(0x30, {Prim(0x04, "01"), Prim(0x03, "0620")}),
                               Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4B01")}), Prim(0x02, "0800")})})});
const Der kEcKey = Tlv(0xA0, {Tlv(0x30, {Tlv(0x30, {Prim(0x0C, "45")}), Tlv(0x30, {Prim(0x04, "02")}),
                                         Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4B02")})})})})});
const Der kCert = Tlv(0x30, {Tlv(0x30, {Prim(0x0C, "43")}), Tlv(0x30, {Prim(0x04, "01")}),
                             Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4301")})})})});

Der Answer(const Der& data) { return Cat({data, Hex("9000")}); }

Der Fci(size_t size)
{
    return Answer(Tlv(0x62, {Tlv(0x80, {Der{static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)}})}));
}

class ProfileLoaders : public CardFixture {
protected:
    // Scripts the card's answers for loading one application from
    // transparent files: CIAInfo, ODF, AODF, PrKDF, CDF, each read once
    // although two object kinds share the AODF and the PrKDF.
    void ScriptApplication()
    {
        cardsim::ClearFaults();
        auto every = [](cardsim::Fault fault) {
            fault.everyTime = true;
            return fault;
        };
        const Der select = Cat({Hex("00A40400"), Der{static_cast<uint8_t>(kCiaAid.size())}, kCiaAid});
        cardsim::InjectFault(kReader, every(cardsim::Fault::AnswerWith(select, Answer(Tlv(0x62, {Prim(0x83, "1F01")})))));
        const std::pair<const char*, Der> files[] = {
            {"5032", Tlv(0x30, {Prim(0x02, "00"), Prim(0x80, "5A4550")})},
            {"5031", Cat({Tlv(0xA8, {Tlv(0x30, {Prim(0x04, "4401")})}), Tlv(0xA0, {Tlv(0x30, {Prim(0x04, "4402")})}),
                          Tlv(0xA4, {Tlv(0x30, {Prim(0x04, "4404")})})})},
            {"4401", Cat({kPin, Hex("0000")})},
            {"4402", Cat({kRsaKey, kEcKey})},
            {"4404", kCert},
        };
        unsigned read = 0;
        for (const auto& [fileId, data] : files) {
            cardsim::InjectFault(kReader, every(cardsim::Fault::AnswerWith(Cat({Hex("00A4000002"), Hex(fileId)}),
                                                                           Fci(data.size()))));
            cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith(Hex("00B00000"), Answer(data), ++read));
        }
    }

    EfDirRecords Records()
    {
        EfDirRecords records(2);
        records[0].aid = std::make_unique<HexBinary>(kCiaAid.data(), static_cast<int32_t>(kCiaAid.size()), true);
        records[0].label = std::make_unique<HexBinary>("5A455020617070");
        records[0].ddoAid = std::make_unique<HexBinary>("A0000001674553494746");
        return records;  // the second record names no application
    }
};

}  // namespace

TEST_F(ProfileLoaders, QesEacLoaderReadsTransparentFilesOfEveryRecord)
{
    Insert("QES50");
    ScriptApplication();
    ApplicationInfoList local;
    ASSERT_EQ(LoadAppsInfo_QesEac(slot_.get(), CardOSv50, QesEacProfile, Records(), local), CKR_OK);
    ASSERT_EQ(local.size(), 1u);
    const ApplicationInfo& application = *local.at(kFirstSlotId);
    EXPECT_EQ(application.DescriptiveString->ToCharString(), "ZEP app");
    EXPECT_EQ(application.IasAid->ToString(), "A0000001674553494746");
    EXPECT_EQ(application.Fid->ToString(), "1F01");
    EXPECT_EQ(application.CiaInfo->label->ToCharString(), "ZEP");
    EXPECT_EQ(application.ObjectLists.size(), 8u);
    EXPECT_EQ(application.FindObjectList(kKindPin)->objects.at(0)->AsPasswordAttributes()->pwdReference, 3);
    EXPECT_EQ(application.FindObjectList(kKindRsaPrivateKey)->objects.size(), 1u);
    // EC keys of this profile sit one level deeper inside their [0] element.
    const CIOObjectList* ecKeys = application.FindObjectList(kKindEcPrivateKey);
    ASSERT_EQ(ecKeys->objects.size(), 1u);
    EXPECT_EQ(ecKeys->objects[0]->AsECKeyAttributes()->path->ToString(), "4B02");
    EXPECT_EQ(ecKeys->path->ToString(), "4402");
    EXPECT_TRUE(application.FindObjectList(kKindRsaPublicKey)->objects.empty());
    EXPECT_EQ(application.FindObjectList(kKindCertificate)->objects.size(), 1u);

    EXPECT_EQ(LoadAppsInfo_QesEac(nullptr, CardOSv50, QesEacProfile, Records(), local), CKR_ARGUMENTS_BAD);
}

TEST_F(ProfileLoaders, SigZepEpLoaderAdmitsOnlyWhatThePinCheckPasses)
{
    Insert("ZEP50");
    ScriptApplication();
    ApplicationInfoList refused;
    ASSERT_EQ(LoadAppsInfo_SigZepEp(slot_.get(), CardOSv50, SigZepEpProfile, Records(), refused,
                                    [](const Brelt::MW::Card::Slot*, const ApplicationInfo&) { return false; }),
              CKR_OK);
    EXPECT_TRUE(refused.empty());

    ScriptApplication();
    ApplicationInfoList admitted;
    ASSERT_EQ(LoadAppsInfo_SigZepEp(slot_.get(), CardOSv50, SigZepEpProfile, Records(), admitted,
                                    [](const Brelt::MW::Card::Slot*, const ApplicationInfo& app) {
                                        return app.FindObjectList(kKindPin) != nullptr;
                                    }),
              CKR_OK);
    ASSERT_EQ(admitted.size(), 1u);
    EXPECT_EQ(admitted.at(kFirstSlotId)->Profile, SigZepEpProfile);
}

TEST_F(ProfileLoaders, CardWithoutEsignRecordsIsNotTakenForQesEac)
{
    // An EF.DIR record without 4F beside the PKCS#15 application.
    Insert("DEF50");
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith(
        Hex("00B00000"), Answer(Cat({Tlv(0x61, {Prim(0x50, "41")}),
                                     Tlv(0x61, {Prim(0x4F, "A000000063504B43532D3135")})}))));
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith(Hex("00A40000022F00"), Fci(21)));
    std::vector<Brelt::MW::Card::SlotPtr> slots;
    uint32_t own = 0;
    ASSERT_EQ(LoadReaderApplications(kReader, slot_.get(), slots, &own, PlainSlots()), CKR_OK);
    EXPECT_EQ(slots.size(), 1u);
    ApplicationInfoPtr application;
    ASSERT_EQ(GetApplicationInfo(kFirstSlotId, application), CKR_OK);
    ASSERT_NE(application, nullptr);
    EXPECT_EQ(application->Profile, DefaultProfile);
}
