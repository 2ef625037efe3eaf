// Object handles and the object search over token and session objects.

#include <gtest/gtest.h>

#include "TokenObjects.h"
#include "token/ObjectHandles.h"
#include "token/ObjectSearch.h"

using namespace attrstest;

namespace {

struct Search {
    TokenFixture token;
    CIOObjectLists sessionObjects;
    FindContext context;
    SearchScope scope;

    Search()
    {
        scope.source = &token.source;
        scope.sessionObjects = &sessionObjects;
        scope.sessionState = CKS_RW_USER_FUNCTIONS;
    }

    CK_OBJECT_HANDLE AddSessionKey(const std::string& label)
    {
        auto key = std::make_unique<RSAPubKeyObject>();
        key->GetCommonObjectRecord()->label = Hex(TokenFixture::Text(label));
        key->GetCommonObjectRecord()->flags = Hex("0640");
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(AddSessionObject(sessionObjects, kKindRsaPublicKey, std::move(key), &handle), CKR_OK);
        return handle;
    }

    std::vector<CK_OBJECT_HANDLE> Find(std::vector<CK_ATTRIBUTE> attributes, CK_ULONG maximum = 16)
    {
        EXPECT_EQ(FindObjectsInit(context, attributes.empty() ? nullptr : attributes.data(), attributes.size()),
                  CKR_OK);
        return Next(maximum);
    }

