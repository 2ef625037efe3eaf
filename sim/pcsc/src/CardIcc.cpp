// The CardOS card model in a reader slot.
#include <cardsim/Card.h>
#include <cardsim/Icc.h>

#include <stdexcept>

namespace cardsim {

namespace {

class CardIcc final : public Icc {
public:
    explicit CardIcc(std::shared_ptr<Card> card) : card_(std::move(card)) {}

    Bytes Atr() const override { return card_->Atr(); }
    void Reset() override { card_->Reset(); }
    Bytes Transmit(const Bytes& apdu) override { return card_->Transmit(apdu); }
    std::string UserPin() const override { return card_->UserPin(); }

    const std::shared_ptr<Card>& Model() const { return card_; }

private:
    std::shared_ptr<Card> card_;
};

}  // namespace

std::shared_ptr<Icc> MakeIcc(std::shared_ptr<Card> card)
{
    if (card == nullptr) {
        throw std::invalid_argument("no card");
    }
    return std::make_shared<CardIcc>(std::move(card));
}

std::shared_ptr<Card> CardBehind(const std::shared_ptr<Icc>& icc)
{
    const auto* cardIcc = dynamic_cast<const CardIcc*>(icc.get());
    return cardIcc != nullptr ? cardIcc->Model() : nullptr;
}

}  // namespace cardsim
