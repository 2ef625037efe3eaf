#include "EncipheredLogReader.h"

#include <exception>

#include "CryptoBytes.h"
#include "LogCipher.h"

namespace Brelt::Crypto {

namespace {

// Reads one DER TLV header at offset; false when it is malformed or runs
// past the end. Records are at most a few tens of kilobytes, so lengths of
// up to four octets are accepted.
bool ReadOctetStringHeader(const std::vector<uint8_t>& file, size_t offset, size_t& valueOffset,
                           size_t& valueLength, std::string& error)
{
    const size_t remaining = file.size() - offset;
    if (remaining < 2) {
        error = "truncated record header";
        return false;
    }
    if (file[offset] != 0x04) {
        error = "record is not an OCTET STRING";
        return false;
    }
    const uint8_t first = file[offset + 1];
    size_t headerLength = 2;
    size_t length = first;
    if (first & 0x80) {
        const size_t octets = first & 0x7F;
        if (octets == 0 || octets > 4) {
            error = "unsupported record length";
            return false;
        }
        if (remaining < 2 + octets) {
            error = "truncated record header";
            return false;
        }
        length = 0;
        for (size_t i = 0; i < octets; ++i)
            length = (length << 8) | file[offset + 2 + i];
        headerLength += octets;
    }
    if (length > remaining - headerLength) {
        error = "truncated record";
        return false;
    }
    valueOffset = offset + headerLength;
    valueLength = length;
    return true;
}

}  // namespace

LogDecodeResult DecipherLogRecords(const std::vector<uint8_t>& file)
{
    LogDecodeResult result;
    const auto cipher = MakeLogTripleDes();
    if (!cipher) {
        result.error = "log key unavailable";
        return result;
    }
    size_t offset = 0;
    while (offset < file.size()) {
        size_t valueOffset = 0;
        size_t valueLength = 0;
        if (!ReadOctetStringHeader(file, offset, valueOffset, valueLength, result.error)) {
            result.failedOffset = offset;
            return result;
        }
        try {
            const auto enciphered = MakeHexBinary(file.data() + valueOffset, valueLength);
            const auto plain = cipher->Decrypt(enciphered.get());
            const auto bytes = BytesOf(plain.get());
            result.records.emplace_back(bytes.begin(), bytes.end());
        } catch (const std::exception& e) {
            result.failedOffset = offset;
            result.error = std::string("record does not decipher: ") + e.what();
            return result;
        }
        offset = valueOffset + valueLength;
    }
    result.complete = true;
    return result;
}

}  // namespace Brelt::Crypto
