// Entry points of the standard that the module does not offer. They look at
// none of their arguments and answer CKR_FUNCTION_NOT_SUPPORTED in every
// state of the library.

#include "pkcs11/ApiFrame.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/cryptoki.h"

using Brelt::MW::Pkcs11::AnswerNotSupported;

extern "C" {

CK_RV C_InitToken(CK_SLOT_ID, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR) {
  return AnswerNotSupported("C_InitToken", true);
}
CK_RV C_InitPIN(CK_SESSION_HANDLE, CK_UTF8CHAR_PTR, CK_ULONG) { return AnswerNotSupported("C_InitPIN", true); }
CK_RV C_GetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
  return AnswerNotSupported("C_GetOperationState", true);
}
CK_RV C_SetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE) {
  return AnswerNotSupported("C_SetOperationState", true);
}
CK_RV C_CopyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR) {
  return AnswerNotSupported("C_CopyObject", true);
}
CK_RV C_GetObjectSize(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ULONG_PTR) {
  return AnswerNotSupported("C_GetObjectSize", true);
}
CK_RV C_DigestKey(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) { return AnswerNotSupported("C_DigestKey", true); }
CK_RV C_SignRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
  return AnswerNotSupported("C_SignRecoverInit", true);
}
CK_RV C_SignRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return AnswerNotSupported("C_SignRecover", true);
}
CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
  return AnswerNotSupported("C_VerifyRecoverInit", true);
}
CK_RV C_VerifyRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return AnswerNotSupported("C_VerifyRecover", true);
}
CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return AnswerNotSupported("C_DigestEncryptUpdate", true);
}
CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return AnswerNotSupported("C_DecryptDigestUpdate", true);
}
CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return AnswerNotSupported("C_SignEncryptUpdate", true);
}
CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return AnswerNotSupported("C_DecryptVerifyUpdate", true);
}
CK_RV C_GenerateKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR) {
  return AnswerNotSupported("C_GenerateKey", true);
}
CK_RV C_WrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
  return AnswerNotSupported("C_WrapKey", true);
}
CK_RV C_UnwrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR,
                  CK_ULONG, CK_OBJECT_HANDLE_PTR) {
  return AnswerNotSupported("C_UnwrapKey", true);
}
CK_RV C_DeriveKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG,
                  CK_OBJECT_HANDLE_PTR) {
  return AnswerNotSupported("C_DeriveKey", true);
}
CK_RV C_SeedRandom(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) { return AnswerNotSupported("C_SeedRandom", true); }
CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE) { return AnswerNotSupported("C_GetFunctionStatus", true); }
CK_RV C_CancelFunction(CK_SESSION_HANDLE) { return AnswerNotSupported("C_CancelFunction", true); }

// These write the result line only.
CK_RV C_EncryptInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
  return AnswerNotSupported("C_EncryptInit", false);
}
CK_RV C_Encrypt(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return AnswerNotSupported("C_Encrypt", false);
}
CK_RV C_EncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return AnswerNotSupported("C_EncryptUpdate", false);
}
CK_RV C_EncryptFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) { return AnswerNotSupported("C_EncryptFinal", false); }
CK_RV C_DecryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return AnswerNotSupported("C_DecryptUpdate", false);
}
CK_RV C_DecryptFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) { return AnswerNotSupported("C_DecryptFinal", false); }

// Key-pair generation is serialised with the other token work.
CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR, CK_ULONG,
                        CK_OBJECT_HANDLE_PTR, CK_OBJECT_HANDLE_PTR) {
  return Brelt::MW::Pkcs11::RunExport("C_GenerateKeyPair", &Brelt::MW::Pkcs11::TokenMutex(),
                                      [] { return static_cast<CK_RV>(CKR_FUNCTION_NOT_SUPPORTED); });
}

}  // extern "C"
