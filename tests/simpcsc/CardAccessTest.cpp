// Card handles: transactions across handles and removal seen by handles.
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

}  // namespace
}  // namespace cardsim::test
