// Attribute getters and setters of keys and certificates, flag bits, template
// look-ups and the BER-TLV walker.

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "TokenObjects.h"
#include "token/AttributeGetters.h"
#include "token/AttributeTemplate.h"
#include "token/BerTlv.h"
#include "token/BitStringFlags.h"

using namespace attrstest;

namespace {

struct Answer {
    CK_RV rv;
    CK_ULONG length;
    std::vector<uint8_t> bytes;
};

// Asks one attribute with a buffer of `room` bytes (or as a size query).
Answer Ask(TokenFixture& t, CIOObject* object, CK_ATTRIBUTE_TYPE type, CK_ULONG room = 512, bool sizeQuery = false)
{
    const AttributeGetter getter = GetAttributeGetter(object->type);
    std::vector<uint8_t> buffer(room + 1, 0xEE);
    CK_ULONG length = room;
    const CK_RV rv = getter(t.source, object->handle, object, type, sizeQuery ? nullptr : buffer.data(), &length);
    if (rv == CKR_OK && !sizeQuery && length != CK_UNAVAILABLE_INFORMATION) buffer.resize(length);
    return {rv, length, buffer};
}

CK_ULONG AsUlong(const Answer& a)
{
    CK_ULONG value = 0;
    EXPECT_EQ(a.length, sizeof(CK_ULONG));
    std::memcpy(&value, a.bytes.data(), sizeof(value));
    return value;
}

TEST(BerTlv, WalksTemplateChildren)
{
    const uint8_t fcp[] = {0x62, 0x07, 0x82, 0x01, 0x01, 0x83, 0x02, 0x2F, 0x00};
    uint16_t position = 0, end = 0;
    EXPECT_EQ(FindTlvTag(fcp, sizeof fcp, 0x83, &position, &end), 5);
    position = end = 0;
    EXPECT_EQ(FindTlvTag(fcp, sizeof fcp, 0x84, &position, &end), kTlvInvalid);

    // Repeated tags are found one after another.
    const uint8_t list[] = {0x30, 0x08, 0x86, 0x02, 0xEF, 0x01, 0x86, 0x02, 0xEF, 0x05};
    position = end = 0;
    EXPECT_EQ(FindTlvTag(list, sizeof list, 0x86, &position, &end), 2);
    EXPECT_EQ(FindTlvTag(list, sizeof list, 0x86, &position, &end), 6);
    EXPECT_EQ(FindTlvTag(list, sizeof list, 0x86, &position, &end), kTlvInvalid);
}

TEST(BerTlv, RefusesCutOrMalformedHeaders)
{
    const uint8_t cutLength[] = {0x30, 0x82, 0x01};
    uint16_t value = 0, header = 0;
    GetTlvHeader(cutLength, sizeof cutLength, &value, &header);
    EXPECT_EQ(header, kTlvInvalid);
    const uint8_t openTag[] = {0x5F, 0x80, 0x81};
    EXPECT_EQ(GetTlvTagSize(openTag, sizeof openTag), kTlvInvalid);
    const uint8_t fiveLengthBytes[] = {0x04, 0x85, 0, 0, 0, 0, 1, 0xAA};
    EXPECT_EQ(GetTlvValueLength(fiveLengthBytes, sizeof fiveLengthBytes), kTlvInvalid);
    // A value longer than the answer: the walk stops instead of reading on.
    const uint8_t longValue[] = {0x62, 0x7F, 0x83, 0x02};
    uint16_t position = 0, end = 0;
    EXPECT_EQ(FindTlvTag(longValue, sizeof longValue, 0x83, &position, &end), kTlvInvalid);

    uint8_t out[8] = {};
    uint16_t at = 0;
    PutTlvTag(out, 0x5F20, &at);
    PutTlvLength(out, 200, &at);
    PutTlvLength(out, 300, &at);
    EXPECT_EQ(ToHex(out, at), "5F2081C882012C");
}

TEST(BitStringFlags, UsedBitsOnlyAndUnusedTailGrows)
{
    const auto flags = Hex("0780");
    bool value = false;
    EXPECT_TRUE(GetFlagAtIndex(flags->data, flags->length, 0, &value));
    EXPECT_TRUE(value);
    EXPECT_FALSE(GetFlagAtIndex(flags->data, flags->length, 1, &value));
    EXPECT_FALSE(GetFlagAtIndex(flags->data, 0, 0, &value));

    auto usage = Hex("0780");
    EXPECT_TRUE(SetFlagAtIndex(usage->data, usage->length, 6, true));
    EXPECT_EQ(usage->ToString(), "0182");
    EXPECT_FALSE(SetFlagAtIndex(usage->data, usage->length, 8, true));
}

TEST(CertificateAttributes, ValueSizesShortBuffersAndUnavailable)
{
    TokenFixture t;
    const auto& der = TestCertificate::Get().der;

    Answer a = Ask(t, t.signCert, CKA_VALUE, 0, true);
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.length, der.size());
    a = Ask(t, t.signCert, CKA_VALUE, der.size() - 1);
    EXPECT_EQ(a.rv, CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(a.length, CK_UNAVAILABLE_INFORMATION);
    a = Ask(t, t.signCert, CKA_VALUE, 4096);
    ASSERT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.bytes, der);
    EXPECT_EQ(t.certificateReads, 1) << "the certificate file is read once per object";

