// Named card personalisations: admitted, refused and faulty cards.
#pragma once

#include <cardsim/Card.h>

#include <memory>
#include <string>
#include <vector>

namespace cardsim {

// The card most setups want: CardOS 5.0 with the default PKCS#15 layout.
inline constexpr const char* kDefaultPersonalisation = "DEF50";

// Builds a fresh card; throws std::invalid_argument for an unknown name.
std::unique_ptr<Card> MakePersonalisation(const std::string& name);
std::vector<std::string> PersonalisationNames();

}  // namespace cardsim
