// The object calls and the object search of a session on a simulated card.

#include <botan/rsa.h>

#include <algorithm>
#include <cstring>

#include "CardTokenFixture.h"
#include "pkcs11/CryptoSlot.h"
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

    void LogIn() { session_->SetState(session_->IsReadWrite() ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS); }

    std::vector<CK_OBJECT_HANDLE> Find(std::vector<CK_ATTRIBUTE> attributes)
    {
        EXPECT_EQ(FindObjectsInit(hSession_, attributes.empty() ? nullptr : attributes.data(), attributes.size()),
                  CKR_OK);
        std::vector<CK_OBJECT_HANDLE> handles(32);
        CK_ULONG found = 0;
        EXPECT_EQ(FindObjects(hSession_, handles.data(), handles.size(), &found), CKR_OK);
        EXPECT_EQ(FindObjectsFinal(hSession_), CKR_OK);
        handles.resize(found);
        return handles;
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

    CK_ULONG UlongValue(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        const auto bytes = Value(object, type);
        CK_ULONG value = 0;
        EXPECT_EQ(bytes.size(), sizeof value);
        std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
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

TEST_F(ObjectCallsTest, ListsAndReadsTheCardsObjects)
{
    Open();
    EXPECT_EQ(Find({}), (std::vector<CK_OBJECT_HANDLE>{0x40000, 0x40001, 0x70000, 0x70001})) << "keys are private";
    LogIn();
    EXPECT_EQ(Find({}).size(), 6u);

    const auto certificate = card_->FileContents({0x3F, 0x00, 0x50, 0x15, 0x43, 0x01});
    ASSERT_TRUE(certificate);
    EXPECT_EQ(Value(0x70000, CKA_VALUE), *certificate);
    EXPECT_EQ(Value(0x30000, CKA_MODULUS), Modulus());
    EXPECT_EQ(Value(0x40000, CKA_MODULUS), Modulus());
    EXPECT_EQ(UlongValue(0x30000, CKA_MODULUS_BITS), 2048u);

    CK_OBJECT_CLASS privateKey = CKO_PRIVATE_KEY;
    CK_BYTE id[] = {0x02};
    EXPECT_EQ(Find({{CKA_CLASS, &privateKey, sizeof privateKey}, {CKA_ID, id, 1}}),
              std::vector<CK_OBJECT_HANDLE>{0x30001});
}

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

TEST_F(ObjectCallsTest, SessionKeysAreCreatedReadChangedAndDestroyed)
{
    Open();
    const CK_OBJECT_HANDLE key = CreatePublicKey();
    EXPECT_EQ(key, 0x80040000u);
    EXPECT_EQ(Value(key, CKA_MODULUS), Modulus());
    EXPECT_EQ(Value(key, CKA_TOKEN), std::vector<uint8_t>{CK_FALSE});
    EXPECT_EQ(Value(key, CKA_VERIFY), std::vector<uint8_t>{CK_TRUE});
    EXPECT_EQ(UlongValue(key, CKA_MODULUS_BITS), 2048u);
    CK_BBOOL no = CK_FALSE;
    EXPECT_EQ(Find({{CKA_TOKEN, &no, 1}}), std::vector<CK_OBJECT_HANDLE>{key});

    std::string label = "Renamed";
    CK_ATTRIBUTE rename{CKA_LABEL, label.data(), label.size()};
    EXPECT_EQ(SetAttributeValue(hSession_, key, &rename, 1), CKR_OK);
    EXPECT_EQ(Value(key, CKA_LABEL), std::vector<uint8_t>(label.begin(), label.end()));
    CK_ATTRIBUTE setVerify{CKA_VERIFY, &no, 1};
    EXPECT_EQ(SetAttributeValue(hSession_, key, &setVerify, 1), CKR_ATTRIBUTE_TYPE_INVALID);

    EXPECT_EQ(DestroyObject(hSession_, key), CKR_OK);
    CK_ATTRIBUTE query{CKA_LABEL, nullptr, 0};
    EXPECT_EQ(GetAttributeValue(hSession_, key, &query, 1), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(DestroyObject(hSession_, key), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_NE(CreatePublicKey(), key) << "a destroyed handle is never given again";
}

TEST_F(ObjectCallsTest, TokenObjectsAreReadOnlyAndPrivateOnesHidden)
{
    Open();
    std::string label = "x";
    CK_ATTRIBUTE rename{CKA_LABEL, label.data(), label.size()};
    EXPECT_EQ(SetAttributeValue(hSession_, 0x70000, &rename, 1), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(DestroyObject(hSession_, 0x70000), CKR_OBJECT_HANDLE_INVALID);
    CK_ATTRIBUTE query{CKA_LABEL, nullptr, 0};
    EXPECT_EQ(GetAttributeValue(hSession_, 0x30000, &query, 1), CKR_OBJECT_HANDLE_INVALID) << "private, not logged in";
    EXPECT_EQ(GetAttributeValue(hSession_, 0x100070000ULL, &query, 1), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(GetAttributeValue(hSession_, 0x70000, &query, ~CK_ULONG{0}), CKR_ARGUMENTS_BAD);

    CK_SESSION_HANDLE readOnly = 0;
    ASSERT_EQ(AddSession(slot_->SlotId(), CKF_SERIAL_SESSION, &readOnly), CKR_OK);
    EXPECT_EQ(SetAttributeValue(readOnly, 0x70000, &rename, 1), CKR_SESSION_READ_ONLY);
    EXPECT_EQ(DestroyObject(readOnly, 0x70000), CKR_SESSION_READ_ONLY);
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
    LogIn();
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

TEST_F(ObjectCallsTest, CryptoSlotFollowsTheDecipherFlagOfTheRsaMechanism)
{
    Open();
    bool crypto = true;
    ASSERT_EQ(IsCryptoSlot(slot_->SlotId(), &crypto), CKR_OK);
    CK_MECHANISM_INFO info{};
    ASSERT_EQ(GetMechanismInfo(slot_->SlotId(), CKM_RSA_PKCS, &info), CKR_OK);
    EXPECT_EQ(crypto, (info.flags & CKF_DECRYPT) != 0);
    EXPECT_NE(IsCryptoSlot(4242, &crypto), CKR_OK);
    EXPECT_FALSE(crypto);
}

}  // namespace
