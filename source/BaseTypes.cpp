#include "BaseTypes.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace Brelt::MW::Base {

namespace {

constexpr int32_t kHexFormatError = 10009;
constexpr char kSourceFileTag[] = ".\\source\\BaseTypes";
// Line numbers that identify the two hex-text errors in their messages; log
// readers and support scripts match on the complete texts.
constexpr int kOddLengthLine = 13;
constexpr int kBadCharacterLine = 16;

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Buffers carry PINs and keys: their bytes are wiped before the memory goes
// back to the allocator.
void WipeAndFree(unsigned char* bytes, int32_t len)
{
    if (bytes != nullptr && len > 0) explicit_bzero(bytes, static_cast<size_t>(len));
    delete[] bytes;
}

unsigned char* CopyBytes(const unsigned char* bytes, int32_t len)
{
    auto* copy = new unsigned char[static_cast<size_t>(len)];
    if (len > 0) std::memcpy(copy, bytes, static_cast<size_t>(len));
    return copy;
}

}  // namespace

HexBinary::HexBinary(const unsigned char* bytes, int32_t len, bool copy)
{
    if (len < 0) throw std::invalid_argument("HexBinary: negative length");
    if (bytes == nullptr && len > 0) throw std::invalid_argument("HexBinary: null data");
    if (copy) {
        data = bytes != nullptr ? CopyBytes(bytes, len) : nullptr;
    } else {
        data = const_cast<unsigned char*>(bytes);
    }
    length = len;
}

HexBinary::HexBinary(const HexBinary& other)
    : data(other.data != nullptr ? CopyBytes(other.data, other.length) : nullptr),
      length(other.data != nullptr ? other.length : 0)
{
}

HexBinary::HexBinary(HexBinary&& other) noexcept : data(other.data), length(other.length)
{
    other.data = nullptr;
    other.length = 0;
}

HexBinary::HexBinary(const std::string& hex)
{
    if (hex.size() % 2 != 0)
        throw MWException(kHexFormatError,
                          ComposeExceptionMessage(kSourceFileTag, kOddLengthLine,
                                                  "Hex string must have even length"));
    if (hex.size() / 2 > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw std::length_error("HexBinary: hex text too long");
    for (size_t i = 0; i < hex.size(); ++i) {
        if (HexDigitValue(hex[i]) < 0)
            throw MWException(
                kHexFormatError,
                ComposeExceptionMessage(kSourceFileTag, kBadCharacterLine,
                                        "Invalid character in hex string on position " +
                                            UIntToString(static_cast<uint32_t>(i))));
    }
    const auto count = static_cast<int32_t>(hex.size() / 2);
    data = new unsigned char[static_cast<size_t>(count)];
    length = count;
    for (int32_t i = 0; i < count; ++i) {
        data[i] = static_cast<unsigned char>(HexDigitValue(hex[2 * i]) << 4 |
                                             HexDigitValue(hex[2 * i + 1]));
    }
}

HexBinary& HexBinary::operator=(const HexBinary& other)
{
    if (this != &other) {
        HexBinary copy(other);
        *this = std::move(copy);
    }
    return *this;
}

HexBinary& HexBinary::operator=(HexBinary&& other) noexcept
{
    if (this != &other) {
        Reset();
        data = other.data;
        length = other.length;
        other.data = nullptr;
        other.length = 0;
    }
    return *this;
}

HexBinary::~HexBinary()
{
    Reset();
}

void HexBinary::Reset()
{
    WipeAndFree(data, length);
    data = nullptr;
    length = 0;
}

std::string HexBinary::ToString() const
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    if (data == nullptr || length < 1) return text;
    text.reserve(static_cast<size_t>(length) * 2);
    for (int32_t i = 0; i < length; ++i) {
        text.push_back(kDigits[data[i] >> 4]);
        text.push_back(kDigits[data[i] & 0x0F]);
    }
    return text;
}

