#pragma once
// Simulated-card helpers shared by the secure-channel tests.

#include <cardsim/Icc.h>
#include <cardsim/Personalisations.h>

#include <functional>
#include <memory>
#include <string>

#include "card/CardCommands.h"
#include "tests/card/SimulatedReader.h"

// Forwards to a card and lets the test change its answers.
class TamperingIcc final : public cardsim::Icc {
public:
    using Tamper = std::function<cardsim::Bytes(const cardsim::Bytes& command, cardsim::Bytes answer)>;
    TamperingIcc(std::shared_ptr<cardsim::Icc> inner, Tamper tamper) : inner_(std::move(inner)), tamper_(std::move(tamper)) {}
    cardsim::Bytes Atr() const override { return inner_->Atr(); }
    void Reset() override { inner_->Reset(); }
    cardsim::Bytes Transmit(const cardsim::Bytes& apdu) override { return tamper_(apdu, inner_->Transmit(apdu)); }

private:
    std::shared_ptr<cardsim::Icc> inner_;
    Tamper tamper_;
};

inline std::string NoSpaces(std::string text)
{
    std::erase(text, ' ');
    return text;
}

// Edits the card's answers to commands with the given INS.
inline TamperingIcc::Tamper OnIns(uint8_t ins, std::function<void(cardsim::Bytes&)> edit)
{
    return [ins, edit](const cardsim::Bytes& command, cardsim::Bytes answer) {
        if (command.size() > 1 && command[1] == ins) edit(answer);
        return answer;
    };
}

// Reads a transparent file through the module's card commands.
inline CK_RV ReadCardFile(CK_ULONG* status, const Brelt::MW::Card::Slot* slot, uint8_t high, uint8_t low,
                          cardsim::Bytes* contents = nullptr)
{
    uint8_t buffer[2048] = {};
    uint32_t length = sizeof buffer;
    const uint8_t fid[] = {high, low};
    const CK_RV rv = Brelt::MW::Card::ReadBinary(status, slot, fid, 2, buffer, &length);
    if (contents) contents->assign(buffer, buffer + (rv == CKR_OK ? length : 0));
    return rv;
}
