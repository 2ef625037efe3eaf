#pragma once
// A harmless command to the card of a session's slot, sent by the signing
// calls so that the card is touched right after a signature operation.

namespace Brelt::MW::Pkcs11 {
class Session;
}

namespace Brelt::MW::Card {

// Sends GET DATA (00 CA 01 83) outside secure messaging to the card of the
// session's slot and drops the answer; nothing when the slot is gone. The
// session's device error is not touched.
void PingCardGetData(const Pkcs11::Session& session);

}  // namespace Brelt::MW::Card
