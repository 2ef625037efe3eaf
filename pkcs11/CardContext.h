#pragma once
// The card context every token call opens around its card work. With `lock`
// set it orders the card between processes: the user's named mutex
// "eID_mutex" (taken and given back at once) and then a PC/SC transaction on the
// session's card, which stays open until ReleaseCardContext. Applications of
// the secure-channel profiles also get their channel made sure of.

#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Pkcs11 {

class Session;

CK_RV EstablishCardContext(Session& session, bool lock);
CK_RV ReleaseCardContext(Session& session, bool lock);

// Takes the library's cross-process mutex (CardMutex) and gives it back at
// once, waiting a few seconds at most for another process of the user that
// holds it. Nothing when it could not be opened: the PC/SC transaction is
// the guard.
void PassThroughCardMutex();

// A card context opened without the lock for the length of one call.
class ProfileContext {
public:
    explicit ProfileContext(Session& session) : session_(session) {}
    ~ProfileContext()
    {
        if (open_) ReleaseCardContext(session_, false);
    }
    ProfileContext(const ProfileContext&) = delete;
    ProfileContext& operator=(const ProfileContext&) = delete;
    CK_RV Open()
    {
        const CK_RV rv = EstablishCardContext(session_, false);
        open_ = rv == CKR_OK;
        return rv;
    }

private:
    Session& session_;
    bool open_ = false;
};

}  // namespace Brelt::MW::Pkcs11
