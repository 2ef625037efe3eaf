// The object calls and the object search of a session on a simulated card.

#include <botan/rsa.h>

#include "CardTokenFixture.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/Session.h"
#include "pkcs11/SessionOperations.h"

using namespace attrstest;
using namespace Brelt::MW::Pkcs11;

namespace {

class ObjectCallsTest : public CardTokenTest {
protected:
    void Open(const std::string& personalisation = "DEF50", CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION)
    {
        Load(personalisation);
        ASSERT_EQ(AddSession(slot_->SlotId(), flags, &hSession_), CKR_OK);
        ASSERT_EQ(GetSessionByHandle(hSession_, session_), CKR_OK);
    }

    std::vector<uint8_t> Value(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE query{type, nullptr, 0};
        EXPECT_EQ(GetAttributeValue(hSession_, object, &query, 1), CKR_OK);
        if (query.ulValueLen == CK_UNAVAILABLE_INFORMATION) return {};
        std::vector<uint8_t> value(query.ulValueLen);
        query.pValue = value.data();
        EXPECT_EQ(GetAttributeValue(hSession_, object, &query, 1), CKR_OK);
        return value;
    }

    CK_OBJECT_HANDLE CreatePublicKey(CK_RV expected = CKR_OK)
    {
        const auto modulus = Value(0x00070000, CKA_VALUE).empty() ? std::vector<uint8_t>{} : Modulus();
        CK_OBJECT_CLASS objectClass = CKO_PUBLIC_KEY;
        CK_KEY_TYPE keyType = CKK_RSA;
        CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        CK_BYTE exponent[] = {0x01, 0x00, 0x01};
        std::string label = "Session key";
        CK_ATTRIBUTE key[] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
                              {CKA_TOKEN, &no, 1}, {CKA_VERIFY, &yes, 1}, {CKA_LABEL, label.data(), label.size()},
                              {CKA_MODULUS, const_cast<uint8_t*>(modulus.data()), modulus.size()},
                              {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}};
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(CreateObject(hSession_, key, 7, &handle), expected);
        return handle;
    }

    std::vector<uint8_t> Modulus()
    {
        const Botan::RSA_PrivateKey* key = card_->Key({0x3F, 0x00, 0x50, 0x15}, 0x01);
        return Botan::BigInt::encode(key->get_n());
    }

    CK_SESSION_HANDLE hSession_ = 0;
    SessionPtr session_;
};

