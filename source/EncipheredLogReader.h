#pragma once

// Reads an enciphered trace log back into text: the file is a plain
// sequence of DER OCTET STRING records, each enciphered on its own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Brelt::Crypto {

struct LogDecodeResult {
    std::vector<std::string> records;  // the text of each record, in order
    bool complete = false;             // false when the input stopped being readable
    size_t failedOffset = 0;           // where reading stopped when not complete
    std::string error;                 // why it stopped
};

// Deciphers records until the end of the input or the first record that is
// truncated, not an OCTET STRING or does not decipher.
LogDecodeResult DecipherLogRecords(const std::vector<uint8_t>& file);

}  // namespace Brelt::Crypto
