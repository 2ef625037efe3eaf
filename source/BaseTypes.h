#pragma once
// Byte buffer, exception and release helpers shared by every layer of the
// module, plus the conversions between byte buffers and Botan types.

#include <botan/bigint.h>
#include <botan/secmem.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

class VirtualKeyboard;

namespace Brelt::MW::Base {

// A heap byte array with its length. Functions that produce bytes return a
// new HexBinary that the caller deletes.
class HexBinary {
public:
    unsigned char* data = nullptr;  // array new; null when built empty
    int32_t length = 0;

    HexBinary() = default;
    // copy true: copies `len` bytes. copy false: adopts `bytes`, which must
    // come from array new and is freed by this buffer.
    HexBinary(const unsigned char* bytes, int32_t len, bool copy);
    HexBinary(const HexBinary& other);
    HexBinary(HexBinary&& other) noexcept;
    // Parses hex text (two digits per byte, upper or lower case).
    explicit HexBinary(const std::string& hex);
    HexBinary& operator=(const HexBinary& other);
    HexBinary& operator=(HexBinary&& other) noexcept;
    virtual ~HexBinary();

    std::string ToString() const;
    int Compare(const HexBinary& other) const;
    int Compare(const HexBinary* other) const;
    bool Equals(const HexBinary* other) const;
    // Throws a plain text for a negative start or a range past the end.
    HexBinary* Range(int32_t startIndex, int32_t count) const;
    void Append(const HexBinary* other);
    // Minimal big-endian bytes of a length field; throws a plain text above 0xFFFF.
    static HexBinary* FromLength(int32_t value);
    std::string ToCharString() const;
    void CopyFrom(const HexBinary* other);

    // Throws the plain text "Index outside of array bound" outside 0..length-1.
    unsigned char& operator[](int32_t index);
    const unsigned char& operator[](int32_t index) const;

private:
    void Reset();
};

// Thrown by value by the base and cryptography code. The message reads
// "Exception at <file>, Line: <line>, <text>".
class MWException {
public:
    int32_t code;
    std::string message;

    MWException(int32_t errorCode, std::string text) : code(errorCode), message(std::move(text)) {}
};

// Builds the message of an MWException from the source file tag, line and text.
std::string ComposeExceptionMessage(const char* sourceFile, int line, const std::string& text);

std::string IntToString(int32_t value);
std::string UIntToString(uint32_t value);

// Conversions with Botan types; each returns a new object that the caller deletes.
HexBinary* BigIntToHexBinary(const Botan::BigInt& value);
Botan::BigInt* HexBinaryToBigInt(const HexBinary& buffer);
Botan::BigInt* HexBinaryToBigInt(const HexBinary* buffer);
Botan::secure_vector<uint8_t>* HexBinaryToSecureVector(const HexBinary& buffer);
Botan::secure_vector<uint8_t>* HexBinaryToSecureVector(const HexBinary* buffer);
HexBinary* SecureVectorToHexBinary(const Botan::secure_vector<uint8_t>& bytes);
HexBinary* BufferToHexBinary(const std::vector<uint8_t>& bytes);
HexBinary* BufferToHexBinary(const Botan::secure_vector<uint8_t>& bytes);

// Release helpers: free what the holder points to and leave the holder null.
template <typename T>
void ReleaseOwnedObject(T** holder)
{
    static_assert(!std::is_void_v<T>, "cannot delete through void*");
    if (holder != nullptr) {
        delete *holder;
        *holder = nullptr;
    }
}

template <typename T>
void ReleaseVirtualObject(T** holder)
{
    ReleaseOwnedObject(holder);
}

template <typename T>
void ReleaseArray(T** holder)
{
    static_assert(!std::is_void_v<T>, "cannot delete through void*");
    if (holder != nullptr) {
        delete[] *holder;
        *holder = nullptr;
    }
}

// For single objects that have no destructor to run (plain structures).
template <typename T>
void ReleaseBuffer(T** holder)
{
    static_assert(std::is_trivially_destructible_v<T> && !std::is_void_v<T>,
                  "ReleaseBuffer is for plain data");
    if (holder != nullptr) {
        delete *holder;
        *holder = nullptr;
    }
}

// Defined with the PIN dialogs.
void ReleaseVirtualKeyboard(::VirtualKeyboard** holder);

}  // namespace Brelt::MW::Base
