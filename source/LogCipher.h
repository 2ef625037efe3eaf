#pragma once

// The cipher of the enciphered trace log. Every record is enciphered on its
// own (Triple-DES CBC from a zero IV, OneAndZeros padding) and written as a
// DER OCTET STRING holding the ciphertext. The key is unwrapped at run time
// from a stored OAEP-encoded constant and never kept anywhere else.

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "Des.h"
#include "Logger.h"
#include "TripleDES.h"

namespace Brelt::Crypto {

// The log's Triple-DES cipher; null when the stored key does not unwrap.
std::unique_ptr<TripleDES> MakeLogTripleDes();

// Enciphers records with the module's own DES, holding nothing but the three
// key schedules: the last records (the end banner) are written while the
// process exits, after the crypto library's own objects are gone.
class LogRecordTripleDes final : public LogRecordCipher {
public:
    // `key`: 16 (two-key) or 24 (three-key) bytes.
    LogRecordTripleDes(const uint8_t* key, size_t length);
    std::vector<unsigned char> EncipherRecord(const char* text, size_t length) override;

private:
    std::array<Des, 3> keys_;
};

// The factory the logger uses when the environment selects the enciphered
// log; null when no cipher can be built.
std::unique_ptr<LogRecordCipher> MakeLogRecordCipher();

}  // namespace Brelt::Crypto
