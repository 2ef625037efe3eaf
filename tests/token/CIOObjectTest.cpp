// Directory entries read into objects, and objects encoded back.

#include <gtest/gtest.h>

#include "DerBuild.h"
#include "token/CIOObject.h"

using namespace Brelt::MW::Token;
using namespace testder;
using Brelt::MW::Base::HexBinary;

namespace {

const Der kRules = Tlv(0x30, {
    Tlv(0x30, {Prim(0x03, "0640"), Prim(0x04, "01")}),
    Tlv(0x30, {Prim(0x03, "0780"), Tlv(0xA0, {Prim(0x04, "02")})}),
    Tlv(0x30, {Prim(0x03, "0780"),
               Tlv(0xA1, {Tlv(0x30, {Prim(0x05, ""), Tlv(0x30, {Prim(0x03, "0780"), Prim(0x02, "01")})})})}),
});
const Der kKeyCommon = Tlv(0x30, {Prim(0x0C, "5369676E"), Prim(0x03, "0640"), Prim(0x04, "01"), kRules});
const Der kKeyClass = Tlv(0x30, {Prim(0x04, "45"), Prim(0x03, "062040"), Prim(0x01, "00"), Prim(0x03, "03B8"),
                                   Prim(0x02, "02"), Tlv(0xA1, {Tlv(0x30, {Prim(0x02, "01"), Prim(0x02, "05")})})});
const Der kSubclass = Tlv(0xA0, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "")})})});
// keyInfo in its INTEGER reference form.
const Der kRsaType = Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "3F004401")}), Prim(0x02, "0800"), Prim(0x02, "05")})});
const Der kRsaEntry = Tlv(0x30, {kKeyCommon, kKeyClass, kSubclass, kRsaType});

std::unique_ptr<CIOObject> Create(CioFileKind kind, const Der& der, uint32_t profile = DefaultProfile,
                                  size_t alreadyInList = 0, CK_RV* rv = nullptr)
{
    CIOObjectList list(kind);
    for (size_t i = 0; i < alreadyInList; ++i) list.objects.push_back(std::make_unique<RSAPubKeyObject>());
    std::unique_ptr<CIOObject> object;
    const auto node = Node(der);
    const CK_RV result = CreateCIOObject(object, *node, list, profile);
    if (rv != nullptr) *rv = result;
    return object;
}

Der Encoded(const CIOObject& object, CK_RV expected = CKR_OK)
{
    HexBinary out;
    EXPECT_EQ(object.GetASN(out), expected);
    return FromHex(out);
}

}  // namespace

TEST(CIOObject, RsaPrivateKeyEntryFillsEveryReadField)
{
    const auto key = Create(kKindRsaPrivateKey, kRsaEntry, DefaultProfile, 2);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->type, kTypeRsaPrivateKey);
    EXPECT_EQ(key->handle, 0x00030002u);

    const CommonObjectAttributes* common = key->GetCommonObjectRecord();
    EXPECT_EQ(FromHex(common->label.get()), Hex("5369676E"));
    EXPECT_EQ(FromHex(common->flags.get()), Hex("0640"));
    EXPECT_EQ(FromHex(common->authId.get()), Hex("01"));
    EXPECT_EQ(common->userConsent, nullptr);
    ASSERT_EQ(common->accessControlRules.size(), 3u);
    EXPECT_EQ(FromHex(common->accessControlRules[0].condition->authId.get()), Hex("01"));
    const SecurityCondition& notRule = *common->accessControlRules[1].condition;
    ASSERT_NE(notRule.notCondition, nullptr);
    EXPECT_EQ(FromHex(notRule.notCondition->authId.get()), Hex("02"));
    const SecurityCondition& andRule = *common->accessControlRules[2].condition;
    ASSERT_NE(andRule.andCondition, nullptr);
    EXPECT_EQ(andRule.andCondition->always, 1u);
    ASSERT_NE(andRule.andCondition->authReference, nullptr);
    EXPECT_EQ(FromHex(andRule.andCondition->authReference->seIdentifier.get()), Hex("01"));

    const CommonKeyAttributes* keySet = key->AsCommonKeyAttributes();
    ASSERT_NE(keySet, nullptr);
    EXPECT_EQ(FromHex(keySet->iD.get()), Hex("45"));
    EXPECT_EQ(FromHex(keySet->usage.get()), Hex("062040"));
    EXPECT_EQ(keySet->native, 0);
    EXPECT_EQ(FromHex(keySet->accessFlags.get()), Hex("03B8"));
    ASSERT_NE(keySet->keyReference, nullptr);
    EXPECT_EQ(*keySet->keyReference, 2u);
    ASSERT_EQ(keySet->algReference.size(), 2u);
    EXPECT_EQ(FromHex(keySet->algReference[1].get()), Hex("05"));

    const RSAKeyAttributes* rsa = key->AsRSAKeyAttributes();
    ASSERT_NE(rsa, nullptr);
    EXPECT_EQ(FromHex(rsa->path.get()), Hex("3F004401"));
    EXPECT_EQ(rsa->modulusLength, 0x0800);
    EXPECT_EQ(FromHex(rsa->keyInfo.get()), Hex("05"));
    EXPECT_EQ(key->AsECKeyAttributes(), nullptr);
    EXPECT_EQ(key->AsPasswordAttributes(), nullptr);
}

