// Card handles: transactions across handles, removal and reset seen by
// handles, SCardStatus and SCardTransmit buffers.
#include "StandInCard.h"

#include <future>

namespace cardsim::test {
namespace {

using namespace std::chrono_literals;

const Bytes kSelectMf = {0x00, 0xA4, 0x00, 0x0C};

TEST_F(ReadersTest, TransactionsAreNestedAndExcludeOtherHandles)
{
    AddReaderWithCard("R");
    const SCARDHANDLE first = Connect("R");
    const SCARDHANDLE second = Connect("R");
    ASSERT_EQ(SCardBeginTransaction(first), SCARD_S_SUCCESS);
    ASSERT_EQ(SCardBeginTransaction(first), SCARD_S_SUCCESS);
    Bytes response;
    EXPECT_EQ(Send(first, kSelectMf, response), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardEndTransaction(second, SCARD_LEAVE_CARD), SCARD_E_NOT_TRANSACTED);
    BYTE out[2];
    DWORD returned = 0;
    EXPECT_EQ(SCardControl(second, CM_IOCTL_GET_FEATURE_REQUEST, nullptr, 0, out, 2, &returned),
              SCARD_E_SHARING_VIOLATION);

    auto begin = std::async(std::launch::async, [&] { return SCardBeginTransaction(second); });
    auto transmit = std::async(std::launch::async, [&] {
        Bytes answer;
        return Send(second, kSelectMf, answer);
    });
    ASSERT_EQ(SCardEndTransaction(first, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(begin.wait_for(50ms), std::future_status::timeout);  // one level still held
    ASSERT_EQ(SCardEndTransaction(first, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(begin.get(), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardEndTransaction(first, SCARD_LEAVE_CARD), SCARD_E_NOT_TRANSACTED);

    // The transmit of `second` may have run between the ends; disconnecting
    // the holder frees the reader for everyone in any case.
    EXPECT_EQ(SCardDisconnect(second, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    const LONG sent = transmit.get();
    EXPECT_TRUE(sent == SCARD_S_SUCCESS || sent == SCARD_E_INVALID_HANDLE) << sent;
    EXPECT_EQ(SCardBeginTransaction(first), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardDisconnect(first, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardDisconnect(first, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE);
}

TEST_F(ReadersTest, ConnectWaitsForAnotherHandlesTransaction)
{
    AddReaderWithCard("R");
    const SCARDHANDLE holder = Connect("R");
    ASSERT_EQ(SCardBeginTransaction(holder), SCARD_S_SUCCESS);
    auto connect = std::async(std::launch::async, [&] { return Connect("R"); });
    EXPECT_EQ(connect.wait_for(50ms), std::future_status::timeout);
    ASSERT_EQ(SCardEndTransaction(holder, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_NE(connect.get(), 0);
}

TEST_F(ReadersTest, RemovalIsReportedUntilReconnect)
{
    auto card = AddReaderWithCard("R");
    const SCARDHANDLE handle = Connect("R");
    ASSERT_EQ(SCardBeginTransaction(handle), SCARD_S_SUCCESS);
    RemoveCard("R");
    Bytes response;
    EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_W_REMOVED_CARD);
    // Ending releases the lock although the card is gone.
    EXPECT_EQ(SCardEndTransaction(handle, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    DWORD protocol = 0;
    EXPECT_EQ(SCardReconnect(handle, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_LEAVE_CARD,
                             &protocol),
              SCARD_E_NO_SMARTCARD);

    InsertIcc("R", card);
    EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_W_REMOVED_CARD);  // a new insertion
    EXPECT_EQ(SCardStatus(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              SCARD_W_REMOVED_CARD);
    ASSERT_EQ(SCardReconnect(handle, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_LEAVE_CARD,
                             &protocol),
              SCARD_S_SUCCESS);
    EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_S_SUCCESS);

    RemoveCard("R");
    SCARDHANDLE other = 0;
    EXPECT_EQ(SCardConnect(context, "R", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &other, &protocol),
              SCARD_E_NO_SMARTCARD);
    EXPECT_EQ(SCardConnect(context, "Q", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &other, &protocol),
              SCARD_E_UNKNOWN_READER);
}

TEST_F(ReadersTest, OnlyResetDispositionsResetTheCard)
{
    auto card = AddReaderWithCard("R");
    const int resetsAtInsertion = card->resets;
    const SCARDHANDLE first = Connect("R");
    const SCARDHANDLE second = Connect("R");
    ASSERT_EQ(SCardBeginTransaction(first), SCARD_S_SUCCESS);
    ASSERT_EQ(SCardEndTransaction(first, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    DWORD protocol = 0;
    ASSERT_EQ(SCardReconnect(first, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_LEAVE_CARD,
                             &protocol),
              SCARD_S_SUCCESS);
    EXPECT_EQ(card->resets, resetsAtInsertion);

    ASSERT_EQ(SCardBeginTransaction(first), SCARD_S_SUCCESS);
    ASSERT_EQ(SCardEndTransaction(first, SCARD_RESET_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(card->resets, resetsAtInsertion + 1);
    Bytes response;
    EXPECT_EQ(Send(first, kSelectMf, response), SCARD_S_SUCCESS);
    EXPECT_EQ(Send(second, kSelectMf, response), SCARD_W_RESET_CARD);
    ASSERT_EQ(SCardReconnect(second, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_LEAVE_CARD,
                             &protocol),
              SCARD_S_SUCCESS);
    EXPECT_EQ(Send(second, kSelectMf, response), SCARD_S_SUCCESS);
}

TEST_F(ReadersTest, StatusAndTransmitRespectBufferSizes)
{
    AddReaderWithCard("Reader with a long name");
    const SCARDHANDLE handle = Connect("Reader with a long name");
    char name[200];
    DWORD nameLength = sizeof name;
    DWORD state = 0;
    DWORD protocol = 0;
    BYTE atr[32];
    DWORD atrLength = sizeof atr;
    ASSERT_EQ(SCardStatus(handle, name, &nameLength, &state, &protocol, atr, &atrLength),
              SCARD_S_SUCCESS);
    EXPECT_STREQ(name, "Reader with a long name");
    EXPECT_EQ(nameLength, 24u);
    EXPECT_EQ(state, 0x00010034u);
    EXPECT_EQ(protocol, DWORD(SCARD_PROTOCOL_T1));
    EXPECT_EQ(atrLength, 4u);
    nameLength = 5;
    EXPECT_EQ(SCardStatus(handle, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
              SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(nameLength, 24u);

    // GET CHALLENGE of 256 bytes: 258 bytes of answer.
    const Bytes challenge = {0x00, 0x84, 0x00, 0x00, 0x00};
    Bytes response(100);
    DWORD length = DWORD(response.size());
    EXPECT_EQ(SCardTransmit(handle, SCARD_PCI_T1, challenge.data(), DWORD(challenge.size()),
                            nullptr, response.data(), &length),
              SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 258u);
    EXPECT_EQ(Send(handle, challenge, response), SCARD_S_SUCCESS);
    EXPECT_EQ(response.size(), 258u);
    EXPECT_EQ(SCardTransmit(handle, SCARD_PCI_T1, nullptr, 4, nullptr, response.data(), &length),
              SCARD_E_INVALID_PARAMETER);
}

TEST_F(ReadersTest, ReleasingTheContextEndsItsHandles)
{
    AddReaderWithCard("R");
    SCARDCONTEXT other = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &other), SCARD_S_SUCCESS);
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(other, "R", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &handle, &protocol),
              SCARD_S_SUCCESS);
    ASSERT_EQ(SCardBeginTransaction(handle), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardReleaseContext(other), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardIsValidContext(other), SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(SCardBeginTransaction(handle), SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(SCardBeginTransaction(Connect("R")), SCARD_S_SUCCESS);  // lock was freed
}

}  // namespace
}  // namespace cardsim::test