    for (bool sizeQuery : {true, false}) {
        a = Ask(t, t.signCert, CKA_CHECK_VALUE, 16, sizeQuery);
        EXPECT_EQ(a.rv, CKR_OK);
        EXPECT_EQ(a.length, CK_UNAVAILABLE_INFORMATION);
        if (!sizeQuery) {
            EXPECT_EQ(a.bytes[0], 0xEE) << "nothing written";
        }
    }

    EXPECT_EQ(AsUlong(Ask(t, t.signCert, CKA_CLASS)), CKO_CERTIFICATE);
    EXPECT_EQ(Ask(t, t.signCert, CKA_START_DATE).bytes, std::vector<uint8_t>({'2', '0', '2', '1', '0', '7', '0', '5'}));
    EXPECT_EQ(Ask(t, t.signCert, CKA_END_DATE).bytes, std::vector<uint8_t>({'2', '0', '2', '1', '1', '1', '3', '0'}));
    EXPECT_EQ(ToHex(Ask(t, t.signCert, CKA_SERIAL_NUMBER).bytes.data(), 3), "0A0B0C");
    EXPECT_EQ(Ask(t, t.signCert, CKA_MODULUS).rv, CKR_ATTRIBUTE_TYPE_INVALID);

    // No file path: the certificate fields are unavailable.
    EXPECT_EQ(Ask(t, t.caCert, CKA_VALUE).length, CK_UNAVAILABLE_INFORMATION);
}

