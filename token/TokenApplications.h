#pragma once
// The token layer's side of the card-application interface that the reader
// monitor and the slot calls use: card detection and loading, the
// application table, the facts slot and mechanism calls report, and the
// token information read from the card.

#include <memory>

#include "card/CardApplications.h"

namespace Brelt::MW::Token {

std::shared_ptr<Card::CardApplications> MakeTokenApplications();

// Installs the token layer's implementation (the loadable module does so
// when it is loaded; tests that drive the monitor install their own).
void InstallTokenApplications();

}  // namespace Brelt::MW::Token
