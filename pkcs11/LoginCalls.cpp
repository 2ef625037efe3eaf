// C_Login, C_Logout and C_SetPIN behind the export frame: the session and the
// card context around the internal operation. The card context is released
// on every way out, also when the operation throws.

#include "pkcs11/CardContext.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/LoginOperations.h"
#include "pkcs11/Session.h"
#include "pkcs11/SessionOperations.h"

namespace Brelt::MW::Pkcs11 {

namespace {

class CardContextScope {
 public:
  CardContextScope(Session& session, bool lock) : session_(session), lock_(lock) {}
  ~CardContextScope()
  {
    if (open_) ReleaseCardContext(session_, lock_);
  }
  CardContextScope(const CardContextScope&) = delete;
  CardContextScope& operator=(const CardContextScope&) = delete;

  CK_RV Open()
  {
    const CK_RV rv = EstablishCardContext(session_, lock_);
    open_ = rv == CKR_OK;
    return rv;
  }

 private:
  Session& session_;
  const bool lock_;
  bool open_ = false;
};

template <class Operation>
CK_RV RunInCardContext(CK_SESSION_HANDLE hSession, bool lock, Operation&& operation)
{
  SessionPtr session;
  if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
  CardContextScope context(*session, lock);
  if (CK_RV rv = context.Open(); rv != CKR_OK) return rv;
  return operation(*session);
}

}  // namespace

CK_RV Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
  return RunInCardContext(hSession, true,
                          [&](Session& session) { return Login(session, userType, pPin, ulPinLen); });
}

CK_RV Logout(CK_SESSION_HANDLE hSession)
{
  return RunInCardContext(hSession, false, [](Session& session) { return Logout(session); });
}

CK_RV SetPin(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
             CK_ULONG ulNewLen)
{
  return RunInCardContext(hSession, true, [&](Session& session) {
    return SetPin(session, pOldPin, ulOldLen, pNewPin, ulNewLen);
  });
}

}  // namespace Brelt::MW::Pkcs11
