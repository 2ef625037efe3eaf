#include <cardsim/Personalisations.h>

#include "CardState.h"

#include <stdexcept>

namespace cardsim {

std::unique_ptr<Card> MakePersonalisation(const std::string& name)
{
    if (name != "DEF50")
        throw std::invalid_argument("unknown card personalisation: " + name);
    auto state = std::make_unique<detail::CardState>();
    state->name = name;
    state->atr = {0x3B, 0xD2, 0x18, 0x00, 0x81, 0x31, 0xFE, 0x58, 0xC9, 0x01, 0x14};
    state->mf = std::make_unique<detail::File>();
    state->mf->fid = 0x3F00;
    state->mf->type = detail::FileType::Df;
    return std::make_unique<Card>(std::move(state));
}

std::vector<std::string> PersonalisationNames()
{
    return {"DEF50"};
}

}  // namespace cardsim