    std::vector<CK_OBJECT_HANDLE> Next(CK_ULONG maximum)
    {
        std::vector<CK_OBJECT_HANDLE> handles(maximum);
        CK_ULONG found = 0;
        EXPECT_EQ(FindObjects(context, scope, handles.data(), maximum, &found), CKR_OK);
        handles.resize(found);
        return handles;
    }
};

using Handles = std::vector<CK_OBJECT_HANDLE>;

TEST(ObjectSearch, ByClassIdLabelKeyTypeAndCombinations)
{
    Search s;
    CK_OBJECT_CLASS privateKey = CKO_PRIVATE_KEY, certificate = CKO_CERTIFICATE, data = CKO_DATA;
    CK_KEY_TYPE rsa = CKK_RSA;
    CK_BYTE id01[] = {0x01};
    std::string label = "Signature key";

    // Two classes: both kinds are searched, in template order, but no object
    // has both classes.
    EXPECT_EQ(s.Find({{CKA_CLASS, &certificate, sizeof certificate}, {CKA_CLASS, &privateKey, sizeof privateKey}}),
              Handles{});
    EXPECT_EQ(s.context.kinds, (std::vector<CK_ULONG>{kKindCertificate, kKindRsaPrivateKey}));
    EXPECT_EQ(s.Find({{CKA_CLASS, &certificate, sizeof certificate}}), (Handles{0x70000, 0x70001}));
    EXPECT_EQ(s.Find({{CKA_CLASS, &data, sizeof data}}), Handles{});
    // Exact matching: iD 01 does not find the key with iD 01 02.
    EXPECT_EQ(s.Find({{CKA_CLASS, &privateKey, sizeof privateKey}, {CKA_ID, id01, 1}}), Handles{0x30000});
    EXPECT_EQ(s.Find({{CKA_ID, id01, 1}}), (Handles{0x30000, 0x40000, 0x70000}));
    EXPECT_EQ(s.Find({{CKA_ID, id01, 0}}), Handles{}) << "an empty iD matches no object with an iD";
    EXPECT_EQ(s.Find({{CKA_LABEL, label.data(), label.size()}}), (Handles{0x30000, 0x40000}));
    EXPECT_EQ(s.Find({{CKA_LABEL, label.data(), 3}}), Handles{}) << "no prefix match";
    std::string longer = "Signature key 2";
    EXPECT_EQ(s.Find({{CKA_LABEL, longer.data(), longer.size()}}), Handles{});
    EXPECT_EQ(s.Find({{CKA_KEY_TYPE, &rsa, sizeof rsa}}), (Handles{0x30000, 0x30001, 0x40000}));
    // A CK_ULONG value given in 4 bytes matches nothing.
    uint32_t shortType = CKK_RSA;
    EXPECT_EQ(s.Find({{CKA_KEY_TYPE, &shortType, sizeof shortType}}), Handles{});
}

TEST(ObjectSearch, ResumesAfterTheLastObjectEvenWhenObjectsGo)
{
    Search s;
    const CK_OBJECT_HANDLE first = s.AddSessionKey("one");
    const CK_OBJECT_HANDLE second = s.AddSessionKey("two");
    CK_BBOOL no = CK_FALSE;
    EXPECT_EQ(s.Find({{CKA_TOKEN, &no, 1}}, 1), Handles{first});
    ASSERT_EQ(DeleteObjectInfo(&s.sessionObjects, first), CKR_OK);
    EXPECT_EQ(s.Next(1), Handles{second});
    EXPECT_EQ(s.Next(1), Handles{});
    EXPECT_EQ(s.Next(1), Handles{});

    // One handle per call over the token's certificates, then none.
    CK_OBJECT_CLASS certificate = CKO_CERTIFICATE;
    EXPECT_EQ(s.Find({{CKA_CLASS, &certificate, sizeof certificate}}, 1), Handles{0x70000});
    EXPECT_EQ(s.Next(1), Handles{0x70001});
    EXPECT_EQ(s.Next(1), Handles{});
}

// Null pointers and lengths are refused by the object calls before the search.
TEST(ObjectSearch, HostileTemplatesAndStates)
{
    Search s;
    CK_ULONG found = 0;
    CK_OBJECT_HANDLE handle = 0;
    EXPECT_EQ(FindObjects(s.context, s.scope, &handle, 1, &found), CKR_OPERATION_NOT_INITIALIZED);
    uint32_t shortClass = CKO_CERTIFICATE;
    CK_ATTRIBUTE narrowClass[] = {{CKA_CLASS, &shortClass, sizeof shortClass}};
    EXPECT_EQ(FindObjectsInit(s.context, narrowClass, 1), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ATTRIBUTE nullClass[] = {{CKA_CLASS, nullptr, 0}};
    EXPECT_EQ(FindObjectsInit(s.context, nullClass, 1), CKR_ATTRIBUTE_VALUE_INVALID);

    // The search keeps its own copy of the template.
    CK_OBJECT_CLASS certificate = CKO_CERTIFICATE;
    CK_ATTRIBUTE byClass[] = {{CKA_CLASS, &certificate, sizeof certificate}};
    ASSERT_EQ(FindObjectsInit(s.context, byClass, 1), CKR_OK);
    certificate = CKO_DATA;
    EXPECT_EQ(s.Next(8).size(), 2u);
    EXPECT_EQ(FindObjectsFinal(s.context), CKR_OK);
    EXPECT_EQ(FindObjects(s.context, s.scope, &handle, 1, &found), CKR_OPERATION_NOT_INITIALIZED);

    ASSERT_EQ(FindObjectsInit(s.context, nullptr, 0), CKR_OK);
    s.token.source.hasApplication = false;
    EXPECT_EQ(FindObjects(s.context, s.scope, &handle, 1, &found), CKR_FUNCTION_FAILED);
}

TEST(ObjectSearch, CardLostWhileReadingEndsWithGeneralError)
{
    for (const CK_RV lost : {CKR_TOKEN_NOT_PRESENT, CKR_DEVICE_ERROR}) {
        Search s;
        const CK_OBJECT_HANDLE sessionKey = s.AddSessionKey("x");
        s.token.certificateReadResult = lost;
        // The session key matches before the certificates are read.
        std::string label = "x";
        CK_ATTRIBUTE byLabel[] = {{CKA_LABEL, label.data(), label.size()}};
        ASSERT_EQ(FindObjectsInit(s.context, byLabel, 1), CKR_OK);
        std::vector<CK_OBJECT_HANDLE> handles(4);
        CK_ULONG found = 9;
        EXPECT_EQ(FindObjects(s.context, s.scope, handles.data(), 4, &found), CKR_OK) << "labels need no card read";
        EXPECT_EQ(found, 1u);
        EXPECT_EQ(handles[0], sessionKey);

        CK_ATTRIBUTE bySubject[] = {{CKA_SUBJECT, label.data(), label.size()}};
        ASSERT_EQ(FindObjectsInit(s.context, bySubject, 1), CKR_OK);
        found = 9;
        EXPECT_EQ(FindObjects(s.context, s.scope, handles.data(), 4, &found), CKR_GENERAL_ERROR) << lost;
        EXPECT_EQ(found, 0u);
    }
}

TEST(ObjectHandles, DestroyedHandlesAreRefusedAndNeverReused)
{
    Search s;
    const CK_OBJECT_HANDLE a = s.AddSessionKey("a");
    const CK_OBJECT_HANDLE b = s.AddSessionKey("b");
    ASSERT_EQ(DeleteObjectInfo(&s.sessionObjects, a), CKR_OK);
    CIOObject* object = nullptr;
    CIOObjectType type = 0;
    EXPECT_EQ(FindObjectByHandle(&s.sessionObjects, &object, &type, a), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(DeleteObjectInfo(&s.sessionObjects, a), CKR_OBJECT_HANDLE_INVALID);
    const CK_OBJECT_HANDLE c = s.AddSessionKey("c");
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);
    ASSERT_EQ(FindObjectByHandle(&s.sessionObjects, &object, &type, b), CKR_OK);
    EXPECT_EQ(type, kTypeRsaPublicKey);

    // A 64-bit handle whose low half names an object names nothing.
    EXPECT_EQ(FindObjectByHandle(&s.token.lists, &object, &type, 0x100030000ULL), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(FindObjectByHandle(&s.token.lists, &object, &type, 0x30000), CKR_OK);
    EXPECT_EQ(FindObjectByHandle(&s.token.lists, &object, &type, 0x90000), CKR_OBJECT_HANDLE_INVALID);
    CIOObjectLists none;
    EXPECT_EQ(FindObjectByHandle(&none, &object, &type, 0x30000), CKR_ARGUMENTS_BAD);
}

}  // namespace
