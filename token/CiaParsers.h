#pragma once
// Parsers of EF.DIR, CIAInfo, the ODF and the object directory files.
// Malformed or wrongly typed input gives CKR_ARGUMENTS_BAD and leaves the
// output empty (an object list keeps only what it held before).

#include <memory>
#include <vector>

#include "ASN1Object.h"
#include "BaseTypes.h"
#include "pkcs11/cryptoki.h"
#include "token/CIOObject.h"
#include "token/CiaRecords.h"

namespace Brelt::MW::Token {

using AsnElements = std::vector<std::unique_ptr<Crypto::ASN::ASN1Object>>;

// Splits a buffer into its top-level elements, up to the end of the data or
// a 00 byte where a tag would start.
CK_RV GetObjectSet(const MW::Base::HexBinary* data, AsnElements& out);

CK_RV ParseEFDir(const MW::Base::HexBinary* data, EfDirRecords& out);
CK_RV ParseCIAInfo(const MW::Base::HexBinary* data, CIAInfo& out);
CK_RV ParseOD(const MW::Base::HexBinary* data, OdfRecords& out);

// Builds an object from every entry of a directory file and appends it to
// `list`.
CK_RV ParseCIOFile(const MW::Base::HexBinary* data, CIOObjectList& list, uint32_t cardProfile);
CK_RV ParseCIOFile(const AsnElements& entries, CIOObjectList& list, uint32_t cardProfile);

// Modulus (81) and exponent (82) of a public key element; each output is
// replaced, null when its element is absent.
CK_RV ParsePublicKey(const unsigned char* bytes, uint16_t length, Bytes& modulus, Bytes& exponent);

}  // namespace Brelt::MW::Token
