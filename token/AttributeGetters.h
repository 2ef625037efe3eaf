#pragma once
// The PKCS#11 attributes of card and session objects: one getter per object
// kind (private keys, public keys, certificates), the settable attributes,
// and the helpers they share.
//
// Answer protocol of the getters: an attribute the object cannot give is
// answered with length CK_UNAVAILABLE_INFORMATION and CKR_OK; without a
// buffer the length of the value is answered; a buffer shorter than the value
// gives CKR_BUFFER_TOO_SMALL; an attribute the object does not have gives
// CKR_ATTRIBUTE_TYPE_INVALID. Every failure sets the length to
// CK_UNAVAILABLE_INFORMATION. The module's own callers rely on the CKR_OK of
// an unavailable attribute; C_GetAttributeValue turns it into the error of
// UnavailableAttributeResult.

#include <cstdint>
#include <string>
#include <vector>

#include "pkcs11/cryptoki.h"
#include "token/AttributeSource.h"
#include "token/CIOObject.h"

namespace Brelt::MW::Token {

// Attribute types outside PKCS#11 v2.20 that the module answers.
inline constexpr CK_ATTRIBUTE_TYPE CKA_KEY_FILE_ID = 4;      // last byte of an RSA private key's file path
inline constexpr CK_ATTRIBUTE_TYPE CKA_NON_REPUDIATION = 9;  // the key's nonRepudiation usage bit

// Bit indices of the PKCS#15 flag fields.
inline constexpr uint32_t kObjectFlagPrivate = 0;
inline constexpr uint32_t kObjectFlagModifiable = 1;
inline constexpr uint32_t kUsageEncrypt = 0;
inline constexpr uint32_t kUsageDecrypt = 1;
inline constexpr uint32_t kUsageSign = 2;
inline constexpr uint32_t kUsageSignRecover = 3;
inline constexpr uint32_t kUsageWrap = 4;
inline constexpr uint32_t kUsageUnwrap = 5;
inline constexpr uint32_t kUsageVerify = 6;
inline constexpr uint32_t kUsageVerifyRecover = 7;
inline constexpr uint32_t kUsageDerive = 8;
inline constexpr uint32_t kUsageNonRepudiation = 9;
inline constexpr uint32_t kAccessSensitive = 0;
inline constexpr uint32_t kAccessExtractable = 1;
inline constexpr uint32_t kAccessAlwaysSensitive = 2;
inline constexpr uint32_t kAccessNeverExtractable = 3;
inline constexpr uint32_t kAccessLocal = 4;
inline constexpr uint32_t kAccessModeRead = 0;
inline constexpr uint32_t kAccessModeUpdate = 1;
inline constexpr uint32_t kAccessModeExecute = 2;

// Bit 31 of a handle marks a session object.
inline constexpr CK_OBJECT_HANDLE kSessionObjectBit = 0x80000000UL;
inline bool IsSessionHandle(CK_OBJECT_HANDLE handle) { return (handle & kSessionObjectBit) != 0; }

using AttributeGetter = CK_RV (*)(const AttributeSource& source, CK_OBJECT_HANDLE handle, CIOObject* object,
                                  CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG* length);
using AttributeSetter = CK_RV (*)(CIOObject* object, CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length,
                                  bool internal);

CK_RV GetPrivKeyAttribute(const AttributeSource& source, CK_OBJECT_HANDLE handle, CIOObject* object,
                          CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG* length);
CK_RV GetPubKeyAttribute(const AttributeSource& source, CK_OBJECT_HANDLE handle, CIOObject* object,
                         CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG* length);
CK_RV GetCertAttribute(const AttributeSource& source, CK_OBJECT_HANDLE handle, CIOObject* object,
                       CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG* length);

// Null for object types without attributes (PINs, CVC and data objects).
AttributeGetter GetAttributeGetter(CIOObjectType type);
AttributeSetter GetAttributeSetter(CIOObjectType type);

// Setters. `internal` false: only CKA_LABEL and CKA_ID (what an application may
// change on a session object). `internal` true: also the attributes of object
// creation. Nothing is written to the card.
CK_RV SetPrivKeyAttribute(CIOObject* object, CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length,
                          bool internal);
CK_RV SetPubKeyAttribute(CIOObject* object, CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length,
                         bool internal);
CK_RV SetCertAttribute(CIOObject* object, CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length,
                       bool internal);

// What a PKCS#11 caller is told for an attribute the object cannot give
// (PKCS#11 never pairs CKR_OK with an unavailable length):
// CKR_ATTRIBUTE_SENSITIVE for the secret parts of an RSA private key,
// CKR_ATTRIBUTE_TYPE_INVALID for any other attribute.
CK_RV UnavailableAttributeResult(CK_ATTRIBUTE_TYPE type);

// The answer protocol for a computed value of `valueLength` bytes.
CK_RV FillAttribute(const void* valueBytes, CK_ULONG valueLength, void* buffer, CK_ULONG* length);

// True when any access rule of the object grants the execute right.
CK_RV GetExecuteFlag(const CIOObject* object, bool* flag);

// The mechanism an algorithm field of the supported-algorithm list stands for:
// its big-endian value when it is 1, 2 or 4 bytes long, else 0xFFFFFFFF.
CK_MECHANISM_TYPE GetMechanismFromAlgorithmInfo(const uint8_t* algorithm, size_t length);

// "YYYY/M/D hh:mm:ss ..." (month and day with or without a leading zero) as
// a CK_DATE; false for a text that does not have that form.
bool ConvertToData(const std::string& text, CK_DATE* date);

// An iD the card reserves for its own keys: exactly four bytes, the last
// three FF and the first below 0x0B. CKR_ATTRIBUTE_VALUE_INVALID for those.
CK_RV CheckReservedId(const uint8_t* iD, CK_ULONG length);

// The parsed certificate of a certificate object, read from the card on
// first use and kept in the object. CKR_OK with null when the object has no
// file path; the read's error otherwise.
CK_RV LoadCertificate(const AttributeSource& source, CIOObject& object,
                      std::shared_ptr<Crypto::ParsedCertificate>& certificate);

}  // namespace Brelt::MW::Token
