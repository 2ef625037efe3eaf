#pragma once
// The CardOS card commands the rest of the module builds on. Each is one or
// two APDUs sent with SendApdu, so it travels under the card's secure
// messaging whenever the card has a protected channel.
//
// `lastStatus`: the last-status word of the calling session (its
// ulDeviceError), or null for commands sent without a session. Results are
// the card-layer codes of ApduTransport.h unless said otherwise.

#include <cstdint>
#include <functional>
#include <vector>

#include "Apdu.h"
#include "BaseTypes.h"

namespace Brelt::MW::Card {

class Slot;


// Transparent files are read and written in chunks of this many bytes.
inline constexpr uint32_t kBinaryChunkSize = 240;

// SELECT P1 values.
inline constexpr uint8_t kSelectByAid = 0x04;
inline constexpr uint8_t kSelectByFileId = 0x00;
inline constexpr uint8_t kSelectEfUnderCurrentDf = 0x02;
inline constexpr uint8_t kSelectByPathFromMf = 0x08;

// Card profile whose IAS application is reached under secure messaging.
inline constexpr uint32_t kQesEacProfile = 4;

CK_RV SelectMF(const Slot* slot);

// Whether a command that failed with `rv` and left `lastStatus` behind got
// no real answer from the card: the exchange failed, the answer was cut
// short or longer than asked for, or the card reported an error of its own
// (6F00, 64xx, 65xx). Any other status word is the card's answer, for a
// SELECT: the file or application is not there.
bool CardCouldNotAnswer(CK_RV rv, CK_ULONG lastStatus);

// SELECT without FCI (00 A4 P1 0C).
CK_RV SelectFile(CK_ULONG* lastStatus, const Slot* slot, const uint8_t* path, uint16_t pathLength, uint8_t p1);

// SELECT with FCI (00 A4 P1 00, Le 00). `fci` receives the answer; it is
// empty after a failure.
CK_RV SelectFile(const Slot* slot, const uint8_t* path, uint16_t pathLength, std::vector<uint8_t>& fci,
                 uint8_t p1);
CK_RV SelectFile(CK_ULONG* lastStatus, const Slot* slot, const uint8_t* path, uint16_t pathLength,
                 std::vector<uint8_t>& fci, uint8_t p1);

// Selects the application by AID; CKR_FUNCTION_FAILED without an AID.
CK_RV SetIntoCiaAppDF(CK_ULONG* lastStatus, const Slot* slot, const Brelt::MW::Base::HexBinary* ciaAid);

// Selects the IAS application. For `profile` kQesEacProfile on a card whose
// FCP flag is clear, `ensureSecureChannel` must first confirm a protected
// channel; CKR_FUNCTION_FAILED when it cannot or when there is no AID.
CK_RV SetIntoIasAppDF(CK_ULONG* lastStatus, const Slot* slot, const Brelt::MW::Base::HexBinary* iasAid,
                      uint32_t profile, const std::function<bool()>& ensureSecureChannel);

// `available` 1 when EF.DIR (2F00) can be selected, else 0. Fails when
// SELECT MF fails or the card gives no real answer to the SELECT of EF.DIR
// (CardCouldNotAnswer); CKR_ARGUMENTS_BAD without slot or flag.
CK_RV IsEFDirAvailable(const Slot* slot, uint32_t* available);

// Reads a transparent file into `buffer`. `length` holds the room on entry
// and the bytes read on return (the smaller of room and file size, or the
// bytes up to the card's end-of-file answer).
CK_RV ReadBinaryInCDF(const Slot* slot, const uint8_t* path, uint16_t pathLength, uint8_t* buffer,
                      uint32_t* length, CK_ULONG* lastStatus, uint8_t p1);
CK_RV ReadBinary(CK_ULONG* lastStatus, const Slot* slot, const uint8_t* path, uint16_t pathLength,
                 uint8_t* buffer, uint32_t* length);

// Writes `data` in chunks, after selecting `path` when one is given, inside a
// card-side transaction when `cardTransaction` is nonzero.
CK_RV WriteBinary(CK_ULONG* lastStatus, const Slot* slot, const uint8_t* path, uint16_t pathLength,
                  const uint8_t* data, uint32_t length, uint32_t cardTransaction);
// UPDATE BINARY of one chunk; offsets above 0x7FFF are refused.
CK_RV WriteChunk(CK_ULONG* lastStatus, const Slot* slot, uint32_t offset, const uint8_t* data, uint16_t length);

// Record reads: at most `length` bytes are copied and `length` becomes the
// copied count; `sw` receives the answer's status word.
CK_RV ReadFirstRecord(const Slot* slot, const uint8_t* path, uint16_t pathLength, uint8_t* buffer,
                      uint32_t* length, uint16_t* sw);
CK_RV ReadNextRecord(const Slot* slot, uint8_t* buffer, uint32_t* length, uint16_t* sw);

// Number of records from the FCI's 82 element; 0xFFFF when unknown.
uint16_t GetNumRecords(const Slot* slot, const uint8_t* path, uint16_t pathLength);

// CardOS versions as GetCardOSVersion reports them (the token layer's
// CardOStype numbering).
inline constexpr uint32_t kCardOs43B = 1;
inline constexpr uint32_t kCardOs44 = 2;
inline constexpr uint32_t kCardOs50 = 3;

// Never fails on an unknown answer: falls back to CardOS 5.0.
CK_RV GetCardOSVersion(const Slot* slot, uint32_t* version);

// GET DATA of the life-cycle byte; the answer is dropped.
CK_RV GetData(CK_ULONG* lastStatus, const Slot* slot);
// GET DATA 00 CA 01 P2: the first answer byte. An answer without data fails.
CK_RV GetData(CK_ULONG* lastStatus, const Slot* slot, uint8_t p2, uint16_t* value);

// CKR_OK when the life-cycle byte equals `expected`.
CK_RV CheckLc(CK_ULONG* lastStatus, const Slot* slot, uint8_t expected);
// Moves the card to the next life-cycle state unless it is in `expected` already.
CK_RV ChangeLc(CK_ULONG* lastStatus, const Slot* slot, uint8_t expected);

// flags[0..3] from the security-status bytes 03, 01, 94 and 95.
CK_RV GetDataSecurityStatus(CK_ULONG* lastStatus, const Slot* slot, uint32_t flags[4]);

CK_RV BeginTransaction(CK_ULONG* lastStatus, const Slot* slot);
CK_RV EndTransaction(CK_ULONG* lastStatus, const Slot* slot);

// GENERATE ASYMMETRIC KEY PAIR (P1 82: new pair, 83: read the public key of
// an existing pair) for the key reference, in the forced extended form, in
// the currently selected DF. `publicKey` receives the card's answer (tag 81
// modulus, tag 82 exponent).
CK_RV GenerateAsymKeyPair(CK_ULONG* lastStatus, const Slot* slot, uint8_t p1, uint8_t keyReference,
                          std::vector<uint8_t>& publicKey);

// True when bit 0 of the GET DATA 8E answer is set; false when clear or on failure.
bool IsFcpFlagSet(CK_ULONG* lastStatus, const Slot* slot);

}  // namespace Brelt::MW::Card
