#include "card/CardProbe.h"

#include "LogTrace.h"
#include "card/ApduTransport.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/Session.h"

namespace Brelt::MW::Card {

void PingCardGetData(const Pkcs11::Session& session) {
  FunctionTrace trace("PingCardGetData");
  if (SlotPtr slot = StatusCache::GetSlot(session.SlotId())) SendGetDataApdu(slot->CardHandle());
}

}  // namespace Brelt::MW::Card
