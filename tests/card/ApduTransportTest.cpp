#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "SimulatedReader.h"
#include "card/ApduTransport.h"

using namespace Brelt::MW::Card;
using cardsim::Fault;

namespace {

// A card that answers every command with one fixed answer.
class FixedAnswerCard final : public cardsim::Icc {
public:
    explicit FixedAnswerCard(cardsim::Bytes answer) : answer_(std::move(answer)) {}
    cardsim::Bytes Atr() const override { return {0x3B, 0x02, 0x14, 0x50}; }
    void Reset() override {}
    cardsim::Bytes Transmit(const cardsim::Bytes&) override { return answer_; }

private:
    cardsim::Bytes answer_;
};

class ApduTransportTest : public SimulatedReaderTest {
protected:
    // Sends `command`; the answer is what the injected fault or card says.
    CK_RV Send(ApduCommand& command, ApduResponse& response, CK_ULONG* lastStatus = nullptr)
    {
        return SendApdu(&slot_, &command, &response, lastStatus != nullptr ? lastStatus : &lastStatus_, 0, 0);
    }
    void AnswerNextWith(const std::string& hex) { cardsim::InjectFault(kReader, Fault::AnswerWith({}, Hex(hex))); }

    CK_ULONG lastStatus_ = 0xDEAD;
};

}  // namespace

TEST_F(ApduTransportTest, AnswersAndTheLastStatusWord)
{
    Insert("DEF50");
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xCA, 0x01, 0x82, 0x100, kSwNotChecked);  // extended Le
    EXPECT_EQ(Send(command, response), CKR_OK);
    EXPECT_EQ(lastStatus_, 0u);
    EXPECT_EQ(Commands(), std::vector<std::string>{"00 CA 01 82 00 01 00"});

    SetApdu(&command, 0x00, 0xCA, 0x01, 0x82, 0x00, kSwSuccess);

    AnswerNextWith("AABB63C2");  // wrong PIN: data are dropped with the failure
    EXPECT_EQ(Send(command, response), CKR_FUNCTION_FAILED);
    EXPECT_EQ(response.sw, 0x63C2);
    EXPECT_EQ(response.length, 0);
    EXPECT_EQ(response.data, nullptr);
    EXPECT_EQ(lastStatus_, 0x63C2u);

    for (const char* shortAnswer : {"90", ""}) {
        AnswerNextWith(shortAnswer);
        lastStatus_ = 0xDEAD;
        EXPECT_EQ(Send(command, response), CKR_FUNCTION_FAILED) << shortAnswer;
        EXPECT_EQ(lastStatus_, 0u);
        EXPECT_EQ(response.sw, 0);
    }

    SetApdu(&command, 0x00, 0xB0, 0x00, 0x00, 0xF0, kSwNotChecked);
    AnswerNextWith("0102036282");
    EXPECT_EQ(Send(command, response), CKR_OK);
    EXPECT_EQ(response.length, 3);
    EXPECT_EQ(lastStatus_, 0x6282u);

    // More data than Le asks for is no answer to the command, whatever its SW.
    for (const char* sw : {"9000", "6282"}) {
        AnswerNextWith(std::string(241 * 2, 'A') + sw);
        EXPECT_EQ(Send(command, response), CKR_FUNCTION_FAILED) << sw;
        EXPECT_EQ(response.length, 0);
    }

    cardsim::InjectFault(kReader, Fault::TransmitError(SCARD_E_NO_SMARTCARD));
    EXPECT_EQ(Send(command, response), CKR_DEVICE_ERROR);
    EXPECT_EQ(lastStatus_, CK_ULONG(SCARD_E_NO_SMARTCARD));
    EXPECT_EQ(response.sw, 0);

    Commands();
    // Lc without data, and null records.
    SetApdu(&command, 0x00, 0xD6, 0x00, 0x00, kNoLe, kSwSuccess);
    SetApduData(&command, 2, nullptr, 0);
    EXPECT_EQ(Send(command, response), CKR_DATA_INVALID);
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(SendApdu(nullptr, &command, &response, nullptr, 0, 0), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(SendApdu(&slot_, &command, nullptr, nullptr, 0, 0), CKR_ARGUMENTS_BAD);
}

