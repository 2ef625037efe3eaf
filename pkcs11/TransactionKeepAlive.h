#pragma once
// Whether opening a session has to start the token's keep-alive thread.
//
// The keep-alive exists for resource managers that end a card transaction
// left idle for a few seconds (Windows 8 and later). pcsc-lite keeps a
// transaction until it is ended, so on this platform the answer is no.

namespace Brelt::MW::Pkcs11 {

bool IsTransactionKeepAliveNeeded();

// The Windows rule: versions 6.2 and later within major version 6, and 10.
bool KeepAliveNeededForWindowsVersion(unsigned major, unsigned minor);

}  // namespace Brelt::MW::Pkcs11
