#pragma once
// The two keys the module keeps for the application-container channel, as
// computed outside the project: OAEP decoding (SHA-256, MGF1, empty label)
// of the stored 128-byte blocks in Python. A card that is to open the
// channel with the module holds these.

namespace smtest {

// Key 95 of the application container.
inline constexpr const char* kContainerKey = "89556789D61AA46306BC6E1FA82E380B";
// Three-key Triple-DES key that turns the challenges into the session key.
inline constexpr const char* kSessionKeyDerivationKey = "AAEA15D7B6CED6541DB368022E627E9F6592D5F0964FA9B9";

}  // namespace smtest
