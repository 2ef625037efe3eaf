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

// One attribute of an object built from a directory entry: its value as the
// entry gives it, unavailable, or an attribute the object does not have.
struct Row {
    CK_ATTRIBUTE_TYPE type;
    enum { Value, Unavailable, NotItsAttribute } expect;
    std::vector<uint8_t> value = {};
};

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> UlongBytes(CK_ULONG value)
{
    std::vector<uint8_t> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

const std::vector<uint8_t> kTrue{CK_TRUE};
const std::vector<uint8_t> kFalse{CK_FALSE};

std::unique_ptr<CIOObject> FromEntry(CioFileKind kind, const testder::Der& entry)
{
    CIOObjectList list(kind);
    std::unique_ptr<CIOObject> object;
    EXPECT_EQ(CreateCIOObject(object, *testder::Node(entry), list, DefaultProfile), CKR_OK);
    return object;
}

void ExpectRows(TokenFixture& t, CIOObject* object, const std::vector<Row>& rows)
{
    ASSERT_NE(object, nullptr);
    for (const Row& row : rows) {
        const Answer a = Ask(t, object, row.type, 1024);
        switch (row.expect) {
        case Row::Value:
            EXPECT_EQ(a.rv, CKR_OK) << CkaToString(row.type);
            EXPECT_EQ(a.bytes, row.value) << CkaToString(row.type);
            break;
        case Row::Unavailable:
            EXPECT_EQ(a.rv, CKR_OK) << CkaToString(row.type);
            EXPECT_EQ(a.length, CK_UNAVAILABLE_INFORMATION) << CkaToString(row.type);
            EXPECT_EQ(a.bytes[0], 0xEE) << CkaToString(row.type) << ": nothing written";
            break;
        case Row::NotItsAttribute:
            EXPECT_EQ(a.rv, CKR_ATTRIBUTE_TYPE_INVALID) << CkaToString(row.type);
            EXPECT_EQ(a.length, CK_UNAVAILABLE_INFORMATION) << CkaToString(row.type);
            break;
        }
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
    std::vector<uint8_t> mechanisms = UlongBytes(CKM_RSA_PKCS);
    const auto third = UlongBytes(CKM_SHA256_RSA_PKCS);
    mechanisms.insert(mechanisms.end(), third.begin(), third.end());
    ExpectRows(t, key.get(),
               {{CKA_CLASS, Row::Value, UlongBytes(CKO_PRIVATE_KEY)},
                {CKA_TOKEN, Row::Value, kTrue},
                {CKA_PRIVATE, Row::Value, kTrue},
                {CKA_MODIFIABLE, Row::Value, kFalse},
                {CKA_LABEL, Row::Value, Bytes("Mapped key")},
                {CKA_TRUSTED, Row::Value, kTrue},
                {CKA_KEY_TYPE, Row::Value, UlongBytes(CKK_RSA)},
                {CKA_ID, Row::Value, {0x01}},
                {CKA_MODULUS_BITS, Row::Value, UlongBytes(2048)},
                // From the certificate with the key's iD.
                {CKA_MODULUS, Row::Value, Botan::BigInt::encode(certified.get_n())},
                {CKA_PUBLIC_EXPONENT, Row::Value, Botan::BigInt::encode(certified.get_e())},
                {CKA_KEY_FILE_ID, Row::Value, {0x07}},
                {CKA_SECONDARY_AUTH, Row::Value, kTrue},
                {CKA_ALWAYS_AUTHENTICATE, Row::Value, kTrue},
                {CKA_NON_REPUDIATION, Row::Value, kTrue},
                {CKA_DECRYPT, Row::Value, kTrue},
                {CKA_SIGN, Row::Value, kFalse},
                {CKA_SIGN_RECOVER, Row::Value, kTrue},
                {CKA_UNWRAP, Row::Value, kFalse},
                {CKA_DERIVE, Row::Value, kTrue},
                {CKA_SENSITIVE, Row::Value, kTrue},
                {CKA_EXTRACTABLE, Row::Value, kFalse},
                {CKA_ALWAYS_SENSITIVE, Row::Value, kFalse},
                {CKA_NEVER_EXTRACTABLE, Row::Value, kTrue},
                {CKA_LOCAL, Row::Value, kTrue},
                // Key dates are answered as CK_DATE, not as the stored GeneralizedTime.
                {CKA_START_DATE, Row::Value, Bytes("20240705")},
                {CKA_END_DATE, Row::Value, Bytes("20341130")},
                {CKA_ALLOWED_MECHANISMS, Row::Value, mechanisms},
                {CKA_SUBJECT, Row::Unavailable},
                {CKA_PRIVATE_EXPONENT, Row::Unavailable},
                {CKA_PRIME_1, Row::Unavailable},
                {CKA_PRIME_2, Row::Unavailable},
                {CKA_EXPONENT_1, Row::Unavailable},
                {CKA_EXPONENT_2, Row::Unavailable},
                {CKA_COEFFICIENT, Row::Unavailable},
                {CKA_KEY_GEN_MECHANISM, Row::Unavailable},
                {CKA_WRAP_WITH_TRUSTED, Row::Unavailable},
                {CKA_UNWRAP_TEMPLATE, Row::Unavailable},
                {CKA_ENCRYPT, Row::NotItsAttribute},
                {CKA_VERIFY, Row::NotItsAttribute},
                {CKA_VALUE, Row::NotItsAttribute},
                {CKA_CERTIFICATE_TYPE, Row::NotItsAttribute}});

    // The first PIN is no secondary authentication; a key without
    // certificate has no modulus.
    key->GetCommonObjectRecord()->authId = Hex("01");
    key->AsCommonKeyAttributes()->iD = Hex("0102");
    ExpectRows(t, key.get(), {{CKA_SECONDARY_AUTH, Row::Value, kFalse}, {CKA_MODULUS, Row::Unavailable}});
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
    ExpectRows(t, key.get(),
               {{CKA_CLASS, Row::Value, UlongBytes(CKO_PUBLIC_KEY)},
                {CKA_TOKEN, Row::Value, kTrue},
                {CKA_TRUSTED, Row::Value, kTrue},
                {CKA_PRIVATE, Row::Value, kFalse},
                {CKA_MODIFIABLE, Row::Value, kTrue},
                {CKA_LABEL, Row::Value, Bytes("Mapped public key")},
                {CKA_KEY_TYPE, Row::Value, UlongBytes(CKK_RSA)},
                {CKA_ID, Row::Value, {0x01}},
                {CKA_MODULUS_BITS, Row::Value, UlongBytes(1024)},
                {CKA_ENCRYPT, Row::Value, kFalse},
                {CKA_WRAP, Row::Value, kTrue},
                {CKA_VERIFY, Row::Value, kFalse},
                {CKA_VERIFY_RECOVER, Row::Value, kTrue},
                {CKA_DERIVE, Row::Value, kFalse},
                {CKA_NON_REPUDIATION, Row::Value, kTrue},
                {CKA_ALLOWED_MECHANISMS, Row::Value, {}},
                // No key file reader in this source.
                {CKA_MODULUS, Row::Unavailable},
                {CKA_PUBLIC_EXPONENT, Row::Unavailable},
                {CKA_SUBJECT, Row::Unavailable},
                {CKA_KEY_GEN_MECHANISM, Row::Unavailable},
                {CKA_WRAP_TEMPLATE, Row::Unavailable},
                {CKA_START_DATE, Row::Unavailable},
                {CKA_END_DATE, Row::Unavailable},
                {CKA_KEY_FILE_ID, Row::Unavailable},
                {CKA_LOCAL, Row::NotItsAttribute},
                {CKA_SENSITIVE, Row::NotItsAttribute},
                {CKA_SIGN, Row::NotItsAttribute},
                {CKA_DECRYPT, Row::NotItsAttribute},
                {CKA_SECONDARY_AUTH, Row::NotItsAttribute},
                {CKA_ALWAYS_AUTHENTICATE, Row::NotItsAttribute},
                {CKA_PRIVATE_EXPONENT, Row::NotItsAttribute}});
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
    ExpectRows(t, certificate.get(),
               {{CKA_CLASS, Row::Value, UlongBytes(CKO_CERTIFICATE)},
                {CKA_TOKEN, Row::Value, kTrue},
                {CKA_CERTIFICATE_TYPE, Row::Value, UlongBytes(CKC_X_509)},
                {CKA_TRUSTED, Row::Value, kFalse},
                {CKA_PRIVATE, Row::Value, kTrue},
                {CKA_MODIFIABLE, Row::Value, kFalse},
                {CKA_LABEL, Row::Value, Bytes("Mapped certificate")},
                {CKA_ID, Row::Value, {0x0A}},
                {CKA_VALUE, Row::Value, der},
                {CKA_ISSUER, Row::Value, reference.raw_issuer_dn()},
                {CKA_SUBJECT, Row::Value, reference.raw_subject_dn()},
                {CKA_SERIAL_NUMBER, Row::Value, {0x0A, 0x0B, 0x0C}},
                {CKA_START_DATE, Row::Value, Bytes("20210705")},
                {CKA_END_DATE, Row::Value, Bytes("20211130")},
                {CKA_CERTIFICATE_CATEGORY, Row::Unavailable},
                {CKA_JAVA_MIDP_SECURITY_DOMAIN, Row::Unavailable},
                {CKA_URL, Row::Unavailable},
                {CKA_HASH_OF_SUBJECT_PUBLIC_KEY, Row::Unavailable},
                {CKA_HASH_OF_ISSUER_PUBLIC_KEY, Row::Unavailable},
                {CKA_CHECK_VALUE, Row::Unavailable},
                {CKA_KEY_FILE_ID, Row::Unavailable},
                {CKA_MODULUS, Row::NotItsAttribute},
                {CKA_KEY_TYPE, Row::NotItsAttribute},
                {CKA_SECONDARY_AUTH, Row::NotItsAttribute},
                {CKA_SIGN, Row::NotItsAttribute}});
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
    const std::vector<Row> empty{{CKA_LABEL, Row::Value, {}}, {CKA_ID, Row::Value, {}}};
    ExpectRows(t, key.get(), empty);
    ExpectRows(t, certificate.get(), empty);
    for (CIOObject* object : {key.get(), certificate.get()}) {
        EXPECT_EQ(Ask(t, object, CKA_LABEL, 0, true).length, 0u) << "size query";
    }
    // Absent ones stay unavailable.
    const auto bare = FromEntry(kKindCertificate, Tlv(0x30, {Tlv(0x30, {}), Tlv(0x30, {})}));
    ExpectRows(t, bare.get(), {{CKA_LABEL, Row::Unavailable}, {CKA_ID, Row::Unavailable}});
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
