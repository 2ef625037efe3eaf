#pragma once
// One active operation of a session (sign, verify, encrypt or decrypt): the
// mechanism, the key, and the data collected so far. An operation is active
// while its key handle is not 0.

#include <cstdint>
#include <memory>
#include <vector>

#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Pkcs11 {

// A deep copy of a CK_MECHANISM that owns its parameter bytes, so that the
// operation does not depend on the caller's memory after its Init call.
class MechanismCopy {
 public:
  MechanismCopy(const MechanismCopy&) = delete;
  MechanismCopy& operator=(const MechanismCopy&) = delete;

  const CK_MECHANISM* Get() const { return &mechanism_; }
  CK_MECHANISM_TYPE Type() const { return mechanism_.mechanism; }
  CK_ULONG ParameterLength() const { return mechanism_.ulParameterLen; }

 private:
  friend std::unique_ptr<MechanismCopy> CopyMechanism(const CK_MECHANISM* mechanism);
  MechanismCopy() = default;

  CK_MECHANISM mechanism_{};
  std::vector<unsigned char> parameter_;
  // The label of an OAEP parameter, which the parameter only points to.
  std::vector<unsigned char> oaepSource_;
};

// Null for a null mechanism, and for one whose parameter cannot be read (a
// null parameter pointer with a non-zero length, or an OAEP parameter whose
// label pointer is null with a non-zero length). Without a parameter
// (length 0) the copy has a null parameter and length 0.
std::unique_ptr<MechanismCopy> CopyMechanism(const CK_MECHANISM* mechanism);

struct OperationContext {
  std::unique_ptr<MechanismCopy> mechanism;
  // The key's object handle; 0 means no operation is active.
  CK_OBJECT_HANDLE hKey = 0;
  // Size of the key's modulus in bits, set by the Init operation.
  uint16_t modulusBits = 0;
  // Data collected for the operation.
  std::vector<unsigned char> data;
  // The key demands a PIN for every use.
  bool alwaysAuthenticate = false;
  // A context-specific login was made for this operation.
  bool contextLoginDone = false;
};

// Ends the operation: frees the mechanism copy and the data, clears the key
// handle and both flags. The modulus size stays (the next Init sets it).
void ResetOperation(OperationContext& context);
void ClearOperation(OperationContext& context);
bool IsOperationActive(const OperationContext& context);

}  // namespace Brelt::MW::Pkcs11
