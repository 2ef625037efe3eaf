#include "pkcs11/ApiFrame.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "LogNames.h"
#include "Logger.h"

namespace Brelt::MW::Pkcs11 {
namespace {

constexpr CK_ULONG kMaxDumpLength = 0xFFFF;

unsigned ProcessId() { return static_cast<unsigned>(getpid()); }
unsigned ThreadId() { return static_cast<unsigned>(gettid()); }

// One parameter line at level 3. Formatted here (checked like printf) and
// written as one record; long enough for a full FormatUlongList text.
__attribute__((format(printf, 1, 2))) void Param(const char* format, ...) {
  if (!IsLogLevelEnabled(LOG_LEVEL_DATA)) return;
  char text[kLogTextBufferSize + 128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  LogMessage(LOG_LEVEL_DATA, false, nullptr, 0, true, "%s", text);
}

// The header line and the dump lines stay together in the log.
void DumpBytes(const char* name, const void* data, CK_ULONG length) {
  const auto lock = AcquireLogLock();
  LogMessage(LOG_LEVEL_DATA, false, nullptr, 0, true, "  => %s: ", name);
  LogHexDump(LOG_LEVEL_DATA, data, static_cast<unsigned short>(std::min(length, kMaxDumpLength)));
}

// The object class a template states for itself, so that the dump can hide
// secret values (a private exponent in C_CreateObject, say).
CK_OBJECT_CLASS TemplateObjectClass(const CK_ATTRIBUTE* attributes, CK_ULONG count) {
  for (CK_ULONG i = 0; i < count; ++i) {
    const CK_ATTRIBUTE& attribute = attributes[i];
    if (attribute.type == CKA_CLASS && attribute.pValue != nullptr && attribute.ulValueLen == sizeof(CK_ULONG)) {
      CK_OBJECT_CLASS objectClass;
      std::memcpy(&objectClass, attribute.pValue, sizeof(objectClass));
      return objectClass;
    }
  }
  return CK_UNAVAILABLE_INFORMATION;
}

}  // namespace

void LogApiCall(const char* exportName) {
  // The process and thread ids cost system calls: only for a record written.
  if (!IsLogLevelEnabled(LOG_LEVEL_INFO)) return;
  LogMessage(LOG_LEVEL_INFO, true, nullptr, 0, true, "==> API_CALL [P:%08X,T:%08X]: %s()", ProcessId(),
             ThreadId(), exportName);
}

void LogApiResult(const char* exportName, CK_RV rv) {
  if (!IsLogLevelEnabled(LOG_LEVEL_INFO)) return;
  const char* separator = "";
  std::string line;
  if (IsLogLevelEnabled(LOG_LEVEL_DATA)) {
    line = "\n" + std::string(75, '-') + "\n";
    separator = line.c_str();
  }
  LogMessage(LOG_LEVEL_INFO, true, nullptr, 0, true, "[P:%08X,T:%08X]: %s(): %s, result = %s%s", ProcessId(),
             ThreadId(), exportName, rv == CKR_OK ? "SUCCESS" : "FAILED", CkrToString(rv), separator);
}

void LogTopLevelException(const char* exportName, int line) {
  LogMessage(LOG_LEVEL_ERROR, true, exportName, line, true, "Catching top-level exception");
}

void TraceHandle(const char* name, CK_ULONG handle) {
  if (handle == 0)
    Param("  > API_PARAM %s = %s", name, "NULL");
  else
    Param("  > API_PARAM %s = %08lXh", name, handle);
}

void TraceFlags(const char* name, CK_FLAGS flags) { Param("  > API_PARAM %s = %08lXh", name, flags); }

void TraceNumber(const char* name, CK_ULONG value) { Param("  > API_PARAM %s = %lu", name, value); }

void TracePointer(const char* name, const void* pointer) {
  if (pointer == nullptr)
    Param("  > API_PARAM %s = %s", name, "NULL");
  else if (IsLogLevelEnabled(LOG_LEVEL_DEBUG))
    Param("  > API_PARAM %s = %08lXh", name, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pointer)));
}