TEST(CIOObject, UnchangedEntryIsWrittenBackByteForByte)
{
    const auto key = Create(kKindRsaPrivateKey, kRsaEntry);
    ASSERT_NE(key, nullptr);
    // The [0] subclass element is not read, yet survives the write-back.
    EXPECT_EQ(Encoded(*key), kRsaEntry);
}

TEST(CIOObject, ChangedEntryIsReencodedAndReadsBackTheSame)
{
    const auto key = Create(kKindRsaPrivateKey, kRsaEntry);
    ASSERT_NE(key, nullptr);
    key->GetCommonObjectRecord()->label = std::make_unique<HexBinary>("4B6579");
    const Der rewritten = Encoded(*key);
    const Der newCommon = Tlv(0x30, {Prim(0x0C, "4B6579"), Prim(0x03, "0640"), Prim(0x04, "01"), kRules});
    // The INTEGER keyInfo keeps its tag and the and-condition its [1] { SEQUENCE } form.
    EXPECT_EQ(rewritten, Tlv(0x30, {newCommon, kKeyClass, kRsaType}));

    const auto again = Create(kKindRsaPrivateKey, rewritten);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(FromHex(again->AsRSAKeyAttributes()->keyInfo.get()), Hex("05"));
    EXPECT_EQ(again->GetCommonObjectRecord()->accessControlRules[2].condition->andCondition->always, 1u);
}

