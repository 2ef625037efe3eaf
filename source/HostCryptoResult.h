#pragma once

// Result codes of the host-side cryptography; the PKCS#11 operations map
// them to CK_RV values.

namespace Brelt::Crypto {

constexpr int CRYPTO_OK = 0;
constexpr int CRYPTO_FAILED = 1;
constexpr int CRYPTO_BAD_INPUT = 10;
constexpr int CRYPTO_BAD_KEY_LENGTH = 11;
constexpr int CRYPTO_BUFFER_TOO_SMALL = 12;
constexpr int CRYPTO_ALREADY_FINAL = 22;
constexpr int CRYPTO_UPDATE_AFTER_FINAL = 23;

}  // namespace Brelt::Crypto