int HexBinary::Compare(const HexBinary& other) const
{
    // Same order as comparing the hex texts: byte-wise, a proper prefix first.
    const int32_t ownLength = data != nullptr ? std::max(length, 0) : 0;
    const int32_t otherLength = other.data != nullptr ? std::max(other.length, 0) : 0;
    const int32_t common = std::min(ownLength, otherLength);
    if (common > 0) {
        const int result = std::memcmp(data, other.data, static_cast<size_t>(common));
        if (result != 0) return result < 0 ? -1 : 1;
    }
    if (ownLength == otherLength) return 0;
    return ownLength < otherLength ? -1 : 1;
}

int HexBinary::Compare(const HexBinary* other) const
{
    if (other == nullptr) return Compare(HexBinary());
    return Compare(*other);
}

bool HexBinary::Equals(const HexBinary* other) const
{
    if (other == nullptr) return false;
    if (other == this) return true;
    if (length != other->length) return false;
    if (length <= 0) return true;
    return std::memcmp(data, other->data, static_cast<size_t>(length)) == 0;
}

HexBinary* HexBinary::Range(int32_t startIndex, int32_t count) const
{
    if (startIndex < 0) throw "Invalid startIndex parameter";
    if (count < 0 || static_cast<int64_t>(startIndex) + count > length)
        throw "HexBinary->Range: Out of bounds request";
    return new HexBinary(data != nullptr ? data + startIndex : nullptr, count, true);
}

void HexBinary::Append(const HexBinary* other)
{
    if (other == nullptr || other->data == nullptr || other->length <= 0) return;
    const int32_t ownLength = data != nullptr ? length : 0;
    const int64_t total = static_cast<int64_t>(ownLength) + other->length;
    if (total > std::numeric_limits<int32_t>::max())
        throw std::length_error("HexBinary: appended buffer too long");
    auto* joined = new unsigned char[static_cast<size_t>(total)];
    if (ownLength > 0) std::memcpy(joined, data, static_cast<size_t>(ownLength));
    // `other` may be this buffer: its bytes are read before the old array goes.
    std::memcpy(joined + ownLength, other->data, static_cast<size_t>(other->length));
    WipeAndFree(data, ownLength);
    data = joined;
    length = static_cast<int32_t>(total);
}

unsigned char& HexBinary::operator[](int32_t index)
{
    if (index < 0 || index >= length || data == nullptr) throw "Index outside of array bound";
    return data[index];
}

const unsigned char& HexBinary::operator[](int32_t index) const
{
    if (index < 0 || index >= length || data == nullptr) throw "Index outside of array bound";
    return data[index];
}

HexBinary* HexBinary::FromLength(int32_t value)
{
    if (value > 0xFFFF) throw "Input parameter is bigger then 0xFFFF";
    unsigned char bytes[4];
    int32_t count = 0;
    const auto unsignedValue = static_cast<uint32_t>(value);
    for (int shift = 24; shift >= 8; shift -= 8) {
        // Arithmetic shift of the signed value, so negatives keep all four bytes.
        if ((value >> shift) != 0) bytes[count++] = static_cast<unsigned char>(unsignedValue >> shift);
    }
    bytes[count++] = static_cast<unsigned char>(unsignedValue);
    return new HexBinary(bytes, count, true);
}

std::string HexBinary::ToCharString() const
{
    if (data == nullptr || length <= 0) return std::string();
    return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
}

void HexBinary::CopyFrom(const HexBinary* other)
{
    if (other == nullptr || other->data == nullptr || other == this) return;
    if (data == nullptr || length != other->length) {
        auto* replacement = new unsigned char[static_cast<size_t>(std::max(other->length, 0))];
        WipeAndFree(data, length);
        data = replacement;
        length = other->length;
    }
    if (length > 0) std::memcpy(data, other->data, static_cast<size_t>(length));
}

std::string ComposeExceptionMessage(const char* sourceFile, int line, const std::string& text)
{
    return std::string("Exception at ") + sourceFile + ", Line: " + IntToString(line) + ", " + text;
}

std::string IntToString(int32_t value)
{
    return std::to_string(value);
}

std::string UIntToString(uint32_t value)
{
    return std::to_string(value);
}

}  // namespace Brelt::MW::Base
