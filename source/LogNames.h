#pragma once
// PKCS#11 constant names for the trace log, and the fixed-layout dumps of
// APDUs, byte buffers and attribute templates.
//
// A name function returns a constant text for a value its table knows;
// other values are formatted into LogTextBuffer (valid until the calling
// thread's next use of it).

#include "pkcs11/cryptoki.h"

#include <cstdint>

const char* CkrToString(CK_RV value);
const char* CkaToString(CK_ATTRIBUTE_TYPE value);
// Null while logging is off.
const char* CkmToString(CK_MECHANISM_TYPE value);
// Null while logging is off.
const char* CkuToString(CK_USER_TYPE value);
const char* CkoToString(CK_OBJECT_CLASS value);
const char* CkkToString(CK_KEY_TYPE value);
const char* CkcToString(CK_CERTIFICATE_TYPE value);

// "[1, 2, 3]"; cut when the list does not fit LogTextBuffer.
const char* FormatUlongList(const CK_ULONG* values, CK_ULONG count);

void LogApdu(int level, const unsigned char* bytes, uint16_t length, bool isCommand);
void LogHexDump(int level, const void* bytes, uint16_t length);

// One entry per attribute. `isRequest`: the value buffers are the caller's
// and have not been filled. `objectClass` names the class of the object the
// template belongs to when the caller knows it; CKA_VALUE is dumped only for
// certificates, other secret parts only as their length.
void LogAttributeTemplate(int level, const CK_ATTRIBUTE* attributes, CK_ULONG count, bool isRequest,
                          CK_OBJECT_CLASS objectClass = CK_UNAVAILABLE_INFORMATION);
