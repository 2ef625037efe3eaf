// Injected faults and the transcript that records them.
#include "StandInCard.h"

namespace cardsim::test {
namespace {

const Bytes kSelectMf = {0x00, 0xA4, 0x00, 0x0C};
const Bytes kGetData = {0x00, 0xCA, 0x01, 0x82};

TEST_F(ReadersTest, CommandFaultsActOnTheNthMatchingCommand)
{
    AddReaderWithCard("R");
    const SCARDHANDLE handle = Connect("R");
    InjectFault("R", Fault::StatusWordFor(kGetData, 0x6A, 0x88, 2));
    InjectFault("R", Fault::TransmitError(SCARD_F_COMM_ERROR, 4));
    InjectFault("R", Fault::OneByteAnswer(5));
    Bytes response;
    EXPECT_EQ(Send(handle, kGetData, response), SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(response), "90 00");
    EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_S_SUCCESS);
    EXPECT_EQ(Send(handle, kGetData, response), SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(response), "6A 88");
    EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_F_COMM_ERROR);
    EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(response), "90");
    EXPECT_EQ(Send(handle, kGetData, response), SCARD_S_SUCCESS);  // all spent
    EXPECT_EQ(ToHex(response), "90 00");

    const auto transcript = Transcript("R");
    ASSERT_EQ(transcript.size(), 6u);
    EXPECT_EQ(ToString(transcript[2]), "SCardTransmit: > 00 CA 01 82 < 6A 88");
    EXPECT_EQ(ToString(transcript[3]), "SCardTransmit: > 00 A4 00 0C <  [0x80100013]");
}

TEST_F(ReadersTest, AnswerOverridesRepeatWhenAsked)
{
    AddReaderWithCard("R");
    const SCARDHANDLE handle = Connect("R");
    Fault fault = Fault::AnswerWith(kSelectMf, {0x6F, 0x00});
    fault.everyTime = true;
    InjectFault("R", fault);
    Bytes response;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_S_SUCCESS);
        EXPECT_EQ(ToHex(response), "6F 00");
    }
    EXPECT_EQ(Send(handle, kGetData, response), SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(response), "90 00");
    ClearFaults();
    EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_S_SUCCESS);
    EXPECT_EQ(ToHex(response), "90 00");
}

TEST_F(ReadersTest, CardPulledBeforeTheNthCommand)
{
    AddReaderWithCard("R");
    const SCARDHANDLE handle = Connect("R");
    ASSERT_EQ(SCardBeginTransaction(handle), SCARD_S_SUCCESS);
    InjectFault("R", Fault::RemoveCardBefore(3));
    Bytes response;
    EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_S_SUCCESS);
    EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_S_SUCCESS);
    EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_W_REMOVED_CARD);
    EXPECT_EQ(IccIn("R"), nullptr);
    EXPECT_EQ(Send(handle, kSelectMf, response), SCARD_W_REMOVED_CARD);
    EXPECT_EQ(SCardEndTransaction(handle, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(Transcript("R").size(), 3u);  // the transcript outlives the removal
}

TEST_F(ReadersTest, ApiCallsFailOnRequest)
{
    AddReaderWithCard("R");
    FailNextCalls(ApiCall::ListReaders, SCARD_E_NO_SERVICE, 2);
    FailNextCalls(ApiCall::EstablishContext, SCARD_E_NO_SERVICE);
    char names[64];
    DWORD length = sizeof names;
    EXPECT_EQ(SCardListReaders(context, nullptr, names, &length), SCARD_E_NO_SERVICE);
    EXPECT_EQ(SCardListReaders(context, nullptr, names, &length), SCARD_E_NO_SERVICE);
    EXPECT_EQ(SCardListReaders(context, nullptr, names, &length), SCARD_S_SUCCESS);
    SCARDCONTEXT other = 0;
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &other),
              SCARD_E_NO_SERVICE);
    EXPECT_STREQ(pcsc_stringify_error(SCARD_E_NO_SERVICE),
                 "The Smart card resource manager is not running.");
}

}  // namespace
}  // namespace cardsim::test
