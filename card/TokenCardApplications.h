#pragma once
// The card-application layer of the module: the token layer's card
// detection and application table behind the CardApplications interface.

#include <memory>

#include "card/CardApplications.h"

namespace Brelt::MW::Card {

std::shared_ptr<CardApplications> MakeTokenCardApplications();

}  // namespace Brelt::MW::Card
