// The checks a public-key template passes before a session key is made
// from it, and the PKCS#1 type-1 block that signing by deciphering sends.

#include <gtest/gtest.h>

#include "token/AttributeGetters.h"
#include "token/CardSignature.h"
#include "token/SessionKeys.h"

namespace {

using namespace Brelt::MW::Token;

CK_BBOOL kTrue = CK_TRUE, kFalse = CK_FALSE;

CK_RV PublicKeyType(std::vector<CK_ATTRIBUTE> attributes)
{
    RsaPublicKeyData record;
    return ValidatePublicKeyType(attributes.data(), attributes.size(), record);
}

CK_RV Mechanisms(std::vector<CK_MECHANISM_TYPE> list, bool verify = true)
{
    RsaPublicKeyData record;
    record.verify = verify ? CK_TRUE : CK_FALSE;
    CK_ATTRIBUTE attribute = {CKA_ALLOWED_MECHANISMS, list.empty() ? nullptr : list.data(),
                              list.size() * sizeof(CK_MECHANISM_TYPE)};
    return ValidateKeyMechanisms(&attribute, 1, record);
}

TEST(KeyTemplate, PublicKeysMustVerifyAndNeverEncrypt)
{
    EXPECT_EQ(PublicKeyType({{CKA_VERIFY, &kTrue, 1}}), CKR_OK);
    EXPECT_EQ(PublicKeyType({{CKA_VERIFY, &kTrue, 1}, {CKA_ENCRYPT, &kFalse, 1}}), CKR_OK);
    EXPECT_EQ(PublicKeyType({{CKA_VERIFY, &kTrue, 1}, {CKA_ENCRYPT, &kTrue, 1}}), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(PublicKeyType({}), CKR_TEMPLATE_INCOMPLETE);
    EXPECT_EQ(PublicKeyType({{CKA_VERIFY, &kFalse, 1}, {CKA_ENCRYPT, &kFalse, 1}}), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ULONG wide = 1;
    EXPECT_EQ(PublicKeyType({{CKA_VERIFY, &wide, sizeof(wide)}}), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(PublicKeyType({{CKA_VERIFY, nullptr, 1}}), CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST(KeyTemplate, AllowedMechanismsMayOnlyNameRsaPkcs)
{
    EXPECT_EQ(Mechanisms({CKM_RSA_PKCS}), CKR_OK);
    EXPECT_EQ(Mechanisms({}), CKR_OK);
    EXPECT_EQ(Mechanisms({CKM_SHA256_RSA_PKCS}), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(Mechanisms({CKM_RSA_PKCS, CKM_RSA_X_509}), CKR_ATTRIBUTE_VALUE_INVALID);
    RsaPublicKeyData record;
    CK_MECHANISM_TYPE one = CKM_RSA_PKCS;
    CK_ATTRIBUTE odd = {CKA_ALLOWED_MECHANISMS, &one, 3};
    EXPECT_EQ(ValidateKeyMechanisms(&odd, 1, record), CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST(KeyTemplate, ReservedIdentifiers)
{
    const uint8_t reserved[] = {0x05, 0xFF, 0xFF, 0xFF}, above[] = {0x0B, 0xFF, 0xFF, 0xFF},
                  turned[] = {0xFF, 0xFF, 0xFF, 0x05};
    EXPECT_EQ(CheckReservedId(reserved, 4), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(CheckReservedId(above, 4), CKR_OK);
    EXPECT_EQ(CheckReservedId(turned, 4), CKR_OK);
    EXPECT_EQ(CheckReservedId(reserved, 3), CKR_OK);
}

// The block layout itself is checked by the card signing with it.
TEST(KeyTemplate, TypeOneBlockNeverOverrunsTheModulus)
{
    std::vector<uint8_t> full(256, 0x01);
    EXPECT_NE(EncodePkcs1Type1(full.data(), 253, 2048), nullptr);
    EXPECT_EQ(EncodePkcs1Type1(full.data(), 254, 2048), nullptr);
    EXPECT_EQ(EncodePkcs1Type1(full.data(), 256, 2048), nullptr);
    EXPECT_EQ(EncodePkcs1Type1(full.data(), 1, 0), nullptr) << "a key of unknown size";
    EXPECT_EQ(EncodePkcs1Type1(nullptr, 4, 2048), nullptr);
}

}  // namespace
