// Benchmark: several processes log in and sign in a loop on the same card
// through pcscd, and each prints how many rounds it made. Every process must
// make progress; the figures show how evenly the card is shared (the aim:
// no process below half of its fair share).
//
// Usage: monitor_shared_card_signing <processes> <seconds> <user PIN>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pkcs11/cryptoki.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Outcome {
  int rounds = 0;
  int failed = 0;
  long firstRoundMs = -1;
  int setup = 0;  // nonzero: the step that failed before the first round
};

CK_OBJECT_HANDLE FirstPrivateKey(CK_SESSION_HANDLE session) {
  CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
  CK_ATTRIBUTE query[] = {{CKA_CLASS, &keyClass, sizeof keyClass}};
  CK_OBJECT_HANDLE key = 0;
  CK_ULONG found = 0;
  if (C_FindObjectsInit(session, query, 1) != CKR_OK) return 0;
  C_FindObjects(session, &key, 1, &found);
  C_FindObjectsFinal(session);
  return found == 1 ? key : 0;
}

Outcome SignRounds(std::chrono::seconds duration, std::string pin) {
  Outcome outcome;
  const auto start = Clock::now();
  if (C_Initialize(nullptr) != CKR_OK) return outcome.setup = 1, outcome;
  CK_SLOT_ID slot = 0;
  CK_ULONG count = 0;
  while (count == 0 && Clock::now() - start < 2 * duration) {
    count = 1;
    if (C_GetSlotList(CK_TRUE, &slot, &count) != CKR_OK) return outcome.setup = 2, outcome;
    if (count == 0) usleep(50 * 1000);
  }
  CK_SESSION_HANDLE session = 0;
  if (count != 1 || C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK)
    return outcome.setup = 3, outcome;
  // The rounds start together once every process is set up (the parent
  // waits for them); the clock of each process starts here.
  const auto begin = Clock::now();
  const auto end = begin + duration;
  CK_OBJECT_HANDLE key = 0;
  std::vector<CK_BYTE> data = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04,
                               0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  data.resize(data.size() + 32, 0x5A);
  while (Clock::now() < end) {
    const CK_RV login = C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(pin.data()), pin.size());
    bool signedOk = false;
    if (login == CKR_OK || login == CKR_USER_ALREADY_LOGGED_IN) {
      if (key == 0) key = FirstPrivateKey(session);
      CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
      if (key != 0 && C_SignInit(session, &mechanism, key) == CKR_OK) {
        CK_BYTE signature[512];
        CK_ULONG length = sizeof signature;
        signedOk = C_Sign(session, data.data(), data.size(), signature, &length) == CKR_OK;
      }
      C_Logout(session);
    }
    if (!signedOk) {
      ++outcome.failed;
      continue;
    }
    if (outcome.rounds++ == 0)
      outcome.firstRoundMs =
          static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count());
  }
  C_CloseSession(session);
  C_Finalize(nullptr);
  return outcome;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <processes> <seconds> <user PIN>\n", argv[0]);
    return 2;
  }
  const int processes = std::atoi(argv[1]);
  const std::chrono::seconds duration(std::atoi(argv[2]));
  const std::string pin = argv[3];

  std::vector<std::pair<pid_t, int>> children;  // each with the read end of its pipe
  for (int i = 0; i < processes; ++i) {
    int ends[2];
    if (pipe(ends) != 0) return 2;
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
      const Outcome outcome = SignRounds(duration, pin);
      (void)!write(ends[1], &outcome, sizeof outcome);
      _exit(0);
    }
    close(ends[1]);
    children.emplace_back(child, ends[0]);
  }
  std::vector<Outcome> outcomes(processes);
  int total = 0;
  for (int i = 0; i < processes; ++i) {
    const auto [child, pipeEnd] = children[i];
    if (read(pipeEnd, &outcomes[i], sizeof(Outcome)) != static_cast<ssize_t>(sizeof(Outcome))) outcomes[i].setup = 9;
    close(pipeEnd);
    waitpid(child, nullptr, 0);
    total += outcomes[i].rounds;
  }
  const double fairShare = processes > 0 ? static_cast<double>(total) / processes : 0;
  int status = 0;
  int lowest = total;
  for (int i = 0; i < processes; ++i) {
    const Outcome& o = outcomes[i];
    std::printf("process %d: %d login+sign rounds in %lld s, %d failed, first round after %ld ms%s\n", i + 1,
                o.rounds, static_cast<long long>(duration.count()), o.failed, o.firstRoundMs,
                o.setup != 0 ? " (set-up failed)" : "");
    if (o.setup != 0) std::printf("  set-up step %d failed\n", o.setup);
    if (o.rounds == 0) status = 1;  // no progress
    lowest = std::min(lowest, o.rounds);
  }
  std::printf("%d processes: %d rounds, fair share %.1f, lowest %d (%.0f%% of its share)\n", processes, total,
              fairShare, lowest, fairShare > 0 ? 100.0 * lowest / fairShare : 0.0);
  return status;
}
