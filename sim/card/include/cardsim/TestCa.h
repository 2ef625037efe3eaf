// The certificate authority that issues every simulated card's certificates.
#pragma once

#include <cardsim/Card.h>

namespace cardsim {

// DER certificate of the simulated cards' CA (self-signed, RSA 2048), for
// servers and verifiers that must trust the cards' certificates.
Bytes TestCaCertificate();

}  // namespace cardsim
