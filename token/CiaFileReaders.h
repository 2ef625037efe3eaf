#pragma once
// Reading EF.DIR, CIAInfo, the ODF, the object directory files and
// certificate files from the card. Results are the card-layer codes; a record
// read that ends on 6A83 (no more records) is success.

#include <cstdint>
#include <memory>
#include <vector>

#include "BaseTypes.h"
#include "card/Slot.h"
#include "pkcs11/cryptoki.h"
#include "token/CiaParsers.h"
#include "token/CiaRecords.h"

namespace Brelt::MW::Token {

using Card::Slot;
using HexBinaries = std::vector<std::unique_ptr<MW::Base::HexBinary>>;

// Largest file read whole; also the room of every read buffer.
inline constexpr uint32_t kMaxCardFileSize = 65535;
// Record numbers run from 1 to 254; a card answering more records is faulty.
inline constexpr uint32_t kMaxRecordCount = 254;

inline constexpr uint16_t kSwRecordNotFound = 0x6A83;

// Reads a transparent EF. P1 of the SELECT: 00 for a file id, 09 for a
// longer path, 08 (path from the MF) when `plainRead` is 0.
CK_RV ReadEF(const Slot* slot, const uint8_t* path, uint16_t pathLength, MW::Base::HexBinary& out,
             uint32_t plainRead);
CK_RV ReadEFDir(const Slot* slot, MW::Base::HexBinary& out);
CK_RV ReadCIAInfo(const Slot* slot, MW::Base::HexBinary& out);
CK_RV ReadEFOd(const Slot* slot, MW::Base::HexBinary& out);
CK_RV ReadCIO(const Slot* slot, const MW::Base::HexBinary& path, MW::Base::HexBinary& out);

// Every record of a record EF, joined or one buffer per record. A card that
// answers more than kMaxRecordCount records gives CKR_FUNCTION_FAILED.
CK_RV ReadEFRecord(const Slot* slot, const uint8_t* path, uint16_t pathLength, MW::Base::HexBinary& out);
CK_RV ReadEFRecordList(const Slot* slot, const uint8_t* path, uint16_t pathLength, HexBinaries& out);

CK_RV ReadCIORecordFile(const Slot* slot, const MW::Base::HexBinary& path, MW::Base::HexBinary& out);
// Each record less its two-byte prefix must hold exactly one element (00
// filler bytes may follow); CKR_ARGUMENTS_BAD otherwise, with nothing kept.
CK_RV ReadCIORecordFile(const Slot* slot, const MW::Base::HexBinary& path, AsnElements& out);

// Finds the slot by id (none: CKR_FUNCTION_FAILED) and reads the file.
CK_RV ReadCertificateObject(CK_SLOT_ID slotId, const MW::Base::HexBinary& path, MW::Base::HexBinary& out);

// SELECT MF, read and parse EF.DIR. CKR_ARGUMENTS_BAD without a slot.
CK_RV LoadEFDirInfo(const Slot* slot, EfDirRecords& out);

// Reads every directory file that the ODF lists under `odfIndex`, in ODF
// order; `lastPath` ends as the path of the last one. A failing read ends
// the loop with its result.
CK_RV LoadCIOData(const Slot* slot, uint32_t odfIndex, const OdfRecords& odf, HexBinaries& files,
                  Bytes& lastPath, uint32_t transparent);
CK_RV LoadCIOData(const Slot* slot, uint32_t odfIndex, const OdfRecords& odf, std::vector<AsnElements>& files,
                  Bytes& lastPath, uint32_t transparent);

}  // namespace Brelt::MW::Token