TEST(CertificateAttributes, ReadErrorIsTypeInvalidInBothForms)
{
    TokenFixture t;
    t.certificateReadResult = CKR_FUNCTION_FAILED;
    EXPECT_EQ(Ask(t, t.signCert, CKA_VALUE, 0, true).rv, CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(Ask(t, t.signCert, CKA_VALUE).rv, CKR_ATTRIBUTE_TYPE_INVALID);
    t.certificateReadResult = CKR_DEVICE_ERROR;
    EXPECT_EQ(Ask(t, t.signCert, CKA_SUBJECT).rv, CKR_DEVICE_ERROR);
}

TEST(KeyAttributes, EveryKindAnswersItsTable)
{
    TokenFixture t;
    EXPECT_EQ(AsUlong(Ask(t, t.signKey, CKA_CLASS)), CKO_PRIVATE_KEY);
    EXPECT_EQ(AsUlong(Ask(t, t.signKey, CKA_MODULUS_BITS)), 2048u);
    // Usage bits decide sign/decrypt; the private key never leaves the card.
    t.authKey->GetCommonObjectRecord()->authId = Hex("02");
    const std::tuple<CIOObject*, CK_ATTRIBUTE_TYPE, uint8_t> flags[] = {
        {t.signKey, CKA_SIGN, CK_TRUE},          {t.signKey, CKA_DECRYPT, CK_FALSE},
        {t.authKey, CKA_DECRYPT, CK_TRUE},       {t.signKey, CKA_SENSITIVE, CK_TRUE},
        {t.signKey, CKA_EXTRACTABLE, CK_FALSE},  {t.signKey, CKA_KEY_FILE_ID, 0x01},
        {t.signKey, CKA_SECONDARY_AUTH, CK_FALSE}, {t.authKey, CKA_SECONDARY_AUTH, CK_TRUE},
        {t.signKey, CKA_PRIVATE, CK_TRUE},       {t.signCert, CKA_PRIVATE, CK_FALSE},
    };
    for (const auto& [object, type, expected] : flags)
        EXPECT_EQ(Ask(t, object, type).bytes, std::vector<uint8_t>{expected}) << std::hex << type;
    EXPECT_EQ(Ask(t, t.signKey, CKA_PRIVATE_EXPONENT).length, CK_UNAVAILABLE_INFORMATION);

    // The modulus of a private key comes from the certificate with its iD.
    const Answer modulus = Ask(t, t.signKey, CKA_MODULUS);
    ASSERT_EQ(modulus.rv, CKR_OK);
    EXPECT_EQ(modulus.bytes, Botan::BigInt::encode(TestCertificate::Get().key->get_n()));
    EXPECT_EQ(Ask(t, t.authKey, CKA_MODULUS).length, CK_UNAVAILABLE_INFORMATION) << "no certificate with iD 0102";

    EXPECT_EQ(AsUlong(Ask(t, t.publicKey, CKA_CLASS)), CKO_PUBLIC_KEY);
    EXPECT_EQ(Ask(t, t.publicKey, CKA_VERIFY).bytes, std::vector<uint8_t>{CK_TRUE});
    EXPECT_EQ(Ask(t, t.publicKey, CKA_MODULUS).length, CK_UNAVAILABLE_INFORMATION) << "no key file reader";
    // A PIN object has no attributes.
    EXPECT_EQ(GetAttributeGetter(kTypePin), nullptr);
    EXPECT_EQ(GetAttributeGetter(kTypeDataObject), nullptr);
}

TEST(KeyAttributes, AttributesOfTheOtherKeyKindAreTypeInvalidForSizeQueriesToo)
{
    TokenFixture t;
    for (bool sizeQuery : {true, false}) {
        EXPECT_EQ(Ask(t, t.publicKey, CKA_SENSITIVE, 8, sizeQuery).rv, CKR_ATTRIBUTE_TYPE_INVALID);
        EXPECT_EQ(Ask(t, t.signKey, CKA_ENCRYPT, 8, sizeQuery).rv, CKR_ATTRIBUTE_TYPE_INVALID);
        EXPECT_EQ(Ask(t, t.signKey, CKA_ENCRYPT, 8, sizeQuery).length, CK_UNAVAILABLE_INFORMATION);
    }
    EXPECT_EQ(Ask(t, t.signKey, CKA_VALUE_LEN).rv, CKR_ATTRIBUTE_TYPE_INVALID);
}

TEST(KeyAttributes, UserConsentOfAnyCountNeedsAuthentication)
{
    TokenFixture t;
    EXPECT_EQ(Ask(t, t.signKey, CKA_ALWAYS_AUTHENTICATE).bytes, std::vector<uint8_t>{CK_FALSE});
    for (uint32_t consent : {1u, 2u, 256u}) {
        t.signKey->GetCommonObjectRecord()->userConsent = std::make_unique<uint32_t>(consent);
        EXPECT_EQ(Ask(t, t.signKey, CKA_ALWAYS_AUTHENTICATE).bytes, std::vector<uint8_t>{CK_TRUE}) << consent;
    }
}

TEST(KeyAttributes, AllowedMechanismsAreFullWidthAndSkipUnknownReferences)
{
    TokenFixture t;
    auto& refs = t.signKey->AsCommonKeyAttributes()->algReference;
    refs.push_back(Hex("00"));
    refs.push_back(Hex("02"));
    refs.push_back(Hex("05"));  // past the application's three algorithms
    const Answer a = Ask(t, t.signKey, CKA_ALLOWED_MECHANISMS);
    ASSERT_EQ(a.rv, CKR_OK);
    ASSERT_EQ(a.length, 2 * sizeof(CK_MECHANISM_TYPE));
    CK_MECHANISM_TYPE mechanisms[2];
    std::memcpy(mechanisms, a.bytes.data(), sizeof mechanisms);
    EXPECT_EQ(mechanisms[0], CKM_RSA_PKCS);
    EXPECT_EQ(mechanisms[1], CKM_SHA256_RSA_PKCS);
}

TEST(KeyAttributes, EmptyKeyPathAndSignatureAidComparedWhole)
{
    TokenFixture t;
    t.signKey->AsRSAKeyAttributes()->path = std::make_unique<HexBinary>();
    EXPECT_EQ(Ask(t, t.signKey, CKA_KEY_FILE_ID).length, CK_UNAVAILABLE_INFORMATION);

    t.source.cardProfile = SigZepEpProfile;
    const std::string sigZep = "E828BD080F01" + TokenFixture::Text("SIG_ZEP_01");
    auto aid = Hex(sigZep);
    t.source.applicationAid.assign(aid->data, aid->data + aid->length);
    EXPECT_EQ(Ask(t, t.signKey, CKA_DECRYPT).bytes, std::vector<uint8_t>{CK_FALSE}) << "the signature application";
    t.source.applicationAid.push_back(0x00);
    EXPECT_EQ(Ask(t, t.signKey, CKA_DECRYPT).bytes, std::vector<uint8_t>{CK_TRUE}) << "a longer AID is another one";
    t.source.applicationAid.clear();
    EXPECT_EQ(Ask(t, t.signKey, CKA_DECRYPT).bytes, std::vector<uint8_t>{CK_TRUE}) << "an empty AID is another one";
}

TEST(AttributeSetters, LabelAndIdLimitsAndCallerValuesStayUntouched)
{
    TokenFixture t;
    const std::string label255(255, 'L');
    EXPECT_EQ(SetPubKeyAttribute(t.publicKey, CKA_LABEL, label255.data(), 255, false), CKR_OK);
    EXPECT_EQ(t.publicKey->GetCommonObjectRecord()->label->length, 255);
    EXPECT_EQ(SetPubKeyAttribute(t.publicKey, CKA_LABEL, std::string(256, 'L').data(), 256, false),
              CKR_ATTRIBUTE_VALUE_INVALID);

    const uint8_t reserved[] = {0x05, 0xFF, 0xFF, 0xFF};
    const uint8_t allowed[] = {0x0B, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(SetPubKeyAttribute(t.publicKey, CKA_ID, reserved, 4, false), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(SetPubKeyAttribute(t.publicKey, CKA_ID, allowed, 4, false), CKR_OK);
    EXPECT_EQ(SetCertAttribute(t.signCert, CKA_ID, reserved, 4, false), CKR_OK) << "only key iDs are reserved";
    EXPECT_EQ(SetPubKeyAttribute(t.publicKey, CKA_VERIFY, &allowed, 1, false), CKR_ATTRIBUTE_TYPE_INVALID);

    const CK_ULONG bits = 3072;
    CK_ULONG callerValue = bits;
    EXPECT_EQ(SetPubKeyAttribute(t.publicKey, CKA_MODULUS_BITS, &callerValue, sizeof callerValue, true), CKR_OK);
    EXPECT_EQ(callerValue, bits);
    EXPECT_EQ(t.publicKey->AsRSAKeyAttributes()->modulusLength, 3072);
    const uint32_t shortBits = 2048;
    EXPECT_EQ(SetPubKeyAttribute(t.publicKey, CKA_MODULUS_BITS, &shortBits, sizeof shortBits, true),
              CKR_ATTRIBUTE_VALUE_INVALID);

    const CK_ULONG wrongClass = CKO_PRIVATE_KEY;
    EXPECT_EQ(SetPubKeyAttribute(t.publicKey, CKA_CLASS, &wrongClass, sizeof wrongClass, true),
              CKR_ATTRIBUTE_VALUE_INVALID);
    const uint8_t garbage[] = {0x30, 0x03, 0x02, 0x01, 0x00};
    EXPECT_EQ(SetCertAttribute(t.caCert, CKA_VALUE, garbage, sizeof garbage, true), CKR_ATTRIBUTE_VALUE_INVALID);
    const auto& der = TestCertificate::Get().der;
    EXPECT_EQ(SetCertAttribute(t.caCert, CKA_VALUE, der.data(), der.size(), true), CKR_OK);
    EXPECT_EQ(Ask(t, t.caCert, CKA_VALUE, 4096).bytes, der);
}

TEST(AttributeTemplate, HostileTemplatesAreRefusedBeforeAnyRead)
{
    CK_BYTE id[] = {1};
    CK_ULONG objectClass = CKO_CERTIFICATE;
    CK_ATTRIBUTE good[] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_ID, id, 1}};
    EXPECT_EQ(Template_CheckValues(good, 2), CKR_OK);
    CK_ATTRIBUTE nullValue[] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_LABEL, nullptr, 5}};
    EXPECT_EQ(Template_CheckValues(nullValue, 2), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(Template_CheckValues(nullptr, 1), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Template_CheckValues(good, ~CK_ULONG{0}), CKR_ARGUMENTS_BAD);

    CK_ULONG length = sizeof(CK_ULONG);
    const void* value = nullptr;
    EXPECT_EQ(Template_GetAttrValue(good, 2, CKA_CLASS, true, &length, &value), CKR_OK);
    length = 4;
    EXPECT_EQ(Template_GetAttrValue(good, 2, CKA_CLASS, true, &length, &value), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(Template_GetAttrValue(good, 2, CKA_MODULUS, true, nullptr, &value), CKR_TEMPLATE_INCOMPLETE);
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE wideBool[] = {{CKA_TOKEN, &objectClass, sizeof objectClass}};
    EXPECT_EQ(Template_VerifyBoolAttrValue(wideBool, 1, CKA_TOKEN, true, yes), CKR_ATTRIBUTE_VALUE_INVALID);

    TemplateCopy copy;
    ASSERT_EQ(Template_Copy(good, 2, copy), CKR_OK);
    objectClass = CKO_DATA;
    CK_ULONG copied = 0;
    ASSERT_TRUE(ReadUlongValue(copy.attributes[0], &copied));
    EXPECT_EQ(copied, CKO_CERTIFICATE);
    EXPECT_EQ(Template_Copy(nullptr, 0, copy), CKR_ARGUMENTS_BAD);
}

TEST(ConvertToData, ValidityTexts)
{
    CK_DATE date{};
    ASSERT_TRUE(ConvertToData("2021/7/5 10:11:12 UTC", &date));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&date), sizeof date), "20210705");
    ASSERT_TRUE(ConvertToData("2021/11/30 23:59:59 UTC", &date));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&date), sizeof date), "20211130");
    EXPECT_FALSE(ConvertToData("2021/11/30", &date));
    EXPECT_FALSE(ConvertToData("1 2", &date));
    EXPECT_FALSE(ConvertToData("", &date));
}

}  // namespace
