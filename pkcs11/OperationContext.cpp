#include "pkcs11/OperationContext.h"

#include <cstring>

namespace Brelt::MW::Pkcs11 {

std::unique_ptr<MechanismCopy> CopyMechanism(const CK_MECHANISM* mechanism) {
  if (mechanism == nullptr) return nullptr;
  const CK_ULONG length = mechanism->ulParameterLen;
  if (length != 0 && mechanism->pParameter == nullptr) return nullptr;

  std::unique_ptr<MechanismCopy> copy(new MechanismCopy());
  copy->mechanism_.mechanism = mechanism->mechanism;
  if (length == 0) return copy;

  const auto* bytes = static_cast<const unsigned char*>(mechanism->pParameter);
  copy->parameter_.assign(bytes, bytes + length);
  copy->mechanism_.pParameter = copy->parameter_.data();
  copy->mechanism_.ulParameterLen = length;

  // An OAEP parameter points to its label: copy the label as well and point
  // the copied parameter at it.
  if (mechanism->mechanism == CKM_RSA_PKCS_OAEP && length == sizeof(CK_RSA_PKCS_OAEP_PARAMS)) {
    CK_RSA_PKCS_OAEP_PARAMS params;
    std::memcpy(&params, copy->parameter_.data(), sizeof(params));
    if (params.ulSourceDataLen != 0) {
      if (params.pSourceData == nullptr) return nullptr;
      const auto* label = static_cast<const unsigned char*>(params.pSourceData);
      copy->oaepSource_.assign(label, label + params.ulSourceDataLen);
      params.pSourceData = copy->oaepSource_.data();
    } else {
      params.pSourceData = nullptr;
    }
    std::memcpy(copy->parameter_.data(), &params, sizeof(params));
  }
  return copy;
}

void ResetOperation(OperationContext& context) {
  context.mechanism.reset();
  context.hKey = 0;
  context.data.clear();
  context.data.shrink_to_fit();
  context.alwaysAuthenticate = false;
  context.contextLoginDone = false;
}

void ClearOperation(OperationContext& context) { ResetOperation(context); }

bool IsOperationActive(const OperationContext& context) { return context.hKey != 0; }

}  // namespace Brelt::MW::Pkcs11
