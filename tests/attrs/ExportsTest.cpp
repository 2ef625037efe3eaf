// The token and object exports end to end: the module initialised in-process
// over a simulated reader, its card loaded by the token layer.

#include <gtest/gtest.h>

#include <cardsim/Readers.h>

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

TEST_F(ExportsTest, HostileArgumentsGetClearCodes)
{
    EXPECT_EQ(C_FindObjectsInit(session_, nullptr, 1), CKR_ARGUMENTS_BAD);
    CK_ATTRIBUTE nullLabel{CKA_LABEL, nullptr, 5};
    EXPECT_EQ(C_FindObjectsInit(session_, &nullLabel, 1), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(OpenTransactions(), 0);
    CK_ATTRIBUTE query{CKA_LABEL, nullptr, 0};
    EXPECT_EQ(C_GetAttributeValue(session_, 0x70000, &query, 0), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_GetAttributeValue(session_, 0x70000, nullptr, 1), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_GetAttributeValue(session_, 0x100070000ULL, &query, 1), CKR_OBJECT_HANDLE_INVALID);
    CK_OBJECT_HANDLE handle = 0;
    EXPECT_EQ(C_CreateObject(session_, nullptr, 1, &handle), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_DestroyObject(session_, 0x70000), CKR_SESSION_READ_ONLY);
    CK_OBJECT_HANDLE handles[2];
    CK_ULONG found = 0;
    EXPECT_EQ(C_FindObjects(session_, handles, 2, &found), CKR_OPERATION_NOT_INITIALIZED);

    // Init then Final without a search, and Init twice: nothing stays open.
    ASSERT_EQ(C_FindObjectsInit(session_, nullptr, 0), CKR_OK);
    ASSERT_EQ(C_FindObjectsInit(session_, nullptr, 0), CKR_OK);
    EXPECT_EQ(OpenTransactions(), 1);
    EXPECT_EQ(C_FindObjectsFinal(session_), CKR_OK);
    EXPECT_EQ(OpenTransactions(), 0);
}

}  // namespace