TEST_F(ApduTransportTest, AnswerLongerThanTheLengthFieldIsRefused)
{
    cardsim::Bytes huge(0x10000, 0x42);
    huge.insert(huge.end(), {0x90, 0x00});
    InsertIcc(std::make_shared<FixedAnswerCard>(huge));
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xB0, 0x00, 0x00, 0x0000, kSwSuccess);
    EXPECT_EQ(SendApdu(&slot_, &command, &response, nullptr, 0, 1), CKR_FUNCTION_FAILED);
    EXPECT_EQ(response.length, 0);

    huge.erase(huge.begin());  // 65,535 data bytes: the longest valid answer
    InsertIcc(std::make_shared<FixedAnswerCard>(huge));
    EXPECT_EQ(SendApdu(&slot_, &command, &response, nullptr, 0, 1), CKR_OK);
    EXPECT_EQ(response.length, 0xFFFF);
}

namespace {

// Wraps by setting the secure-messaging bits of CLA; reports a checksum
// failure on demand and counts both directions like a send sequence counter.
class FakeProtector final : public ApduProtector {
public:
    ApduCommand* WrapCommand(const ApduCommand& plain) override
    {
        ++counter;
        auto wrapped = std::make_unique<ApduCommand>();
        SetApdu(wrapped.get(), plain.cla | 0x0C, plain.ins, plain.p1, plain.p2, 0, plain.expectedSw);
        const uint8_t objects[] = {0x8E, 0x01, 0x00};
        SetApduData(wrapped.get(), sizeof objects, objects, 1);
        return wrapped.release();
    }
    CK_RV UnwrapResponse(ApduResponse& response) override
    {
        ++counter;
        if (!checksumOk) {
            response.data.reset();
            response.length = 0;
            return CKR_FUNCTION_FAILED;
        }
        return CKR_OK;
    }
    int counter = 0;
    bool checksumOk = true;
};

std::shared_ptr<FakeProtector> g_protector;

std::shared_ptr<ApduProtector> FindFakeProtector(const Slot&)
{
    return g_protector;
}

}  // namespace

TEST_F(ApduTransportTest, ProtectedExchanges)
{
    Insert("DEF50");
    g_protector = std::make_shared<FakeProtector>();
    SetApduProtectorLookup(&FindFakeProtector);
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0x20, 0x00, 0x81, kNoLe, kSwSuccess);

    AnswerNextWith("990290008E0811223344556677889000");
    EXPECT_EQ(Send(command, response), CKR_OK);
    EXPECT_EQ(Commands(), std::vector<std::string>{"0C 20 00 81 03 8E 01 00 00"});
    EXPECT_EQ(g_protector->counter, 2);

    // A forged or corrupted answer is not a success, whatever its SW says.
    g_protector->checksumOk = false;
    AnswerNextWith("990290008E0800000000000000009000");
    EXPECT_EQ(Send(command, response), CKR_FUNCTION_FAILED);
    EXPECT_EQ(response.sw, 0x9000);
    EXPECT_EQ(response.data, nullptr);

    // The answer is unwrapped after a failed exchange too (counter stays in step).
    g_protector->counter = 0;
    cardsim::InjectFault(kReader, Fault::TransmitError(SCARD_F_COMM_ERROR));
    EXPECT_EQ(Send(command, response), CKR_DEVICE_ERROR);
    EXPECT_EQ(g_protector->counter, 2);

    // The plain send never wraps.
    Commands();
    g_protector->checksumOk = true;
    SetApdu(&command, 0x00, 0xA4, 0x00, 0x0C, kNoLe, kSwSuccess);
    EXPECT_EQ(SendApduImpl(&slot_, &command, &response, nullptr, 0, 0), CKR_OK);
    EXPECT_EQ(Commands().at(0).substr(0, 2), "00");

    SetApduProtectorLookup(nullptr);
    g_protector.reset();
}
