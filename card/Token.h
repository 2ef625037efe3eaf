#pragma once
// One card in one reader, shared by all slots of that card.
//
// A token may run a keep-alive thread that asks the card status once a
// second, so that a PC/SC transaction held open between calls is not ended
// by a resource manager with an idle timeout. pcsc-lite has no such timeout,
// so on this platform the thread is never started by session opening; it is
// kept (and tested) for resource managers that need it.
//
// Tokens are shared through std::shared_ptr like slots: the registry's purge
// only drops its own reference.

#include <winscard.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <thread>

#include "card/InvalidationMark.h"
#include "pkcs11/cryptoki.h"

class VirtualKeyboard;

namespace Brelt::MW::Card {

class Token {
 public:
  // Time between two card status requests of the keep-alive thread.
  static constexpr std::chrono::milliseconds kKeepAliveInterval{1000};

  Token() = default;
  Token(uint32_t tokenId, SCARDHANDLE card) : tokenId_(tokenId), cardHandle_(card) {}
  ~Token();

  Token(const Token&) = delete;
  Token& operator=(const Token&) = delete;

  uint32_t TokenId() const { return tokenId_; }
  SCARDHANDLE CardHandle() const { return cardHandle_; }

  // Starts the keep-alive thread unless it runs already.
  CK_RV StartKeepConThread();
  // Stops the keep-alive thread: interrupts its sleep and waits until it has
  // ended, so that it never outlives the token.
  CK_RV CloseKeepConThread();
  // Interrupts the keep-alive thread's sleep and asks it to end.
  void InterruptKeepConnThread();
  bool IsKeepAliveRunning() const { return running_.load(); }

  // The PIN dialog facade of a login in progress on this card, held without
  // owning it. Setting a new one cancels the dialog of the previous one.
  CK_RV SetVirtualKeyboard(VirtualKeyboard* keyboard);
  // Forgets `keyboard` without cancelling it, when it is the current one; the
  // login that set it calls this before deleting it.
  void ClearVirtualKeyboard(const VirtualKeyboard* keyboard);
  // Cancels the dialog of the current keyboard, if any (card gone).
  void CancelVirtualKeyboard();

  bool IsValid() const { return !invalidation_.IsSet(); }
  const InvalidationMark& Invalidation() const { return invalidation_; }
  void SetTimestamp(RegistryTime now) { invalidation_.Set(now); }

 private:
  void KeepConThreadFunc(std::stop_token stop);

  const uint32_t tokenId_ = 0;
  const SCARDHANDLE cardHandle_ = 0;

  std::mutex threadMutex_;  // serialises starting and stopping the thread
  std::jthread keepAlive_;
  std::atomic<bool> running_{false};
  std::atomic<int> keepAliveThreadId_{0};
  std::mutex sleepMutex_;
  std::condition_variable_any sleepWakeup_;

  std::mutex keyboardMutex_;  // held while the keyboard is used, so it cannot be deleted meanwhile
  VirtualKeyboard* keyboard_ = nullptr;

  InvalidationMark invalidation_;
};

}  // namespace Brelt::MW::Card
