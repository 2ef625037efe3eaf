// Processes that share one card through pcscd, each with its own module.
//   monitor_shared_card reads <rounds>: two processes read different files at
//     the same time, each read inside the module's card context; a command of
//     the other process between a SELECT and its READ BINARY would give the
//     other file's bytes.
//   monitor_shared_card signs <processes> <seconds> <user PIN>: benchmark; each
//     process logs in and signs in a loop and prints its rounds. Every process
//     must make progress; the aim is none below half of its fair share.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "card/CardCommands.h"
#include "card/StatusCache.h"
#include "pkcs11/CardContext.h"
#include "pkcs11/Session.h"
#include "pkcs11/cryptoki.h"

namespace {

using Brelt::MW::Card::StatusCache;
using Clock = std::chrono::steady_clock;

// What one process made of its rounds.
struct Outcome {
  int rounds = 0;
  int failed = 0;
  int differed = 0;
  long firstRoundMs = -1;
  int setup = 0;  // nonzero: the step that failed before the first round
};

// Initialises the module and opens a session on the card's slot, which comes
// with a later poll while another process holds the card. 0 on failure.
CK_SESSION_HANDLE OpenOnTheCard(Outcome& outcome) {
  if (C_Initialize(nullptr) != CKR_OK) return outcome.setup = 1, 0;
  CK_SLOT_ID slot = 0;
  CK_ULONG count = 0;
  for (int i = 0; i < 600 && count == 0; ++i) {
    count = 1;
    if (C_GetSlotList(CK_TRUE, &slot, &count) != CKR_OK) return outcome.setup = 2, 0;
    if (count == 0) usleep(100 * 1000);
  }
  CK_SESSION_HANDLE session = 0;
  if (count != 1 || C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK)
    return outcome.setup = 3, 0;
  return session;
}

void Close(CK_SESSION_HANDLE session) {
  C_CloseSession(session);
  C_Finalize(nullptr);
}

Outcome ReadRepeatedly(const std::vector<uint8_t>& path, int rounds) {
  Outcome outcome;
  const CK_SESSION_HANDLE handle = OpenOnTheCard(outcome);
  const auto session = StatusCache::GetSession(handle);
  const auto slot = session ? StatusCache::GetSlotWithoutProbe(session->SlotId()) : nullptr;
  if (!slot) {
    if (outcome.setup == 0) outcome.setup = 4;
    return outcome;
  }
  std::vector<uint8_t> first;
  for (; outcome.rounds < rounds; ++outcome.rounds) {
    if (Brelt::MW::Pkcs11::EstablishCardContext(*session, true) != CKR_OK) {
      ++outcome.failed;
      continue;
    }
    uint8_t buffer[2048];
    uint32_t length = sizeof buffer;
    CK_ULONG lastStatus = 0;
    const CK_RV rv = Brelt::MW::Card::ReadBinary(&lastStatus, slot.get(), path.data(),
                                                 static_cast<uint16_t>(path.size()), buffer, &length);
    Brelt::MW::Pkcs11::ReleaseCardContext(*session, true);
    if (rv != CKR_OK) {
      ++outcome.failed;
      continue;
    }
    const std::vector<uint8_t> content(buffer, buffer + length);
    if (first.empty()) first = content;
    if (content != first) ++outcome.differed;
  }
  if (first.empty()) outcome.setup = 5;
  Close(handle);
  return outcome;
}

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
  const CK_SESSION_HANDLE session = OpenOnTheCard(outcome);
  if (session == 0) return outcome;
  // The rounds start together once every process is set up (the parent
  // waits for them); the clock of each process starts here.
  const auto begin = Clock::now();
  CK_OBJECT_HANDLE key = 0;
  std::vector<CK_BYTE> data = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04,
                               0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  data.resize(data.size() + 32, 0x5A);
  while (Clock::now() < begin + duration) {
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
  Close(session);
  return outcome;
}

// Runs `work` for each process index in a process of its own; the outcomes
// come back through pipes. Empty when a process cannot be started.
std::vector<Outcome> InProcesses(int processes, const std::function<Outcome(int)>& work) {
  std::vector<std::pair<pid_t, int>> children;  // each with the read end of its pipe
  for (int i = 0; i < processes; ++i) {
    int ends[2];
    if (pipe(ends) != 0) return {};
    const pid_t child = fork();
    if (child < 0) return {};
    if (child == 0) {
      const Outcome outcome = work(i);
      (void)!write(ends[1], &outcome, sizeof outcome);
      _exit(0);
    }
    close(ends[1]);
    children.emplace_back(child, ends[0]);
  }
  std::vector<Outcome> outcomes(processes);
  for (int i = 0; i < processes; ++i) {
    const auto [child, pipeEnd] = children[i];
    if (read(pipeEnd, &outcomes[i], sizeof(Outcome)) != static_cast<ssize_t>(sizeof(Outcome))) outcomes[i].setup = 9;
    close(pipeEnd);
    waitpid(child, nullptr, 0);
  }
  return outcomes;
}

int Reads(int rounds) {
  // CIAInfo and a data object file of the PKCS#15 application.
  const std::vector<std::vector<uint8_t>> paths = {{0x50, 0x15, 0x50, 0x32}, {0x50, 0x15, 0x46, 0x01}};
  const auto outcomes = InProcesses(2, [&](int i) { return ReadRepeatedly(paths[i], rounds); });
  int status = outcomes.empty() ? 2 : 0;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    const Outcome& o = outcomes[i];
    std::printf("process %zu: %d reads, %d failed, %d differed%s\n", i + 1, o.rounds, o.failed, o.differed,
                o.setup != 0 ? " (set-up failed)" : "");
    if (o.setup != 0 || o.failed != 0 || o.differed != 0) status = 1;
  }
  return status;
}

int Signs(int processes, std::chrono::seconds duration, const std::string& pin) {
  const auto outcomes = InProcesses(processes, [&](int) { return SignRounds(duration, pin); });
  if (outcomes.empty()) return 2;
  int total = 0;
  for (const Outcome& o : outcomes) total += o.rounds;
  const double fairShare = static_cast<double>(total) / processes;
  int status = 0;
  int lowest = total;
  for (int i = 0; i < processes; ++i) {
    const Outcome& o = outcomes[i];
    std::printf("process %d: %d login+sign rounds in %lld s, %d failed, first round after %ld ms\n", i + 1, o.rounds,
                static_cast<long long>(duration.count()), o.failed, o.firstRoundMs);
    if (o.setup != 0) std::printf("  set-up step %d failed\n", o.setup);
    if (o.rounds == 0) status = 1;  // no progress
    lowest = std::min(lowest, o.rounds);
  }
  std::printf("%d processes: %d rounds, fair share %.1f, lowest %d (%.0f%% of its share)\n", processes, total,
              fairShare, lowest, fairShare > 0 ? 100.0 * lowest / fairShare : 0.0);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "reads" && argc == 3) return Reads(std::atoi(argv[2]));
  if (mode == "signs" && argc == 5 && std::atoi(argv[2]) > 0)
    return Signs(std::atoi(argv[2]), std::chrono::seconds(std::atoi(argv[3])), argv[4]);
  std::fprintf(stderr, "usage: %s reads <rounds> | signs <processes> <seconds> <user PIN>\n", argv[0]);
  return 2;
}
