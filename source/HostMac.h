#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "RetailMac.h"

namespace Brelt::Crypto {

// ISO/IEC 9797-1 MAC algorithm 3 with DES (retail MAC) and DES-CBC on the
// host. Each answers a CRYPTO_ code (HostCryptoResult.h).

// key: 16 bytes (K1 K2, K3 = K1) or 24 bytes (K1 K2 K3), else 11. data: a
// non-zero multiple of 8 bytes, else 10. iv: 8 bytes, or null for zeros.
// On success mac holds the 8-byte MAC.
int ComputeRetailMac(const unsigned char* key, uint32_t keyLength, const unsigned char* data,
                     uint32_t dataLength, std::vector<uint8_t>& mac, const unsigned char* iv);
// Padding method 2 (80 00..; always at least one byte) first.
int ComputeRetailMacPadded(const unsigned char* key, uint32_t keyLength, const unsigned char* data,
                           uint32_t dataLength, std::vector<uint8_t>& mac, const unsigned char* iv);
// Padding method 1 (00..; nothing added to a multiple of 8) first.
int ComputeRetailMacZeroPadded(const unsigned char* key, uint32_t keyLength, const unsigned char* data,
                               uint32_t dataLength, std::vector<uint8_t>& mac, const unsigned char* iv);

// The same MAC through the X9.19 wrapper (padding method 2); 0, or 1 for
// anything refused (a key that is not 8 or 16 bytes included).
int ComputeX919Mac(const unsigned char* key, uint32_t keyLength, const unsigned char* data,
                   uint32_t dataLength, std::vector<uint8_t>& mac);

// Single-DES CBC encryption in place; length a non-zero multiple of 8,
// else 10. iv: 8 bytes, or null for zeros.
int DesCbcEncrypt(const unsigned char key[8], unsigned char* data, int32_t length, const unsigned char* iv);

void ReleaseRetailMac(std::unique_ptr<RetailMac>& holder);

}  // namespace Brelt::Crypto
