// A small card for reader tests: answers 90 00, GET CHALLENGE with Le bytes,
// and counts resets.
#pragma once

#include <cardsim/Readers.h>

#include <reader.h>

#include <atomic>
#include <gtest/gtest.h>

namespace cardsim::test {

class StandInCard final : public Icc {
public:
    explicit StandInCard(Bytes atr = {0x3B, 0x02, 0x14, 0x50}) : atr_(std::move(atr)) {}

    Bytes Atr() const override { return atr_; }
    void Reset() override { ++resets; }
    Bytes Transmit(const Bytes& apdu) override
    {
        if (apdu.size() == 5 && apdu[1] == 0x84) {
            Bytes answer(apdu[4] == 0 ? 256 : apdu[4], 0xA5);
            answer.insert(answer.end(), {0x90, 0x00});
            return answer;
        }
        return {0x90, 0x00};
    }
    std::string UserPin() const override { return "4711"; }

    std::atomic<int> resets{0};

private:
    Bytes atr_;
};

// Readers emptied, faults cleared and one context established per test.
class ReadersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveAllReaders();
        ClearFaults();
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    }
    void TearDown() override { SCardReleaseContext(context); }

    std::shared_ptr<StandInCard> AddReaderWithCard(const std::string& name,
                                                   PinPad pinPad = PinPad::None)
    {
        AddReader(name, pinPad);
        auto card = std::make_shared<StandInCard>();
        InsertIcc(name, card);
        return card;
    }

    SCARDHANDLE Connect(const std::string& reader)
    {
        SCARDHANDLE handle = 0;
        DWORD protocol = 0;
        EXPECT_EQ(SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1,
                               &handle, &protocol),
                  SCARD_S_SUCCESS);
        EXPECT_EQ(protocol, DWORD(SCARD_PROTOCOL_T1));
        return handle;
    }

    LONG Send(SCARDHANDLE handle, const Bytes& command, Bytes& response)
    {
        response.assign(300, 0);
        DWORD length = DWORD(response.size());
        const LONG result = SCardTransmit(handle, SCARD_PCI_T1, command.data(),
                                          DWORD(command.size()), nullptr, response.data(), &length);
        response.resize(result == SCARD_S_SUCCESS ? length : 0);
        return result;
    }

    SCARDCONTEXT context = 0;
};

}  // namespace cardsim::test
