// Answers of the exported functions by library state and argument.

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <cardsim/Readers.h>
#include <gtest/gtest.h>

#include "pkcs11/cryptoki.h"

namespace {

struct Call {
  const char* name;
  std::function<CK_RV()> invoke;
};

// Scratch arguments that are valid in form, so that only the library state,
// the slot or the session decides the answer.
struct Scratch {
  CK_SLOT_INFO slotInfo{};
  CK_TOKEN_INFO tokenInfo{};
  CK_SESSION_INFO sessionInfo{};
  CK_SLOT_ID slots[4]{};
  CK_MECHANISM_TYPE mechanisms[8]{};
  CK_ULONG count = 4;
  CK_SESSION_HANDLE session = 0;
  CK_OBJECT_HANDLE objects[4]{};
  CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
  CK_MECHANISM sha256{CKM_SHA256, nullptr, 0};
  CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
  CK_ATTRIBUTE attributes[1]{{CKA_CLASS, &certificateClass, sizeof(certificateClass)}};
  CK_BYTE data[32]{};
  CK_BYTE out[512]{};
  CK_ULONG outLength = sizeof(out);
  CK_UTF8CHAR pin[7] = "123456";
};

constexpr CK_SLOT_ID kSlot = 1;
constexpr CK_SESSION_HANDLE kSession = 1;
constexpr CK_OBJECT_HANDLE kObject = 1;

// Working exports, one or more of each kind, each with usable arguments and
// a slot or session that does not exist.
std::vector<Call> WorkingExports(Scratch& s) {
  return {
      {"C_GetSlotInfo", [&] { return C_GetSlotInfo(kSlot, &s.slotInfo); }},
      {"C_GetTokenInfo", [&] { return C_GetTokenInfo(kSlot, &s.tokenInfo); }},
      {"C_GetMechanismList", [&] { return C_GetMechanismList(kSlot, s.mechanisms, &s.count); }},
      {"C_SetPIN", [&] { return C_SetPIN(kSession, s.pin, 6, s.pin, 6); }},
      {"C_OpenSession", [&] { return C_OpenSession(kSlot, CKF_SERIAL_SESSION, nullptr, nullptr, &s.session); }},
      {"C_CloseAllSessions", [&] { return C_CloseAllSessions(kSlot); }},
      {"C_GetSessionInfo", [&] { return C_GetSessionInfo(kSession, &s.sessionInfo); }},
      {"C_Login", [&] { return C_Login(kSession, CKU_USER, s.pin, 6); }},
      {"C_CreateObject", [&] { return C_CreateObject(kSession, s.attributes, 1, s.objects); }},
      {"C_GetAttributeValue", [&] { return C_GetAttributeValue(kSession, kObject, s.attributes, 1); }},
      {"C_FindObjects", [&] { return C_FindObjects(kSession, s.objects, 4, &s.count); }},
      {"C_SignInit", [&] { return C_SignInit(kSession, &s.rsa, kObject); }},
      {"C_Sign", [&] { return C_Sign(kSession, s.data, sizeof(s.data), s.out, &s.outLength); }},
      {"C_VerifyFinal", [&] { return C_VerifyFinal(kSession, s.out, 256); }},
      {"C_Decrypt", [&] { return C_Decrypt(kSession, s.out, 256, s.data, &s.outLength); }},
      {"C_DigestInit", [&] { return C_DigestInit(kSession, &s.sha256); }},
      {"C_GenerateRandom", [&] { return C_GenerateRandom(kSession, s.out, 255); }},
  };
}

// A sample of the exports the module does not offer, called with empty arguments.
std::vector<Call> UnsupportedExports() {
  return {
      {"C_InitToken", [] { return C_InitToken(0, nullptr, 0, nullptr); }},
      {"C_GetOperationState", [] { return C_GetOperationState(0, nullptr, nullptr); }},
      {"C_EncryptInit", [] { return C_EncryptInit(0, nullptr, 0); }},
      {"C_DecryptUpdate", [] { return C_DecryptUpdate(0, nullptr, 0, nullptr, nullptr); }},
      {"C_SignRecover", [] { return C_SignRecover(0, nullptr, 0, nullptr, nullptr); }},
      {"C_GenerateKeyPair",
       [] { return C_GenerateKeyPair(0, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr); }},
      {"C_SeedRandom", [] { return C_SeedRandom(0, nullptr, 0); }},
      {"C_CancelFunction", [] { return C_CancelFunction(0); }},
  };
}

// The answers of a library that sees no reader: slot 1 and session 1 do not
// exist.
class ExportsTest : public ::testing::Test {
protected:
  void SetUp() override {
    C_Finalize(nullptr);
    cardsim::RemoveAllReaders();
  }
  void TearDown() override { C_Finalize(nullptr); }
  Scratch scratch;
};

TEST_F(ExportsTest, AnswersFollowTheLibraryState) {
  const auto calls = WorkingExports(scratch);
  for (const char* state : {"before C_Initialize", "initialised", "after C_Finalize"}) {
    const bool initialised = std::strcmp(state, "initialised") == 0;
    if (initialised) {
      ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    }
    CK_INFO info;
    EXPECT_EQ(C_GetInfo(&info), initialised ? CKR_OK : CKR_CRYPTOKI_NOT_INITIALIZED) << state;
    for (const Call& call : UnsupportedExports())
      EXPECT_EQ(call.invoke(), CKR_FUNCTION_NOT_SUPPORTED) << call.name << ", " << state;
    for (const Call& call : calls) {
      const CK_RV rv = call.invoke();
      const bool expected = initialised ? rv == CKR_SLOT_ID_INVALID || rv == CKR_SESSION_HANDLE_INVALID
                                        : rv == CKR_CRYPTOKI_NOT_INITIALIZED;
      EXPECT_TRUE(expected) << call.name << " answered " << rv << ", " << state;
    }
    if (initialised) {
      ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
    }
  }
}

TEST_F(ExportsTest, NullPointersAndBadArgumentsAreRefused) {
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  Scratch& s = scratch;
  CK_MECHANISM withParameter{CKM_RSA_PKCS, s.data, sizeof(s.data)};
  CK_MECHANISM sha1{CKM_SHA_1, nullptr, 0};
  int reserved = 0;

  const struct {
    const char* what;
    std::function<CK_RV()> invoke;
    CK_RV expected;
  } cases[] = {
      {"C_GetFunctionList(NULL)", [] { return C_GetFunctionList(nullptr); }, CKR_ARGUMENTS_BAD},
      {"C_GetInfo(NULL)", [] { return C_GetInfo(nullptr); }, CKR_ARGUMENTS_BAD},
      {"C_GetSlotList count NULL", [&] { return C_GetSlotList(CK_FALSE, s.slots, nullptr); }, CKR_ARGUMENTS_BAD},
      {"C_WaitForSlotEvent reserved", [&] { return C_WaitForSlotEvent(0, s.slots, &reserved); }, CKR_ARGUMENTS_BAD},
      {"C_WaitForSlotEvent flags", [&] { return C_WaitForSlotEvent(4, s.slots, nullptr); }, CKR_ARGUMENTS_BAD},
      // The slot is looked up before the count pointer is checked.
      {"C_GetMechanismList bad slot, count NULL", [] { return C_GetMechanismList(kSlot, nullptr, nullptr); },
       CKR_SLOT_ID_INVALID},
      {"C_OpenSession not serial", [&] { return C_OpenSession(kSlot, CKF_RW_SESSION, nullptr, nullptr, &s.session); },
       CKR_SESSION_PARALLEL_NOT_SUPPORTED},
      {"C_CreateObject template NULL", [&] { return C_CreateObject(kSession, nullptr, 1, s.objects); },
       CKR_ARGUMENTS_BAD},
      // The session is checked before the template.
      {"C_GetAttributeValue count 0", [&] { return C_GetAttributeValue(kSession, kObject, s.attributes, 0); },
       CKR_SESSION_HANDLE_INVALID},
      {"C_SignInit key 0", [&] { return C_SignInit(kSession, &s.rsa, 0); }, CKR_ARGUMENTS_BAD},
      {"C_SignInit SHA-1", [&] { return C_SignInit(kSession, &sha1, kObject); }, CKR_MECHANISM_INVALID},
      {"C_SignInit parameter", [&] { return C_SignInit(kSession, &withParameter, kObject); },
       CKR_MECHANISM_PARAM_INVALID},
      {"C_Sign length NULL", [&] { return C_Sign(kSession, s.data, 1, s.out, nullptr); }, CKR_ARGUMENTS_BAD},
      {"C_DecryptInit mechanism NULL", [] { return C_DecryptInit(kSession, nullptr, kObject); }, CKR_ARGUMENTS_BAD},
      {"C_Decrypt data NULL", [&] { return C_Decrypt(kSession, nullptr, 0, s.out, &s.outLength); },
       CKR_ARGUMENTS_BAD},
      {"C_DigestInit RSA", [&] { return C_DigestInit(kSession, &s.rsa); }, CKR_MECHANISM_INVALID},
      {"C_GenerateRandom 256 bytes", [&] { return C_GenerateRandom(kSession, s.out, 256); }, CKR_ARGUMENTS_BAD},
  };
  for (const auto& c : cases) EXPECT_EQ(c.invoke(), c.expected) << c.what;
}

}  // namespace
