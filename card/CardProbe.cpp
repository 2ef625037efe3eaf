#include "card/CardProbe.h"

#include "LogTrace.h"
#include "card/Apdu.h"
#include "card/ApduTransport.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/Session.h"

namespace Brelt::MW::Card {

void PingCardGetData(const Pkcs11::Session& session) {
  FunctionTrace trace("PingCardGetData");
  SlotPtr slot = StatusCache::GetSlot(session.SlotId());
  if (!slot) return;
  ApduCommand command;
  ApduResponse response;
  SetApdu(&command, 0x00, 0xCA, 0x01, 0x83, 0x00, kSwSuccess);
  CK_ULONG ownStatus = 0;  // the session's device error keeps the operation's status
  SendApduImpl(slot.get(), &command, &response, &ownStatus, 0, 0);
}

}  // namespace Brelt::MW::Card