void TraceBool(const char* name, CK_BBOOL value) { Param("  > API_PARAM %s = %s", name, value ? "TRUE" : "FALSE"); }

void TraceUserType(const char* name, CK_USER_TYPE userType) {
  Param("  > API_PARAM %s = %s", name, CkuToString(userType));
}

void TraceMechanism(const char* pointerName, const CK_MECHANISM* mechanism) {
  if (mechanism == nullptr)
    Param("  > API_PARAM %s = %s", pointerName, "NULL");
  else
    Param("  > API_PARAM %s = %s", "mechanism", CkmToString(mechanism->mechanism));
}

void TraceMechanismType(const char* name, CK_MECHANISM_TYPE type) {
  Param("  > API_PARAM %s = %s", name, CkmToString(type));
}

void TraceBuffer(const char* name, const void* data, CK_ULONG length) {
  if (data == nullptr)
    Param("  > API_PARAM %s = %s", name, "NULL");
  else if (IsLogLevelEnabled(LOG_LEVEL_DATA))
    DumpBytes(name, data, length);
}

void TraceTemplate(const char* name, const CK_ATTRIBUTE* attributes, CK_ULONG count) {
  if (attributes == nullptr) {
    Param("  > API_PARAM %s = %s", name, "NULL");
    return;
  }
  if (!IsLogLevelEnabled(LOG_LEVEL_DATA)) return;
  const auto lock = AcquireLogLock();
  Param("  > %s: %lu attributes", name, count);
  LogAttributeTemplate(LOG_LEVEL_DATA, attributes, count, false, TemplateObjectClass(attributes, count));
}

void TraceRequestTemplate(const char* name, const CK_ATTRIBUTE* attributes, CK_ULONG count) {
  if (attributes == nullptr) {
    Param("  > API_PARAM %s = %s", name, "NULL");
    return;
  }
  if (!IsLogLevelEnabled(LOG_LEVEL_DATA)) return;
  const auto lock = AcquireLogLock();
  Param("  > API_PARAM %s: %lu attributes", name, count);
  LogAttributeTemplate(LOG_LEVEL_DATA, attributes, count, true);
}

void TraceRandomLength(const char* name, CK_ULONG length) { Param("  > API_PARAM %s = %04lXh", name, length); }

void TraceOutputHeader() { LogMessage(LOG_LEVEL_DATA, false, nullptr, 0, true, "Out:"); }

void TraceUlongList(const char* name, const CK_ULONG* values, CK_ULONG count) {
  if (IsLogLevelEnabled(LOG_LEVEL_DATA)) Param("  > API_PARAM %s = %s", name, FormatUlongList(values, count));
}

void TraceMechanismList(const CK_MECHANISM_TYPE* mechanisms, CK_ULONG count) {
  if (mechanisms == nullptr || !IsLogLevelEnabled(LOG_LEVEL_DATA)) return;
  for (CK_ULONG i = 0; i < count; ++i) Param("  > API_PARAM %s = %s", "[]", CkmToString(mechanisms[i]));
}

void TraceSecretLength(const char* name, CK_ULONG length) {
  Param("  > API_PARAM %s = [%lu bytes, not logged]", name, length);
}

void TraceOutputBytes(const char* name, const void* data, CK_ULONG length) {
  if (data != nullptr && IsLogLevelEnabled(LOG_LEVEL_DATA)) DumpBytes(name, data, length);
}

CK_RV AnswerNotSupported(const char* exportName, bool logCall) noexcept {
  try {
    if (logCall) LogApiCall(exportName);
    LogApiResult(exportName, CKR_FUNCTION_NOT_SUPPORTED);
  } catch (...) {
    // Logging problems never change the answer.
  }
  return CKR_FUNCTION_NOT_SUPPORTED;
}

}  // namespace Brelt::MW::Pkcs11
