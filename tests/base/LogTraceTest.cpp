#include "LogTestSupport.h"
#include "LogTrace.h"

namespace {

CK_RV Traced(CK_RV result)
{
    FunctionTrace trace("Token::Refresh");
    if (result != CKR_OK) LOG_FAILED(trace.Function(), result);
    return trace.Result(result);
}

}  // namespace

using LogTraceTest = LogTest;

TEST_F(LogTraceTest, ConventionalLines)
{
    StartPlainLog(5);
    Traced(CKR_OK);
    {
        FunctionTrace trace("Slot::Probe");
    }
    const int failedLine = __LINE__ + 1;
    TraceFailed("C_Sign", failedLine, CKR_DEVICE_REMOVED);
    EXPECT_EQ(WithoutTimes(BodyAfterClose()),
              "Entering Token::Refresh\n"
              "Leaving Token::Refresh, result = CKR_OK\n"
              "Entering Slot::Probe\n"
              "Leaving Slot::Probe\n"
              "C_Sign(), line " + std::to_string(failedLine) + ": FAILED, result = CKR_DEVICE_REMOVED\n");
}
