#pragma once
// A small BER-TLV walker for file-control and list answers of the card, and
// the writers of tags and lengths. Sizes and offsets are 16-bit; 0xFFFF marks
// an element that is malformed, cut short or absent.

#include <cstdint>

namespace Brelt::MW::Token {

inline constexpr uint16_t kTlvInvalid = 0xFFFF;

// Number of tag bytes of the element at `bytes`.
uint16_t GetTlvTagSize(const uint8_t* bytes, uint32_t length);
// Number of length bytes that follow the tag.
uint16_t GetTlvLengthSize(const uint8_t* bytes, uint32_t length);
// The value length the length bytes give (one byte, 81 xx or 82 hh ll).
uint16_t GetTlvValueLength(const uint8_t* bytes, uint32_t length);
// Value length and header length (tag and length bytes) of the element;
// both kTlvInvalid unless the header is well formed and fits.
void GetTlvHeader(const uint8_t* bytes, uint32_t length, uint16_t* valueLength, uint16_t* headerLength);

// Walks a template and its children: from `position`, an element is entered
// when `end` is 0 (its children are visited next) and skipped otherwise;
// `end` is where the entered template stops. Returns the offset of the next
// element whose first tag byte (or two tag bytes, for a tag above 0xFF) equals
// `tag`, or kTlvInvalid. Start with position and end 0 and call again with
// the same two values for the next match.
uint16_t FindTlvTag(const uint8_t* buffer, uint32_t length, uint16_t tag, uint16_t* position, uint16_t* end);

// Writers: one tag byte below 256, else two bytes big-endian; a length below
// 128 as one byte, below 256 as 81 xx, else 82 hh ll. Each advances `position`.
uint16_t GetTagByteCount(uint16_t tag);
void PutTlvTag(uint8_t* buffer, uint16_t tag, uint16_t* position);
void PutTlvLength(uint8_t* buffer, uint16_t length, uint16_t* position);

// Reverses a byte string in place.
void ReverseBytes(uint8_t* buffer, uint32_t length);

}  // namespace Brelt::MW::Token
