// Mechanism list and mechanism information of a slot.

#include <gtest/gtest.h>

#include "card/CardApplications.h"
#include "pkcs11/Mechanisms.h"

namespace monitor_test {
namespace {

using Brelt::MW::Card::AlgorithmFacts;
using Brelt::MW::Card::ApplicationFacts;
using Brelt::MW::Pkcs11::MechanismInfoOf;
using Brelt::MW::Pkcs11::MechanismsOf;

const std::vector<CK_MECHANISM_TYPE> kDigests = {CKM_SHA_1, CKM_SHA224, CKM_SHA256, CKM_SHA384, CKM_SHA512};

AlgorithmFacts Algorithm(CK_MECHANISM_TYPE mechanism, std::vector<uint8_t> operations = {}) {
  return {true, mechanism, static_cast<uint8_t>(mechanism), std::move(operations)};
}

TEST(MechanismListTest, OffersRsaPkcsOnceWhenTheCardListsRsa) {
  ApplicationFacts application;
  EXPECT_EQ(MechanismsOf(application), kDigests);

  application.algorithms = {Algorithm(CKM_RSA_X_509), Algorithm(CKM_SHA256_RSA_PKCS), Algorithm(CKM_RSA_PKCS)};
  std::vector<CK_MECHANISM_TYPE> expected{CKM_RSA_PKCS};
  expected.insert(expected.end(), kDigests.begin(), kDigests.end());
  EXPECT_EQ(MechanismsOf(application), expected);

  // An entry without an algorithm field, or with an unusable one, adds nothing.
  application.algorithms = {AlgorithmFacts{false, CKM_RSA_PKCS, 1, {}}, Algorithm(0xFFFFFFFF)};
  EXPECT_EQ(MechanismsOf(application), kDigests);
}

TEST(MechanismInfoTest, FlagsFromSupportedOperations) {
  ApplicationFacts application;
  // Bit 1 (sign) and bit 7 (key generation): sign implies verify, key
  // generation is never offered.
  application.algorithms = {Algorithm(CKM_RSA_PKCS, {0x00, 0x41})};
  EXPECT_EQ(MechanismInfoOf(application, CKM_RSA_PKCS).flags, CKF_HW | CKF_SIGN | CKF_VERIFY);

  // Decipher (bit 5) on an algorithm of value 3; bits past the used ones
  // (7 unused bits: only bit 0 counts) are not read.
  application.algorithms = {Algorithm(CKM_RSA_X_509, {0x00, 0x04}), Algorithm(CKM_RSA_PKCS, {0x07, 0x7F})};
  EXPECT_EQ(MechanismInfoOf(application, CKM_RSA_PKCS).flags, CKF_HW | CKF_DECRYPT);

  // Hostile bit strings: empty content, an unused-bits count past the data.
  application.algorithms = {Algorithm(CKM_RSA_PKCS, {}), Algorithm(CKM_RSA_PKCS, {0xFF, 0xFF}),
                            Algorithm(CKM_RSA_PKCS, {0x00})};
  EXPECT_EQ(MechanismInfoOf(application, CKM_RSA_PKCS).flags, static_cast<CK_FLAGS>(CKF_HW));
}

}  // namespace
}  // namespace monitor_test
