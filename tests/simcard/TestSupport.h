// Helpers shared by the card model tests.
#pragma once

#include <cardsim/Personalisations.h>

#include <cctype>
#include <string>

namespace simtest {

using cardsim::Bytes;

// "00 A4 00 0C" -> bytes; spaces are ignored.
inline Bytes Hex(const std::string& text)
{
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

inline uint16_t Sw(const Bytes& response)
{
    return response.size() < 2 ? 0 : uint16_t(response[response.size() - 2] << 8 | response.back());
}

inline Bytes Data(const Bytes& response)
{
    return Bytes(response.begin(), response.end() - std::min<size_t>(2, response.size()));
}

inline Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// SELECT of the PKCS#15 application by AID, without answer data.
inline const Bytes kSelectPkcs15 = Hex("00 A4 04 0C 0C A0 00 00 00 63 50 4B 43 53 2D 31 35");
inline const Bytes kVerifyUserPin = Hex("00 20 00 01 08 31 32 33 34 FF FF FF FF");

}  // namespace simtest
