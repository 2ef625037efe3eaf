#pragma once
// The common frame of every exported PKCS#11 function: lock, call and result
// trace lines, parameter traces and the catch-all that keeps every exception
// inside the module.

#include <source_location>
#include <utility>

#include <boost/thread/locks.hpp>
#include <boost/thread/mutex.hpp>

#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Pkcs11 {

// "==> API_CALL [P:...,T:...]: name()" at level 2.
void LogApiCall(const char* exportName);

// "[P:...,T:...]: name(): SUCCESS|FAILED, result = CKR_..." at level 2, with a
// separator line when parameters are traced too.
void LogApiResult(const char* exportName, CK_RV rv);

// "Catching top-level exception" at level 1, with the export's name and line.
void LogTopLevelException(const char* exportName, int line);

// Parameter traces (level 3), one line each, under the standard's names.
void TraceHandle(const char* name, CK_ULONG handle);       // "= %08lXh" or "= NULL" for 0
void TraceFlags(const char* name, CK_FLAGS flags);         // "= %08lXh"
void TraceNumber(const char* name, CK_ULONG value);        // "= %lu"
void TracePointer(const char* name, const void* pointer);  // value only from level 4 on
void TraceBool(const char* name, CK_BBOOL value);
void TraceUserType(const char* name, CK_USER_TYPE userType);
// The mechanism type by name once the pointer is known to be usable, else "= NULL".
void TraceMechanism(const char* pointerName, const CK_MECHANISM* mechanism);
void TraceMechanismType(const char* name, CK_MECHANISM_TYPE type);
// Hex dump of a data buffer the caller passes in (bounded to 65,535 bytes).
void TraceBuffer(const char* name, const void* data, CK_ULONG length);
// "  > name: n attributes" and the attribute dump of a template with values.
void TraceTemplate(const char* name, const CK_ATTRIBUTE* attributes, CK_ULONG count);
// "  > API_PARAM name: n attributes" and the dump of a template to be filled.
void TraceRequestTemplate(const char* name, const CK_ATTRIBUTE* attributes, CK_ULONG count);
void TraceRandomLength(const char* name, CK_ULONG length);  // "= %04lXh"

// Output traces (level 3), written after success.
void TraceOutputHeader();                                  // "Out:"
void TraceUlongList(const char* name, const CK_ULONG* values, CK_ULONG count);
void TraceMechanismList(const CK_MECHANISM_TYPE* mechanisms, CK_ULONG count);
// Only the length of secret output (random blocks) is ever written.
void TraceSecretLength(const char* name, CK_ULONG length);
// "  => name: " and a hex dump of a returned structure or buffer.
void TraceOutputBytes(const char* name, const void* data, CK_ULONG length);

// The frame of an export that the module does not support: optionally the
// call line, then the result line with CKR_FUNCTION_NOT_SUPPORTED.
CK_RV AnswerNotSupported(const char* exportName, bool logCall) noexcept;

// Runs the body of an export inside the frame: takes `mutex` (when given) for
// the whole call, writes the call and result lines and turns any exception
// into CKR_FUNCTION_FAILED after running `onException` (the clean-up of an
// operation or card context the body had started). Never throws.
template <typename Body, typename OnException>
CK_RV RunExport(const char* exportName, boost::mutex* mutex, Body&& body, OnException&& onException,
                std::source_location where = std::source_location::current()) noexcept {
  CK_RV rv = CKR_FUNCTION_FAILED;
  try {
    boost::unique_lock<boost::mutex> lock;
    if (mutex != nullptr) lock = boost::unique_lock<boost::mutex>(*mutex);
    LogApiCall(exportName);
    try {
      rv = std::forward<Body>(body)();
    } catch (...) {
      LogTopLevelException(exportName, static_cast<int>(where.line()));
      rv = CKR_FUNCTION_FAILED;
      try {
        std::forward<OnException>(onException)();
      } catch (...) {
        // The clean-up failing changes nothing: the answer stays FUNCTION_FAILED.
      }
    }
    LogApiResult(exportName, rv);
  } catch (...) {
    // Only taking the lock or writing the log can end here.
    rv = CKR_FUNCTION_FAILED;
  }
  return rv;
}

template <typename Body>
CK_RV RunExport(const char* exportName, boost::mutex* mutex, Body&& body,
                std::source_location where = std::source_location::current()) noexcept {
  return RunExport(exportName, mutex, std::forward<Body>(body), [] {}, where);
}

}  // namespace Brelt::MW::Pkcs11
