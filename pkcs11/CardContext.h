#pragma once
// The card context every token call opens around its card work. With `lock`
// set it orders the card between processes: the user's named mutex
// "eID_mutex" (held while the transaction begins, see CardMutexTurn) and a
// PC/SC transaction on the session's card, which stays open until
// ReleaseCardContext. Applications of
// the secure-channel profiles also get their channel made sure of.

#include <memory>

#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Pkcs11 {

class Session;
class CardMutex;

CK_RV EstablishCardContext(Session& session, bool lock);
CK_RV ReleaseCardContext(Session& session, bool lock);

// The process's turn at beginning PC/SC transactions on a card: the
// library's cross-process mutex (CardMutex) is taken before the transaction
// is begun and given back as soon as it has begun, and then the process may
// begin further transactions for a short while (CardMutex::kTurnLength)
// without taking it again. Processes that wait for the card so wait in turn
// for the mutex, and a process whose turn is over cannot begin its next
// transaction before a process already waiting has had the card. Without
// turns the process that holds the card keeps it: it begins its next
// transaction at once, while pcsc-lite has waiting processes look for a free
// card only every tenth of a second. Turns of a while, not of one
// transaction, keep the card busy: each hand-over may leave it idle up to
// that tenth. A holder that does not give the mutex back is waited for a few
// seconds at most. Nothing is taken when the mutex could not be opened: the
// PC/SC transaction alone is the guard then.
class CardMutexTurn {
 public:
  CardMutexTurn();
  ~CardMutexTurn();
  CardMutexTurn(const CardMutexTurn&) = delete;
  CardMutexTurn& operator=(const CardMutexTurn&) = delete;

 private:
  std::shared_ptr<CardMutex> mutex_;  // null: no turn to take
  bool held_ = false;
};

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
