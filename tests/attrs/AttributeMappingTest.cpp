// Attribute getters and setters of keys and certificates, template look-ups
// and the BER-TLV walker.

#include <gtest/gtest.h>

#include <botan/x509cert.h>

#include <cstring>

#include "../token/DerBuild.h"
#include "TokenObjects.h"
#include "token/AttributeGetters.h"
#include "token/AttributeTemplate.h"
#include "LogNames.h"
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

using testder::Prim;
using testder::Tlv;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> UlongBytes(std::initializer_list<CK_ULONG> values)
{
    std::vector<uint8_t> bytes(values.size() * sizeof(CK_ULONG));
    std::memcpy(bytes.data(), std::data(values), bytes.size());
    return bytes;
}

std::vector<uint8_t> UlongBytes(CK_ULONG value) { return UlongBytes({value}); }

std::unique_ptr<CIOObject> FromEntry(CioFileKind kind, const testder::Der& entry)
{
    CIOObjectList list(kind);
    std::unique_ptr<CIOObject> object;
    EXPECT_EQ(CreateCIOObject(object, *testder::Node(entry), list, DefaultProfile), CKR_OK);
    return object;
}

// What an object built from a directory entry answers: values as the entry
// gives them, CK_TRUE or CK_FALSE, unavailable values, and attributes the
// object does not have.
struct Expected {
    std::vector<std::pair<CK_ATTRIBUTE_TYPE, std::vector<uint8_t>>> values;
    std::vector<CK_ATTRIBUTE_TYPE> yes, no, unavailable, notItsAttribute;
};

void ExpectAnswers(TokenFixture& t, CIOObject* object, Expected expected)
{
    ASSERT_NE(object, nullptr);
    for (const CK_ATTRIBUTE_TYPE type : expected.yes) expected.values.push_back({type, {CK_TRUE}});
    for (const CK_ATTRIBUTE_TYPE type : expected.no) expected.values.push_back({type, {CK_FALSE}});
    for (const auto& [type, value] : expected.values) {
        const Answer a = Ask(t, object, type, 1024);
        EXPECT_EQ(a.rv, CKR_OK) << CkaToString(type);
        EXPECT_EQ(a.bytes, value) << CkaToString(type);
    }
    for (const CK_ATTRIBUTE_TYPE type : expected.unavailable) {
        const Answer a = Ask(t, object, type, 1024);
        EXPECT_EQ(a.rv, CKR_OK) << CkaToString(type);
        EXPECT_EQ(a.length, CK_UNAVAILABLE_INFORMATION) << CkaToString(type);
        EXPECT_EQ(a.bytes[0], 0xEE) << CkaToString(type) << ": nothing written";
    }
    for (const CK_ATTRIBUTE_TYPE type : expected.notItsAttribute) {
        const Answer a = Ask(t, object, type, 1024);
        EXPECT_EQ(a.rv, CKR_ATTRIBUTE_TYPE_INVALID) << CkaToString(type);
        EXPECT_EQ(a.length, CK_UNAVAILABLE_INFORMATION) << CkaToString(type);
    }
}

