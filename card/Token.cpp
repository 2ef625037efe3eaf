#include "card/Token.h"

#include <unistd.h>

#include "Dialogs/ui/VirtualKeyboard.h"
#include "card/RegistryTrace.h"

namespace Brelt::MW::Card {

Token::~Token() {
  LogMessage(LOG_LEVEL_DEBUG, true, "Token::~Token", __LINE__, true,
             "~Token destructor:: CloseKeepConThread method call");
  CloseKeepConThread();
  // A thread that stopped by itself is joined here, before the token goes.
  std::lock_guard lock(threadMutex_);
  if (keepAlive_.joinable()) keepAlive_.join();
}

CK_RV Token::StartKeepConThread() {
  static constexpr const char* kName = "Token::StartKeepConThread";
  TraceEntering(kName);
  {
    std::lock_guard lock(threadMutex_);
    if (!running_.load()) {
      LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "Token::StartKeepConThread starting thread");
      running_.store(true);
      // Assigning over a thread that ended by itself joins it first.
      keepAlive_ = std::jthread([this](std::stop_token stop) { KeepConThreadFunc(stop); });
    }
  }
  TraceLeaving(kName, CKR_OK);
  return CKR_OK;
}

CK_RV Token::CloseKeepConThread() {
  static constexpr const char* kName = "Token::CloseKeepConThread";
  TraceEntering(kName);
  {
    std::lock_guard lock(threadMutex_);
    if (running_.load()) {
      LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "Token::CloseKeepConThread closing thread");
      running_.store(false);
      keepAlive_.request_stop();
      if (keepAlive_.joinable()) keepAlive_.join();
    }
  }
  TraceLeaving(kName, CKR_OK);
  return CKR_OK;
}

void Token::InterruptKeepConnThread() {
  static constexpr const char* kName = "Token::InterruptKeepConnThread";
  FunctionTrace trace(kName);
  LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "Interrupt KeepConnectionThread, TID=%08X",
             static_cast<unsigned>(keepAliveThreadId_.load()));
  std::lock_guard lock(threadMutex_);
  keepAlive_.request_stop();
}

void Token::KeepConThreadFunc(std::stop_token stop) {
  static constexpr const char* kName = "Token::KeepConThreadFunc";
  TraceEntering(kName);
  keepAliveThreadId_.store(static_cast<int>(gettid()));
  while (running_.load() && !stop.stop_requested()) {
    char readerName[200];
    DWORD readerLength = sizeof(readerName);
    DWORD state = 0;
    DWORD protocol = 0;
    BYTE atr[MAX_ATR_SIZE];
    DWORD atrLength = sizeof(atr);
    const LONG rv = SCardStatus(cardHandle_, readerName, &readerLength, &state, &protocol, atr, &atrLength);
    if (rv != SCARD_S_SUCCESS) {
      LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true,
                 "Token::KeepConThreadFunc, SCardStatus call failed with error");
      break;
    }
    std::unique_lock lock(sleepMutex_);
    sleepWakeup_.wait_for(lock, stop, kKeepAliveInterval, [] { return false; });
  }
  running_.store(false);
  TraceLeaving(kName, CKR_OK);
}

CK_RV Token::SetVirtualKeyboard(VirtualKeyboard* keyboard) {
  static constexpr const char* kName = "Token::SetVirtualKeyboard";
  TraceEntering(kName);
  {
    std::lock_guard lock(keyboardMutex_);
    if (keyboard_ != nullptr && keyboard_ != keyboard) keyboard_->CancelVirtKeyDialog();
    keyboard_ = keyboard;
  }
  TraceLeaving(kName, CKR_OK);
  return CKR_OK;
}

void Token::ClearVirtualKeyboard(const VirtualKeyboard* keyboard) {
  std::lock_guard lock(keyboardMutex_);
  if (keyboard_ == keyboard) keyboard_ = nullptr;
}

void Token::CancelVirtualKeyboard() {
  std::lock_guard lock(keyboardMutex_);
  if (keyboard_ != nullptr) keyboard_->CancelVirtKeyDialog();
}

}  // namespace Brelt::MW::Card
