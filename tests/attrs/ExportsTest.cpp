// The token and object exports end to end: the module initialised in-process
// over a simulated reader, its card loaded by the token layer.

#include <gtest/gtest.h>

#include <cardsim/Readers.h>

#include <vector>

#include "card/CardApplications.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/cryptoki.h"

namespace {

class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The token layer loads the card (the module's own card-application layer).
        Brelt::MW::Card::InstallCardApplications(nullptr);
        cardsim::RemoveAllReaders();
        cardsim::AddReader("Reader A");
        cardsim::InsertCard("Reader A", "DEF50");
        ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
        CK_ULONG count = 1;
        ASSERT_EQ(C_GetSlotList(CK_TRUE, &slot_, &count), CKR_OK);
        ASSERT_EQ(count, 1u);
        ASSERT_EQ(C_OpenSession(slot_, CKF_SERIAL_SESSION, nullptr, nullptr, &session_), CKR_OK);
    }

    void TearDown() override
    {
        C_Finalize(nullptr);
        cardsim::RemoveAllReaders();
        Brelt::MW::Card::InstallCardApplications(nullptr);
    }

    int OpenTransactions() const
    {
        const auto slot = Brelt::MW::Card::StatusCache::GetSlotWithoutProbe(slot_);
        return slot ? slot->OpenTransactionCount() : -1;
    }

    CK_SLOT_ID slot_ = 0;
    CK_SESSION_HANDLE session_ = 0;
};

// The search and object checks below the exports have tests of their own;
// these are the ones the exports make themselves.
TEST_F(ExportsTest, HostileArgumentsGetClearCodes)
{
    CK_ATTRIBUTE query{CKA_LABEL, nullptr, 0};
    EXPECT_EQ(C_GetAttributeValue(session_, 0x70000, &query, 0), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_GetAttributeValue(session_, 0x70000, nullptr, 1), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_GetAttributeValue(session_, 0x100070000ULL, &query, 1), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(C_DestroyObject(session_, 0x70000), CKR_SESSION_READ_ONLY);
    EXPECT_EQ(C_FindObjectsInit(session_, nullptr, 1), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(OpenTransactions(), 0);
}

TEST_F(ExportsTest, TemplateValuesLongerThanAnyCardValueAreRefused)
{
    std::vector<CK_BYTE> modulus(256);
    CK_ATTRIBUTE read{CKA_MODULUS, modulus.data(), modulus.size()};
    ASSERT_EQ(C_GetAttributeValue(session_, 0x40000, &read, 1), CKR_OK);
    CK_OBJECT_CLASS publicKey = CKO_PUBLIC_KEY;
    CK_KEY_TYPE rsa = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE exponent[] = {0x01, 0x00, 0x01};
    CK_BYTE byte = 0;
    // Lengths no caller's buffer has: nothing is allocated or copied for them.
    for (const CK_ULONG length : {CK_ULONG{1} << 40, CK_UNAVAILABLE_INFORMATION, CK_ULONG{0x10000}}) {
        CK_ATTRIBUTE label{CKA_LABEL, &byte, length};
        EXPECT_EQ(C_FindObjectsInit(session_, &label, 1), CKR_ATTRIBUTE_VALUE_INVALID) << length;
        EXPECT_EQ(OpenTransactions(), 0);
        // An attribute the operation does not even look at.
        CK_ATTRIBUTE key[] = {{CKA_CLASS, &publicKey, sizeof publicKey}, {CKA_KEY_TYPE, &rsa, sizeof rsa},
                              {CKA_VERIFY, &yes, 1}, {CKA_MODULUS, modulus.data(), modulus.size()},
                              {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}, {CKA_SUBJECT, &byte, length}};
        CK_OBJECT_HANDLE handle = 1;
        EXPECT_EQ(C_CreateObject(session_, key, 6, &handle), CKR_ATTRIBUTE_VALUE_INVALID) << length;
        EXPECT_EQ(handle, 0u);
        CK_ATTRIBUTE subject{CKA_SUBJECT, &byte, length};
        EXPECT_EQ(C_SetAttributeValue(session_, 0x70000, &subject, 1), CKR_ATTRIBUTE_VALUE_INVALID) << length;
    }
    // 65,535 bytes is the longest value a template carries.
    std::vector<CK_BYTE> longest(0xFFFF, 'x');
    CK_ATTRIBUTE label{CKA_LABEL, longest.data(), longest.size()};
    ASSERT_EQ(C_FindObjectsInit(session_, &label, 1), CKR_OK);
    CK_OBJECT_HANDLE found[2];
    CK_ULONG count = 9;
    EXPECT_EQ(C_FindObjects(session_, found, 2, &count), CKR_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(C_FindObjectsFinal(session_), CKR_OK);
}

}  // namespace