// Usage: decrypt 1, signRecover 3, derive 8, nonRepudiation 9 set; sign 2 and
// unwrap 5 clear. Access flags: sensitive 0, neverExtractable 3, local 4 set.
// Object flags: private set, modifiable clear. A user consent, a second PIN,
// validity dates and the first and third algorithms of the application.
TEST(AttributeMapping, PrivateKeyFromItsDirectoryEntry)
{
    TokenFixture t;
    const auto key = FromEntry(
        kKindRsaPrivateKey,
        Tlv(0x30, {Tlv(0x30, {Prim(0x0C, TokenFixture::Text("Mapped key")), Prim(0x03, "0680"), Prim(0x04, "02"),
                              Prim(0x02, "01")}),
                   Tlv(0x30, {Prim(0x04, "01"), Prim(0x03, "0650C0"), Prim(0x01, "FF"), Prim(0x03, "0398"),
                              Prim(0x02, "02"), Prim(0x18, TokenFixture::Text("20240705000000Z")),
                              Tlv(0xA0, {Prim(0x18, TokenFixture::Text("20341130235959Z"))}),
                              Tlv(0xA1, {Tlv(0x30, {Prim(0x02, "00"), Prim(0x02, "02")})})}),
                   Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "3F00DF07")}), Prim(0x02, "0800")})})}));
    const Botan::RSA_PrivateKey& certified = *TestCertificate::Get().key;
    ExpectAnswers(t, key.get(),
                  {.values = {{CKA_CLASS, UlongBytes(CKO_PRIVATE_KEY)},
                              {CKA_LABEL, Bytes("Mapped key")},
                              {CKA_KEY_TYPE, UlongBytes(CKK_RSA)},
                              {CKA_ID, {0x01}},
                              // From the certificate with the key's iD; the
                              // size too, not the directory's 2048 bits.
                              {CKA_MODULUS_BITS, UlongBytes(certified.get_n().bits())},
                              {CKA_MODULUS, Botan::BigInt::encode(certified.get_n())},
                              {CKA_PUBLIC_EXPONENT, Botan::BigInt::encode(certified.get_e())},
                              {CKA_KEY_FILE_ID, {0x07}},
                              // Key dates are answered as CK_DATE, not as the stored GeneralizedTime.
                              {CKA_START_DATE, Bytes("20240705")},
                              {CKA_END_DATE, Bytes("20341130")},
                              {CKA_ALLOWED_MECHANISMS, UlongBytes({CKM_RSA_PKCS, CKM_SHA256_RSA_PKCS})}},
                   .yes = {CKA_TOKEN, CKA_PRIVATE, CKA_TRUSTED, CKA_SECONDARY_AUTH, CKA_ALWAYS_AUTHENTICATE,
                           CKA_NON_REPUDIATION, CKA_DECRYPT, CKA_SIGN_RECOVER, CKA_DERIVE, CKA_SENSITIVE,
                           CKA_NEVER_EXTRACTABLE, CKA_LOCAL},
                   .no = {CKA_MODIFIABLE, CKA_SIGN, CKA_UNWRAP, CKA_EXTRACTABLE, CKA_ALWAYS_SENSITIVE},
                   .unavailable = {CKA_SUBJECT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1,
                                   CKA_EXPONENT_2, CKA_COEFFICIENT, CKA_KEY_GEN_MECHANISM, CKA_WRAP_WITH_TRUSTED,
                                   CKA_UNWRAP_TEMPLATE},
                   .notItsAttribute = {CKA_ENCRYPT, CKA_VERIFY, CKA_VALUE, CKA_CERTIFICATE_TYPE}});

    // The first PIN is no secondary authentication; a key without
    // certificate has no modulus.
    key->GetCommonObjectRecord()->authId = Hex("01");
    key->AsCommonKeyAttributes()->iD = Hex("0102");
    ExpectAnswers(t, key.get(), {.no = {CKA_SECONDARY_AUTH}, .unavailable = {CKA_MODULUS}});
}

