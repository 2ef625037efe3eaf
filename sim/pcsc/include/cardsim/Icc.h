// What a simulated reader needs of the card in its slot. The CardOS card
// model is one implementation; tests may insert small stand-ins.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cardsim {

using Bytes = std::vector<uint8_t>;

class Card;

class Icc {
public:
    virtual ~Icc() = default;
    virtual Bytes Atr() const = 0;
    // Power-on or warm reset.
    virtual void Reset() = 0;
    // One command APDU in, response data followed by SW1 SW2 out.
    virtual Bytes Transmit(const Bytes& apdu) = 0;
    // The PIN a PIN pad types when no entry is scripted; empty when unknown.
    virtual std::string UserPin() const { return {}; }
};

// Puts a card model into the shape a reader slot takes.
std::shared_ptr<Icc> MakeIcc(std::shared_ptr<Card> card);
// The card model behind an ICC, or null when the ICC is something else.
std::shared_ptr<Card> CardBehind(const std::shared_ptr<Icc>& icc);

}  // namespace cardsim
