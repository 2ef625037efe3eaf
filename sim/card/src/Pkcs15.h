// DER encoders for the PKCS#15 files of the personalisations: EF.DIR,
// CIAInfo, ODF and the entries of the directory files.
#pragma once

#include <cardsim/Card.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cardsim::detail {

using BitList = std::vector<int>;  // numbers of the named bits that are set

struct CommonAttributes {
    std::string label;
    BitList flags;                  // 0 private, 1 modifiable
    Bytes authId;                   // empty: none
    std::optional<int> userConsent;
};

struct PinObjectEntry {
    CommonAttributes common;
    Bytes authId;                   // the PIN's own identifier
    BitList pwdFlags;
    int pwdType = 1;                // ascii-numeric
    int minLength = 4;
    int storedLength = 8;
    int maxLength = 8;
    uint32_t reference = 1;
    std::optional<uint8_t> padChar;
};

struct PrivateKeyEntry {
    CommonAttributes common;
    Bytes id;
    BitList usage;
    BitList accessFlags;
    uint32_t keyReference = 1;
    int algReference = 0;
    Bytes path;
    size_t modulusBits = 2048;
};

struct PublicKeyEntry {
    CommonAttributes common;
    Bytes id;
    BitList usage;
    Bytes path;
    size_t modulusBits = 2048;
};

struct CertificateEntry {
    CommonAttributes common;
    Bytes id;
    Bytes path;
};

struct DataObjectEntry {
    CommonAttributes common;
    std::string applicationName;
    Bytes path;
};

struct OdfEntry {
    uint8_t choice;                 // context tag number: 0 PrKDF, 1 PuKDF, 4 CDF, 7 DODF, 8 AODF
    Bytes path;
};

Bytes EncodeBitString(const BitList& bits);
Bytes EncodeEfDirEntry(const Bytes& aid, const std::string& label, const Bytes& path);
Bytes EncodeCiaInfo(const std::string& label, uint32_t mechanism);
Bytes EncodeOdf(const std::vector<OdfEntry>& entries);
Bytes EncodePin(const PinObjectEntry& entry);
Bytes EncodePrivateKey(const PrivateKeyEntry& entry);
Bytes EncodePublicKey(const PublicKeyEntry& entry);
Bytes EncodeCertificate(const CertificateEntry& entry);
Bytes EncodeDataObject(const DataObjectEntry& entry);

}  // namespace cardsim::detail
