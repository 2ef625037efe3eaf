// Attribute getters and setters of keys and certificates, template look-ups
// and the BER-TLV walker.

#include <gtest/gtest.h>

#include <cstring>

#include "TokenObjects.h"
#include "token/AttributeGetters.h"
#include "token/AttributeTemplate.h"
#include "token/BerTlv.h"

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

}  // namespace
