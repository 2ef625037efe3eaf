// Two processes read different files of the same card at the same time
// through pcscd, each read inside the module's card context (the named mutex,
// then a PC/SC transaction). Every read must give the file's own content: a
// command of the other process between a SELECT and its READ BINARY would
// give the other file's bytes.
//
// Usage: monitor_two_process_card [rounds]

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "card/CardCommands.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/CardContext.h"
#include "pkcs11/Session.h"
#include "pkcs11/cryptoki.h"

namespace {

using Brelt::MW::Card::StatusCache;

int ReadRepeatedly(const std::vector<uint8_t>& path, int rounds) {
  if (C_Initialize(nullptr) != CKR_OK) return 10;
  // The other process may hold the card while its monitor loads it: the
  // slot then comes with a later poll.
  CK_SLOT_ID slotId = 0;
  CK_ULONG count = 0;
  for (int i = 0; i < 600 && count == 0; ++i) {
    count = 1;
    if (C_GetSlotList(CK_TRUE, &slotId, &count) != CKR_OK) return 11;
    if (count == 0) usleep(100 * 1000);
  }
  if (count != 1) return 11;
  CK_SESSION_HANDLE handle = 0;
  if (C_OpenSession(slotId, CKF_SERIAL_SESSION, nullptr, nullptr, &handle) != CKR_OK) return 12;
  const auto session = StatusCache::GetSession(handle);
  const auto slot = StatusCache::GetSlotWithoutProbe(slotId);
  if (!session || !slot) return 13;

  std::vector<uint8_t> first;
  int mismatches = 0;
  int failures = 0;
  for (int i = 0; i < rounds; ++i) {
    if (Brelt::MW::Pkcs11::EstablishCardContext(*session, true) != CKR_OK) {
      ++failures;
      continue;
    }
    uint8_t buffer[2048];
    uint32_t length = sizeof buffer;
    CK_ULONG lastStatus = 0;
    const CK_RV rv = Brelt::MW::Card::ReadBinary(&lastStatus, slot.get(), path.data(),
                                                 static_cast<uint16_t>(path.size()), buffer, &length);
    Brelt::MW::Pkcs11::ReleaseCardContext(*session, true);
    if (rv != CKR_OK) {
      ++failures;
      continue;
    }
    const std::vector<uint8_t> content(buffer, buffer + length);
    if (first.empty()) first = content;
    if (content != first) ++mismatches;
  }
  C_CloseSession(handle);
  C_Finalize(nullptr);
  std::printf("process %d: %d reads, %d failed, %d differed\n", static_cast<int>(getpid()), rounds, failures,
              mismatches);
  return failures == 0 && mismatches == 0 && !first.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 40;
  // CIAInfo and a data object file of the PKCS#15 application.
  const std::vector<std::vector<uint8_t>> paths = {{0x50, 0x15, 0x50, 0x32}, {0x50, 0x15, 0x46, 0x01}};
  std::vector<pid_t> children;
  for (const auto& path : paths) {
    const pid_t child = fork();
    if (child == 0) {
      const int result = ReadRepeatedly(path, rounds);
      std::fflush(stdout);
      _exit(result);
    }
    if (child < 0) return 2;
    children.push_back(child);
  }
  int status = 0;
  for (pid_t child : children) {
    int childStatus = 0;
    if (waitpid(child, &childStatus, 0) != child || !WIFEXITED(childStatus) || WEXITSTATUS(childStatus) != 0) {
      std::printf("process %d failed (status %d)\n", static_cast<int>(child), childStatus);
      status = 1;
    }
  }
  return status;
}
