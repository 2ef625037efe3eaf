// Building blocks of the personalisations: card identity per CardOS
// version and the PKCS#15 file layouts with their keys and PINs.
#pragma once

#include "CardState.h"

#include <memory>
#include <optional>
#include <string>

namespace cardsim::detail {

// Variations of the PKCS#15 layout; defaults give the plain DefaultProfile card.
struct LayoutOptions {
    std::string label = "Emu Default 5.0";  // CIAInfo label
    bool sigG = false;                      // SigG marker EF and signature DFs
    bool secondSigGKey = false;             // extra SigG key under a second PIN
    bool efDir = true;
    bool efDirAsRecords = false;            // faulty: EF.DIR as record EF
    size_t signatureKeyBits = 2048;
    size_t authenticationKeyBits = 2048;
    std::optional<int> signatureKeyUserConsent;
    bool unpaddedPin = false;               // PIN "123456" stored without padding
    int userPinMaxLength = 8;               // maxLength of the user PIN's directory entry
    uint32_t mechanism = 1;                 // CIAInfo algorithm (mechanism number)
    uint8_t keyReferenceBase = 0x00;        // 0x80 moves the key references to 81/82
    bool ciaInfoTwoElements = false;        // faulty CIAInfo
    bool ciaInfoMissing = false;
    bool odfDanglingEntry = false;          // ODF names a missing directory file
    bool applicationFcpWithoutFid = false;  // SELECT by AID answers without tag 83
    bool applicationFcpEmpty = false;       // ... or without any FCP data
    std::optional<uint8_t> certificateFill; // certificate files 300 bytes larger, filled with it
    std::optional<size_t> directoryModulusBits;  // the key directories' size of every key, not the key's
    bool publicHalvesUnmatched = false;     // certificates and public keys under other iDs than the keys
    bool certificateDf = false;             // an empty DF F0 in the application for new certificates
};

Bytes MakeAtr(const Bytes& historicalBytes);
// A card with only the MF and the identity (ATR, GET DATA objects) of `os`.
std::unique_ptr<CardState> NewCard(const std::string& name, CardOs os);
void AddPkcs15Layout(CardState& state, const LayoutOptions& options);
// Keys of an eID signature application: signature key 01 and deciphering key
// 02 (PKCS#1 v1.5 removed on the card unless the MSE asks for the raw block)
// in key containers 4B01/4B02, certificates 4301/4302, both keys under the
// global signing PIN 03 "123456".
void AddEidApplicationKeys(CardState& state, File& application);

}  // namespace cardsim::detail
