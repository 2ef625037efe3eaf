// The checks a public-key template passes before a session key is made from it.

#include <gtest/gtest.h>

#include <iterator>
#include <vector>

#include "token/AttributeGetters.h"
#include "token/SessionKeys.h"

namespace {

using namespace Brelt::MW::Token;

CK_BBOOL kTrue = CK_TRUE, kFalse = CK_FALSE;

TEST(KeyTemplate, PublicKeysMustVerifyAndNeverEncrypt)
{
    CK_ULONG wide = 1;
    const std::pair<std::vector<CK_ATTRIBUTE>, CK_RV> cases[] = {
        {{{CKA_VERIFY, &kTrue, 1}}, CKR_OK},
        {{{CKA_VERIFY, &kTrue, 1}, {CKA_ENCRYPT, &kFalse, 1}}, CKR_OK},
        {{{CKA_VERIFY, &kTrue, 1}, {CKA_ENCRYPT, &kTrue, 1}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {{}, CKR_TEMPLATE_INCOMPLETE},
        {{{CKA_VERIFY, &kFalse, 1}, {CKA_ENCRYPT, &kFalse, 1}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {{{CKA_VERIFY, &wide, sizeof(wide)}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {{{CKA_VERIFY, nullptr, 1}}, CKR_ATTRIBUTE_VALUE_INVALID},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        RsaPublicKeyData record;
        const auto& attributes = cases[i].first;
        EXPECT_EQ(ValidatePublicKeyType(attributes.data(), attributes.size(), record), cases[i].second) << i;
    }
}

TEST(KeyTemplate, AllowedMechanismsMayOnlyNameRsaPkcs)
{
    CK_MECHANISM_TYPE pkcs = CKM_RSA_PKCS, hashed = CKM_SHA256_RSA_PKCS, two[] = {CKM_RSA_PKCS, CKM_RSA_X_509};
    const std::pair<CK_ATTRIBUTE, CK_RV> cases[] = {
        {{CKA_ALLOWED_MECHANISMS, &pkcs, sizeof pkcs}, CKR_OK},
        {{CKA_ALLOWED_MECHANISMS, nullptr, 0}, CKR_OK},
        {{CKA_ALLOWED_MECHANISMS, &hashed, sizeof hashed}, CKR_ATTRIBUTE_VALUE_INVALID},
        {{CKA_ALLOWED_MECHANISMS, two, sizeof two}, CKR_ATTRIBUTE_VALUE_INVALID},
        {{CKA_ALLOWED_MECHANISMS, &pkcs, 3}, CKR_ATTRIBUTE_VALUE_INVALID},  // not a whole entry
    };
    for (const auto& [attribute, rv] : cases) {
        RsaPublicKeyData record;
        record.verify = CK_TRUE;
        CK_ATTRIBUTE copy = attribute;
        EXPECT_EQ(ValidateKeyMechanisms(&copy, 1, record), rv) << attribute.ulValueLen;
    }
}

}  // namespace