// Usage: wrap 4, verifyRecover 7, nonRepudiation 9 set; encrypt 0, verify 6,
// derive 8 clear. No access flags. Object flags: modifiable only.
TEST(AttributeMapping, PublicKeyFromItsDirectoryEntry)
{
    TokenFixture t;
    const auto key = FromEntry(
        kKindRsaPublicKey,
        Tlv(0x30, {Tlv(0x30, {Prim(0x0C, TokenFixture::Text("Mapped public key")), Prim(0x03, "0640")}),
                   Tlv(0x30, {Prim(0x04, "01"), Prim(0x03, "060940")}),
                   Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4501")}), Prim(0x02, "0400")})})}));
    ExpectAnswers(t, key.get(),
                  {.values = {{CKA_CLASS, UlongBytes(CKO_PUBLIC_KEY)},
                              {CKA_LABEL, Bytes("Mapped public key")},
                              {CKA_KEY_TYPE, UlongBytes(CKK_RSA)},
                              {CKA_ID, {0x01}},
                              {CKA_MODULUS_BITS, UlongBytes(1024)},
                              {CKA_ALLOWED_MECHANISMS, {}}},
                   .yes = {CKA_TOKEN, CKA_TRUSTED, CKA_MODIFIABLE, CKA_WRAP, CKA_VERIFY_RECOVER, CKA_NON_REPUDIATION},
                   .no = {CKA_PRIVATE, CKA_ENCRYPT, CKA_VERIFY, CKA_DERIVE},
                   // No key file reader in this source.
                   .unavailable = {CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_SUBJECT, CKA_KEY_GEN_MECHANISM,
                                   CKA_WRAP_TEMPLATE, CKA_START_DATE, CKA_END_DATE, CKA_KEY_FILE_ID},
                   .notItsAttribute = {CKA_LOCAL, CKA_SENSITIVE, CKA_SIGN, CKA_DECRYPT, CKA_SECONDARY_AUTH,
                                       CKA_ALWAYS_AUTHENTICATE, CKA_PRIVATE_EXPONENT}});
}

// Object flags with one used bit: private set, modifiable outside the bits.
TEST(AttributeMapping, CertificateFromItsDirectoryEntry)
{
    TokenFixture t;
    const auto certificate = FromEntry(
        kKindCertificate,
        Tlv(0x30, {Tlv(0x30, {Prim(0x0C, TokenFixture::Text("Mapped certificate")), Prim(0x03, "0780")}),
                   Tlv(0x30, {Prim(0x04, "0A"), Prim(0x01, "FF")}),
                   Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "3F0050154301")})})})}));
    const auto& der = TestCertificate::Get().der;
    const Botan::X509_Certificate reference(der);
    ExpectAnswers(t, certificate.get(),
                  {.values = {{CKA_CLASS, UlongBytes(CKO_CERTIFICATE)},
                              {CKA_CERTIFICATE_TYPE, UlongBytes(CKC_X_509)},
                              {CKA_LABEL, Bytes("Mapped certificate")},
                              {CKA_ID, {0x0A}},
                              {CKA_VALUE, der},
                              {CKA_ISSUER, reference.raw_issuer_dn()},
                              {CKA_SUBJECT, reference.raw_subject_dn()},
                              {CKA_SERIAL_NUMBER, {0x0A, 0x0B, 0x0C}},
                              {CKA_START_DATE, Bytes("20210705")},
                              {CKA_END_DATE, Bytes("20211130")}},
                   .yes = {CKA_TOKEN, CKA_PRIVATE},
                   .no = {CKA_TRUSTED, CKA_MODIFIABLE},
                   .unavailable = {CKA_CERTIFICATE_CATEGORY, CKA_JAVA_MIDP_SECURITY_DOMAIN, CKA_URL,
                                   CKA_HASH_OF_SUBJECT_PUBLIC_KEY, CKA_HASH_OF_ISSUER_PUBLIC_KEY, CKA_CHECK_VALUE,
                                   CKA_KEY_FILE_ID},
                   .notItsAttribute = {CKA_MODULUS, CKA_KEY_TYPE, CKA_SECONDARY_AUTH, CKA_SIGN}});
    EXPECT_EQ(t.certificateReads, 1) << "the certificate file is read once per object";
}

TEST(AttributeMapping, PresentButEmptyLabelAndIdAreValuesOfLengthZero)
{
    TokenFixture t;
    const auto key = FromEntry(kKindRsaPrivateKey,
                               Tlv(0x30, {Tlv(0x30, {Prim(0x0C, ""), Prim(0x03, "0680")}),
                                          Tlv(0x30, {Prim(0x04, ""), Prim(0x03, "0620")})}));
    const auto certificate = FromEntry(kKindCertificate, Tlv(0x30, {Tlv(0x30, {Prim(0x0C, "")}),
                                                                   Tlv(0x30, {Prim(0x04, "")})}));
    for (CIOObject* object : {key.get(), certificate.get()}) {
        ExpectAnswers(t, object, {.values = {{CKA_LABEL, {}}, {CKA_ID, {}}}});
        EXPECT_EQ(Ask(t, object, CKA_LABEL, 0, true).length, 0u) << "size query";
    }
    // Absent ones stay unavailable.
    const auto bare = FromEntry(kKindCertificate, Tlv(0x30, {Tlv(0x30, {}), Tlv(0x30, {})}));
    ExpectAnswers(t, bare.get(), {.unavailable = {CKA_LABEL, CKA_ID}});
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
    // 05 is past the application's three algorithms.
    for (const char* reference : {"00", "02", "05"})
        t.signKey->AsCommonKeyAttributes()->algReference.push_back(Hex(reference));
    const Answer a = Ask(t, t.signKey, CKA_ALLOWED_MECHANISMS);
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.bytes, UlongBytes({CKM_RSA_PKCS, CKM_SHA256_RSA_PKCS}));
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