TEST(CIOObject, KeyWithoutNativeOrIdKeepsDefaultsAndEncodesWithoutBoolean)
{
    const Der entry = Tlv(0x30, {Tlv(0x30, {Prim(0x0C, "41")}),
                                   Tlv(0x30, {Prim(0x04, "11"), Prim(0x03, "0520")}),
                                   Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4402")}), Prim(0x02, "0400")})})});
    // Built without keeping the card entry: encoded from the fields alone.
    const HexBinary der = ToHex(entry);
    RSAPrvKeyObject key(0x00030000, &der);
    EXPECT_EQ(key.AsCommonKeyAttributes()->native, 1);
    EXPECT_EQ(Encoded(key), entry);

    // Without iD the usage sits at child 0 and is not taken from there.
    const Der noId = Tlv(0x30, {Tlv(0x30, {}), Tlv(0x30, {Prim(0x03, "0520"), Prim(0x03, "0640"), Prim(0x01, "00")}),
                                  Tlv(0xA1, {Tlv(0x30, {Prim(0x02, "0400")})})});
    const auto key2 = Create(kKindRsaPrivateKey, noId);
    ASSERT_NE(key2, nullptr);
    EXPECT_EQ(FromHex(key2->AsCommonKeyAttributes()->usage.get()), Hex("0640"));
    EXPECT_EQ(key2->AsCommonKeyAttributes()->native, 0);
}

TEST(CIOObject, PinEntryReadsPositionalPasswordAttributes)
{
    const Der common = Tlv(0x30, {Prim(0x0C, "50494E"), Prim(0x03, "06C0")});
    const Der auth = Tlv(0x30, {Prim(0x04, "01"), Prim(0x02, "03"), Prim(0x80, "02")});
    const Der withReference = Tlv(0x30, {common, auth, Tlv(0xA1, {Tlv(0x30, {
        Prim(0x03, "020C"), Prim(0x0A, "01"), Prim(0x02, "04"), Prim(0x02, "08"), Prim(0x02, "0C"),
        Tlv(0xA0, {Prim(0x02, "01")}), Prim(0x04, "FF"), Tlv(0x30, {Prim(0x04, "3F005015")})})})});
    const auto pin = Create(kKindPin, withReference);
    ASSERT_NE(pin, nullptr);
    const PasswordAttributes* pwd = pin->AsPasswordAttributes();
    ASSERT_NE(pwd, nullptr);
    EXPECT_EQ(FromHex(pwd->pwdFlags.get()), Hex("020C"));
    EXPECT_EQ(FromHex(pwd->pwdType.get()), Hex("01"));
    EXPECT_EQ(pwd->minLength, 4u);
    EXPECT_EQ(pwd->storedLength, 8u);
    EXPECT_EQ(pwd->maxLength, 12u);
    EXPECT_EQ(pwd->pwdReference, 1);
    EXPECT_EQ(FromHex(pwd->padChar.get()), Hex("FF"));
    EXPECT_EQ(FromHex(pwd->path.get()), Hex("3F005015"));
    const auto* authSet = pin->GetCommonAuthObjectAttributes();
    ASSERT_NE(authSet, nullptr);
    EXPECT_EQ(authSet->authReference, 3u);
    EXPECT_EQ(authSet->seIdentifier, 2u);
    // PIN entries go back as read; without a card entry there is nothing to write.
    EXPECT_EQ(Encoded(*pin), withReference);
    PINAuthenticationObject fresh(0x00010000, nullptr);
    Encoded(fresh, CKR_FUNCTION_NOT_SUPPORTED);

    const Der primitiveReference = Tlv(0x30, {common, auth, Tlv(0xA1, {Tlv(0x30, {
        Prim(0x03, "020C"), Prim(0x0A, "01"), Prim(0x02, "04"), Prim(0x02, "08"), Prim(0x02, "0C"),
        Prim(0x80, "01")})})});
    const auto pin2 = Create(kKindPin, primitiveReference);
    ASSERT_NE(pin2, nullptr);
    EXPECT_EQ(pin2->AsPasswordAttributes()->pwdReference, -1);
}

TEST(CIOObject, EcPrivateKeyPlainAndWrappedForms)
{
    const Der parts[] = {Tlv(0x30, {Prim(0x0C, "4543")}), Tlv(0x30, {Prim(0x04, "46"), Prim(0x03, "0620")}),
                           Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4410")})})})};
    const Der plain = Tlv(0xA0, {parts[0], parts[1], parts[2]});
    const Der wrapped = Tlv(0xA0, {Tlv(0x30, {parts[0], parts[1], parts[2]})});
    for (const auto& [der, profile] : {std::pair{plain, uint32_t{DefaultProfile}}, std::pair{wrapped, uint32_t{QesEacProfile}}}) {
        const auto key = Create(kKindEcPrivateKey, der, profile);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->type, kTypeEcPrivateKey);
        EXPECT_EQ(FromHex(key->AsECKeyAttributes()->path.get()), Hex("4410"));
        EXPECT_EQ(FromHex(key->AsCommonKeyAttributes()->iD.get()), Hex("46"));
        // A changed EC key is written in the [0] form its profile reads.
        key->GetCommonObjectRecord()->label.reset();
        const Der rewritten = Encoded(*key);
        const auto again = Create(kKindEcPrivateKey, rewritten, profile);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(FromHex(again->AsECKeyAttributes()->path.get()), Hex("4410"));
        EXPECT_EQ(again->GetCommonObjectRecord()->label, nullptr);
    }
}

TEST(CIOObject, CertificateAndDataObjectEntries)
{
    const Der cert = Tlv(0x30, {Tlv(0x30, {Prim(0x0C, "43")}), Tlv(0x30, {Prim(0x04, "45"), Prim(0x01, "FF")}),
                                  Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4301")}), Prim(0x02, "0102")})})});
    const auto certificate = Create(kKindCertificate, cert);
    ASSERT_NE(certificate, nullptr);
    ASSERT_NE(certificate->AsCommonCertificateAttributes()->authority, nullptr);
    EXPECT_EQ(*certificate->AsCommonCertificateAttributes()->authority, 1);
    EXPECT_EQ(FromHex(certificate->AsCertificateAttributes()->serial.get()), Hex("0102"));
    certificate->GetCommonObjectRecord()->flags = std::make_unique<HexBinary>("0600");
    const auto again = Create(kKindCertificate, Encoded(*certificate));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(FromHex(again->AsCertificateAttributes()->path.get()), Hex("4301"));
    EXPECT_EQ(FromHex(again->AsCommonCertificateAttributes()->iD.get()), Hex("45"));

    const Der data = Tlv(0x30, {Tlv(0x30, {Prim(0x0C, "44")}),
                                  Tlv(0x30, {Prim(0x0C, "617070"), Prim(0x06, "2A0304"), Prim(0x04, "09")}),
                                  Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4501")})})})});
    const auto object = Create(kKindDataObject, data);
    ASSERT_NE(object, nullptr);
    const auto* dc = dynamic_cast<CommonDCObjectAttributes*>(object->classAttributes.get());
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(FromHex(dc->applicationOID.get()), Hex("2A0304"));
    EXPECT_EQ(FromHex(dynamic_cast<OpaqueDOAttributes*>(object->typeAttributes.get())->path.get()), Hex("4501"));
    Encoded(*object, CKR_FUNCTION_NOT_SUPPORTED);
}

TEST(CIOObject, KindsWithoutEncoderAnswerNotSupported)
{
    CVCAuthenticationObject cvc(0x00020000, nullptr);
    ECPubKeyObject ecPublic(0x00060000, nullptr);
    RSAPubKeyObject sessionKey;
    Encoded(cvc, CKR_FUNCTION_NOT_SUPPORTED);
    Encoded(ecPublic, CKR_FUNCTION_NOT_SUPPORTED);
    Encoded(sessionKey, CKR_FUNCTION_NOT_SUPPORTED);
}

TEST(CreateCIOObject, RefusedEntriesLeaveTheHolderEmpty)
{
    CIOObjectList list(kKindRsaPrivateKey);
    std::unique_ptr<CIOObject> holder;
    const Der entries[] = {kRsaEntry, Tlv(0xA0, {Tlv(0x30, {})}), kRsaEntry};
    std::vector<uint32_t> handles;
    for (const Der& entry : entries) {
        // The holder is reused: a skipped entry must not hand the last object back.
        ASSERT_EQ(CreateCIOObject(holder, *Node(entry), list, DefaultProfile), CKR_OK);
        if (holder) {
            handles.push_back(holder->handle);
            list.objects.push_back(std::move(holder));
        }
    }
    EXPECT_EQ(handles, (std::vector<uint32_t>{0x00030000, 0x00030001}));

    CIOObjectList noKind(9);
    holder = std::make_unique<RSAPubKeyObject>();
    EXPECT_EQ(CreateCIOObject(holder, *Node(kRsaEntry), noKind, DefaultProfile), CKR_OK);
    EXPECT_EQ(holder, nullptr);
}

TEST(CreateCIOObject, OversizedIntegerIsRefusedWithoutObject)
{
    const Der badKeyReference = Tlv(0x30, {Tlv(0x30, {}), Tlv(0x30, {Prim(0x04, "45"), Prim(0x03, "0620"),
                                                                         Prim(0x02, "0100000000")})});
    const Der negativeConsent = Tlv(0x30, {Tlv(0x30, {Prim(0x02, "FF")})});
    for (const Der& entry : {badKeyReference, negativeConsent}) {
        CK_RV rv = CKR_OK;
        EXPECT_EQ(Create(kKindRsaPrivateKey, entry, DefaultProfile, 0, &rv), nullptr);
        EXPECT_EQ(rv, CKR_ARGUMENTS_BAD);
    }
}

TEST(DeleteSessionObjects, EmptiesListsAndIgnoresNull)
{
    CIOObjectLists lists;
    lists.push_back(std::make_unique<CIOObjectList>(kKindRsaPublicKey));
    lists[0]->objects.push_back(std::make_unique<RSAPubKeyObject>());
    DeleteSessionObjects(&lists);
    EXPECT_TRUE(lists.empty());
    DeleteSessionObjects(nullptr);
}