TEST_F(ObjectCallsTest, SearchHoldsTheCardTransactionUntilTheFirstFind)
{
    Open();
    ASSERT_EQ(FindObjectsInit(hSession_, nullptr, 0), CKR_OK);
    EXPECT_EQ(slot_->OpenTransactionCount(), 1);
    ASSERT_EQ(FindObjectsInit(hSession_, nullptr, 0), CKR_OK) << "a second Init ends the first search";
    EXPECT_EQ(slot_->OpenTransactionCount(), 1);
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG found = 0;
    ASSERT_EQ(FindObjects(hSession_, &handle, 1, &found), CKR_OK);
    EXPECT_EQ(slot_->OpenTransactionCount(), 0);
    ASSERT_EQ(FindObjects(hSession_, &handle, 1, &found), CKR_OK);
    EXPECT_EQ(slot_->OpenTransactionCount(), 0) << "later calls end nothing";
    EXPECT_EQ(FindObjectsFinal(hSession_), CKR_OK);

    ASSERT_EQ(FindObjectsInit(hSession_, nullptr, 0), CKR_OK);
    EXPECT_EQ(FindObjectsFinal(hSession_), CKR_OK);
    EXPECT_EQ(slot_->OpenTransactionCount(), 0) << "Final without a Find ends it";

    ASSERT_EQ(FindObjectsInit(hSession_, nullptr, 0), CKR_OK);
    EXPECT_EQ(CloseSession(*session_), CKR_OK);
    EXPECT_EQ(slot_->OpenTransactionCount(), 0) << "closing the session ends it";

    CK_ATTRIBUTE nullLabel{CKA_LABEL, nullptr, 4};
    ASSERT_EQ(AddSession(slot_->SlotId(), CKF_SERIAL_SESSION, &hSession_), CKR_OK);
    EXPECT_EQ(FindObjectsInit(hSession_, &nullLabel, 1), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(slot_->OpenTransactionCount(), 0);
    EXPECT_EQ(FindObjects(hSession_, &handle, 1, &found), CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(ObjectCallsTest, TemplatesWithUnknownTypesAndShortBuffersFillTheRest)
{
    Open();
    CK_OBJECT_CLASS objectClass = 0;
    CK_BYTE tooSmall[4];
    CK_BYTE id[8];
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                           {CKA_MODULUS, nullptr, 0},
                           {CKA_VALUE, tooSmall, sizeof tooSmall},
                           {CKA_ID, id, sizeof id}};
    EXPECT_EQ(GetAttributeValue(hSession_, 0x70000, tmpl, 4), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(objectClass, CKO_CERTIFICATE);
    EXPECT_EQ(tmpl[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(tmpl[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(tmpl[3].ulValueLen, 1u);
    EXPECT_EQ(id[0], 0x01);

    // Size queries of attributes the object kind lacks do not spoil the rest.
    session_->SetState(CKS_RW_USER_FUNCTIONS);
    CK_ATTRIBUTE sizes[] = {{CKA_ENCRYPT, nullptr, 0}, {CKA_SIGN, nullptr, 0}};
    EXPECT_EQ(GetAttributeValue(hSession_, 0x30000, sizes, 2), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(sizes[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(sizes[1].ulValueLen, 1u);
}

TEST_F(ObjectCallsTest, HostileCreationTemplatesAreRefused)
{
    Open();
    CK_OBJECT_CLASS objectClass = CKO_PUBLIC_KEY;
    uint32_t narrowClass = CKO_PUBLIC_KEY;
    CK_OBJECT_CLASS certificate = CKO_CERTIFICATE;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    CK_OBJECT_HANDLE handle = 1;
    CK_ATTRIBUTE nullModulus[] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                  {CKA_VERIFY, &yes, 1}, {CKA_MODULUS, nullptr, 256}};
    EXPECT_EQ(CreateObject(hSession_, nullModulus, 4, &handle), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(handle, 0u);
    CK_ATTRIBUTE narrow[] = {{CKA_CLASS, &narrowClass, sizeof narrowClass}};
    EXPECT_EQ(CreateObject(hSession_, narrow, 1, &handle), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ATTRIBUTE wrongClass[] = {{CKA_CLASS, &certificate, sizeof certificate}};
    EXPECT_EQ(CreateObject(hSession_, wrongClass, 1, &handle), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ATTRIBUTE noModulus[] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                {CKA_VERIFY, &yes, 1}};
    EXPECT_EQ(CreateObject(hSession_, noModulus, 3, &handle), CKR_TEMPLATE_INCOMPLETE);
    CK_ATTRIBUTE wideBool[] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_PRIVATE, &objectClass, sizeof objectClass}};
    EXPECT_EQ(CreateObject(hSession_, wideBool, 2, &handle), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ATTRIBUTE privateKey[] = {{CKA_PRIVATE, &yes, 1}, {CKA_CLASS, &objectClass, sizeof objectClass}};
    EXPECT_EQ(CreateObject(hSession_, privateKey, 2, &handle), CKR_USER_NOT_LOGGED_IN);

    const CK_OBJECT_HANDLE key = CreatePublicKey();
    std::string label = "ok";
    CK_ATTRIBUTE secondNull[] = {{CKA_LABEL, label.data(), label.size()}, {CKA_ID, nullptr, 4}};
    EXPECT_EQ(SetAttributeValue(hSession_, key, secondNull, 2), CKR_ATTRIBUTE_VALUE_INVALID);
    std::string tooLong(256, 'L');
    CK_ATTRIBUTE longLabel{CKA_LABEL, tooLong.data(), tooLong.size()};
    EXPECT_EQ(SetAttributeValue(hSession_, key, &longLabel, 1), CKR_ATTRIBUTE_VALUE_INVALID);
}

}  // namespace
