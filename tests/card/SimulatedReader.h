#pragma once
// A simulated reader holding one card, connected over the PC/SC API the
// module uses, and a Slot on that connection.

#include <gtest/gtest.h>

#include <cardsim/Card.h>
#include <cardsim/Readers.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "card/Slot.h"

class SimulatedReaderTest : public ::testing::Test {
protected:
    static constexpr const char* kReader = "Card Reader 00";

    void TearDown() override
    {
        if (handle_ != 0) SCardDisconnect(handle_, SCARD_LEAVE_CARD);
        if (context_ != 0) SCardReleaseContext(context_);
        cardsim::ClearFaults();
        cardsim::RemoveAllReaders();
    }

    // Inserts a fresh card of the personalisation and connects to it.
    std::shared_ptr<cardsim::Card> Insert(const std::string& personalisation,
                                          cardsim::PinPad pinPad = cardsim::PinPad::None)
    {
        cardsim::RemoveAllReaders();
        cardsim::ClearFaults();
        cardsim::AddReader(kReader, pinPad);
        auto card = cardsim::InsertCard(kReader, personalisation);
        Connect();
        return card;
    }

    // Inserts a stand-in card (any cardsim::Icc) and connects to it.
    void InsertIcc(std::shared_ptr<cardsim::Icc> icc)
    {
        cardsim::RemoveAllReaders();
        cardsim::ClearFaults();
        cardsim::AddReader(kReader);
        cardsim::InsertIcc(kReader, std::move(icc));
        Connect();
    }

    // The commands the card received since the last call, as hex text.
    std::vector<std::string> Commands()
    {
        std::vector<std::string> commands;
        for (const auto& entry : cardsim::Transcript(kReader)) commands.push_back(cardsim::ToHex(entry.command));
        cardsim::ClearTranscript(kReader);
        return commands;
    }

    static bool AnyStartsWith(const std::vector<std::string>& commands, const std::string& prefix)
    {
        return std::any_of(commands.begin(), commands.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    }

    // Sends raw bytes around the module (test set-up such as CREATE FILE).
    std::string Raw(const cardsim::Bytes& command)
    {
        cardsim::Bytes answer(0x10008);
        DWORD length = DWORD(answer.size());
        EXPECT_EQ(SCardTransmit(handle_, SCARD_PCI_T1, command.data(), DWORD(command.size()), nullptr,
                                answer.data(), &length),
                  SCARD_S_SUCCESS);
        answer.resize(length);
        cardsim::ClearTranscript(kReader);
        return cardsim::ToHex(answer);
    }

    static cardsim::Bytes Hex(const std::string& hex)
    {
        cardsim::Bytes bytes;
        std::string digits;
        for (char c : hex)
            if (c != ' ') digits += c;
        for (size_t i = 0; i + 1 < digits.size(); i += 2)
            bytes.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
        return bytes;
    }

    Brelt::MW::Card::Slot slot_{1, kReader};
    SCARDHANDLE handle_ = 0;

private:
    void Connect()
    {
        if (handle_ != 0) SCardDisconnect(handle_, SCARD_LEAVE_CARD);
        if (context_ == 0) {
            ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_), SCARD_S_SUCCESS);
        }
        DWORD protocol = 0;
        ASSERT_EQ(SCardConnect(context_, kReader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &handle_, &protocol),
                  SCARD_S_SUCCESS);
        slot_.SetCardHandle(handle_);
        cardsim::ClearTranscript(kReader);
    }

    SCARDCONTEXT context_ = 0;
};
