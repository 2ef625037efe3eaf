#pragma once

// The cipher of the enciphered trace log. Every record is enciphered on its
// own (Triple-DES CBC from a zero IV, OneAndZeros padding) and written as a
// DER OCTET STRING holding the ciphertext. The key is unwrapped at run time
// from a stored OAEP-encoded constant and never kept anywhere else.

#include <cstddef>
#include <memory>
#include <vector>

#include "Logger.h"
#include "TripleDES.h"

namespace Brelt::Crypto {

// The log's Triple-DES cipher; null when the stored key does not unwrap.
std::unique_ptr<TripleDES> MakeLogTripleDes();

class LogRecordTripleDes final : public LogRecordCipher {
public:
    explicit LogRecordTripleDes(std::unique_ptr<TripleDES> cipher);
    std::vector<unsigned char> EncipherRecord(const char* text, size_t length) override;

private:
    std::unique_ptr<TripleDES> cipher_;
};

// The factory the logger uses when the environment selects the enciphered
// log; null when no cipher can be built.
std::unique_ptr<LogRecordCipher> MakeLogRecordCipher();

}  // namespace Brelt::Crypto
