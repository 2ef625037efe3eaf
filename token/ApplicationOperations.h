#pragma once
// Operations on a whole application: writing a directory file back,
// selecting the DF of a file path and reading a certificate object.

#include <cstdint>
#include <functional>

#include "BaseTypes.h"
#include "X509Certificate.h"
#include "card/Slot.h"
#include "pkcs11/cryptoki.h"
#include "token/CardTypes.h"

namespace Brelt::MW::Token {

// Writes a whole file to the card (the card-object layer's WriteCardFile
// bound to the caller's session): path, data, write flag.
using CardFileWriter =
    std::function<CK_RV(const MW::Base::HexBinary& path, const MW::Base::HexBinary& data, uint32_t writeFlag)>;

// Re-encodes the directory file of `kind` of the slot's application and
// writes it with `writer`. Data larger than the card file (file size of its
// FCI) are refused with CKR_DEVICE_MEMORY before anything is written.
CK_RV WriteObjectInfo(CK_SLOT_ID slotId, CioFileKind kind, uint32_t writeFlag, const CardFileWriter& writer);

// Selects the DF that holds the file of `path` and gives the file id (the
// last two bytes). A 2-byte path selects nothing.
CK_RV SelectDFFromPath(const Card::Slot* slot, const MW::Base::HexBinary& path, uint8_t fileId[2],
                       uint32_t* fileIdLength);

// Reads and parses the certificate at `path` in the slot's application.
CK_RV ReadCertObject(CK_SLOT_ID slotId, const MW::Base::HexBinary& path, Crypto::CertificateHolder& out);

}  // namespace Brelt::MW::Token
