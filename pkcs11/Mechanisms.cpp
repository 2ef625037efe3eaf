// GetMechanismList and GetMechanismInfo.

#include "pkcs11/Mechanisms.h"

#include <algorithm>
#include <optional>

#include "LogTrace.h"
#include "Logger.h"
#include "pkcs11/InternalOperations.h"
#include "token/BitStringFlags.h"

namespace Brelt::MW::Pkcs11 {
namespace {

constexpr CK_MECHANISM_TYPE kDigestMechanisms[] = {CKM_SHA_1, CKM_SHA224, CKM_SHA256, CKM_SHA384, CKM_SHA512};

// Bit `index` of a BIT STRING's content, false past its used bits.
bool BitStringFlag(const std::vector<uint8_t>& bits, unsigned index) {
  bool value = false;
  return Token::GetFlagAtIndex(bits.data(), static_cast<int32_t>(bits.size()), index, &value) && value;
}

bool IsDigestMechanism(CK_MECHANISM_TYPE type) {
  return std::find(std::begin(kDigestMechanisms), std::end(kDigestMechanisms), type) != std::end(kDigestMechanisms);
}

// The facts of the slot's application; a table without any entry counts
// as no application.
CK_RV FactsOfSlot(CK_SLOT_ID slotID, Card::ApplicationFacts& facts) {
  std::optional<Card::ApplicationFacts> found;
  if (const CK_RV rv = Card::Applications()->GetApplicationFacts(slotID, found); rv != CKR_OK) return rv;
  if (!found) return CKR_FUNCTION_FAILED;
  facts = std::move(*found);
  return CKR_OK;
}

}  // namespace

bool ExistInList(CK_ULONG value, const std::vector<CK_ULONG>& list) {
  TraceEntering("ExistInList");
  const bool found = std::find(list.begin(), list.end(), value) != list.end();
  if (found)
    LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s: TRUE", "ExistInList");
  else
    LogMessage(LOG_LEVEL_INFO, true, nullptr, 0, true, "Leaving %s: FALSE", "ExistInList");
  return found;
}

std::vector<CK_MECHANISM_TYPE> MechanismsOf(const Card::ApplicationFacts& application) {
  std::vector<CK_MECHANISM_TYPE> list;
  for (const Card::AlgorithmFacts& algorithm : application.algorithms) {
    if (!algorithm.hasAlgorithm) continue;
    // Raw RSA on the card is offered as PKCS#1 signing only.
    const CK_MECHANISM_TYPE mechanism =
        algorithm.mechanism == CKM_RSA_X_509 ? CKM_RSA_PKCS : algorithm.mechanism;
    if (mechanism == CKM_RSA_PKCS && !ExistInList(mechanism, list)) list.push_back(mechanism);
  }
  for (CK_MECHANISM_TYPE digest : kDigestMechanisms)
    if (!ExistInList(digest, list)) list.push_back(digest);
  return list;
}

CK_MECHANISM_INFO MechanismInfoOf(const Card::ApplicationFacts& application, CK_MECHANISM_TYPE type) {
  CK_MECHANISM_INFO info{};
  if (IsDigestMechanism(type)) {
    info.flags = CKF_DIGEST;
    return info;
  }
  if (type != CKM_RSA_PKCS) return info;

  std::optional<CK_ULONG> smallest;
  std::optional<CK_ULONG> largest;
  for (CK_ULONG bits : application.rsaModulusBits) {
    if (bits == 0) continue;
    if (!smallest || bits < *smallest) smallest = bits;
    if (!largest || bits > *largest) largest = bits;
  }
  info.ulMinKeySize = smallest.value_or(0);
  info.ulMaxKeySize = largest.value_or(0);

  static constexpr CK_FLAGS kOperationFlags[8] = {CKF_SIGN,    CKF_SIGN,    CKF_VERIFY, CKF_VERIFY,
                                                  CKF_ENCRYPT, CKF_DECRYPT, CKF_DIGEST, CKF_GENERATE_KEY_PAIR};
  for (const Card::AlgorithmFacts& algorithm : application.algorithms) {
    if (!algorithm.hasAlgorithm || (algorithm.algorithmFirstByte != 1 && algorithm.algorithmFirstByte != 3)) continue;
    info.flags |= CKF_HW;
    for (unsigned bit = 0; bit < 8; ++bit)
      if (BitStringFlag(algorithm.supportedOperations, bit)) info.flags |= kOperationFlags[bit];
  }
  if (info.flags & CKF_SIGN) info.flags |= CKF_VERIFY;
  info.flags &= ~static_cast<CK_FLAGS>(CKF_GENERATE_KEY_PAIR);
  return info;
}

CK_RV GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
  FunctionTrace trace("GetMechanismList");
  Card::ApplicationFacts application;
  if (const CK_RV rv = FactsOfSlot(slotID, application); rv != CKR_OK) {
    LOG_FAILED("GetMechanismList", rv);
    return trace.Result(rv);
  }
  const std::vector<CK_MECHANISM_TYPE> list = MechanismsOf(application);
  if (pMechanismList != nullptr && *pulCount < list.size()) {
    // The caller learns the size it needs, as the standard's two-call
    // protocol expects.
    *pulCount = list.size();
    LOG_FAILED("GetMechanismList", CKR_BUFFER_TOO_SMALL);
    return trace.Result(CKR_BUFFER_TOO_SMALL);
  }
  if (pMechanismList != nullptr) std::copy(list.begin(), list.end(), pMechanismList);
  *pulCount = list.size();
  return trace.Result(CKR_OK);
}

CK_RV GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
  FunctionTrace trace("GetMechanismInfo");
  Card::ApplicationFacts application;
  if (const CK_RV rv = FactsOfSlot(slotID, application); rv != CKR_OK) {
    LOG_FAILED("GetMechanismInfo", rv);
    return trace.Result(rv);
  }
  *pInfo = MechanismInfoOf(application, type);
  return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Pkcs11
