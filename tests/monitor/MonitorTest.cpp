// The reader monitor seen through the slot calls: cards and readers coming
// and going while the library runs, slot events, failures of cards and of
// the PC/SC service, finalisation during a card load, polls on the caller's
// thread; the mechanisms of a slot.

#include <dirent.h>

#include <boost/thread/locks.hpp>
#include <future>
#include <optional>
#include <set>

#include "MonitorFixture.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/LibraryLifecycle.h"
#include "pkcs11/Mechanisms.h"

namespace monitor_test {
namespace {

using Brelt::MW::Card::AlgorithmFacts;
using Brelt::MW::Card::ConnectionMgr;
using Brelt::MW::Card::StatusCache;
using Brelt::MW::Pkcs11::LibraryHasMonitorThread;
using Brelt::MW::Pkcs11::MechanismInfoOf;
using Brelt::MW::Pkcs11::MechanismsOf;

constexpr const char* kReaderA = "Reader A 00 00";
constexpr const char* kReaderB = "Reader B 00 00";

TEST_F(MonitorTest, CardPresentAtStartHasSlotsAtOnceWithoutEventInEveryInitialisation) {
  Insert(kReaderA, 2);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK) << i;
    ASSERT_EQ(Slots(), (std::vector<CK_SLOT_ID>{1, 2})) << i;  // ids start again at 1
    CK_SLOT_ID slot = 0;
    ASSERT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_NO_EVENT) << i;
    if (i < 99) ASSERT_EQ(C_Finalize(nullptr), CKR_OK) << i;
  }

  // Both applications share the card's token; each names its application.
  EXPECT_EQ(StatusCache::GetSlot(1)->TokenId(), StatusCache::GetSlot(2)->TokenId());
  CK_SLOT_INFO info;
  ASSERT_EQ(C_GetSlotInfo(2, &info), CKR_OK);
  const std::string description(reinterpret_cast<const char*>(info.slotDescription), sizeof info.slotDescription);
  EXPECT_EQ(description.rfind("Reader A 00 00; App1 ", 0), 0u) << description;
  CK_SLOT_ID ids[2] = {};
  CK_ULONG count = 1;
  EXPECT_EQ(C_GetSlotList(CK_TRUE, ids, &count), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 2u);
}

TEST_F(MonitorTest, InsertionAndRemovalWhileRunningNeverReuseIds) {
  cardsim::AddReader(kReaderA);
  cardsim::AddReader(kReaderB);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  EXPECT_TRUE(Slots().empty());

  // A blocked wait returns when a card arrives; the event is taken once.
  auto waiter = std::async(std::launch::async, [] {
    CK_SLOT_ID id = 0;
    return std::make_pair(C_WaitForSlotEvent(0, &id, nullptr), id);
  });
  Insert(kReaderA, 2);
  EXPECT_EQ(waiter.get().first, CKR_OK);
  ASSERT_TRUE(SlotsBecome({1, 2}));
  CK_SLOT_ID slot = 0;
  ASSERT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_OK);
  EXPECT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_NO_EVENT);

  // The removed card's slots are reported before the new card's.
  cardsim::RemoveCard(kReaderA);
  Insert(kReaderB, 1);
  ASSERT_TRUE(SlotsBecome({3}));
  CK_SLOT_INFO info;
  EXPECT_EQ(C_GetSlotInfo(1, &info), CKR_SLOT_ID_INVALID);
  ASSERT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_OK);
  EXPECT_EQ(slot, 1u);
  ASSERT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_OK);
  EXPECT_EQ(slot, 2u);
  ASSERT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_OK);
  EXPECT_EQ(slot, 3u);

  Insert(kReaderA, 1);
  ASSERT_TRUE(SlotsBecome({3, 4}));
  EXPECT_NE(StatusCache::GetSlot(3)->TokenId(), StatusCache::GetSlot(4)->TokenId());

  // A reader that goes takes its slots; one plugged in later is picked up.
  cardsim::RemoveReader(kReaderB);
  EXPECT_TRUE(SlotsBecome({4}));
  Insert(kReaderB, 1);
  EXPECT_TRUE(SlotsBecome({4, 5}));
}

TEST_F(MonitorTest, CardSwappedBetweenTwoPollsGetsNewSlots) {
  cardsim::AddReader(kReaderA);
  Insert(kReaderB, 1);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  ASSERT_EQ(Slots(), (std::vector<CK_SLOT_ID>{1}));

  // While the monitor is busy loading a slow card, the other reader's card
  // is replaced; no wait sees the reader empty.
  Insert(kReaderA, 1, 0, 20 * kPoll);
  ASSERT_TRUE(Eventually([&] { return applications->loading.load(); }));
  Insert(kReaderB, 1);
  EXPECT_TRUE(SlotsBecome({2, 3}));
}

TEST_F(MonitorTest, BlockedWaitEndsWithTheInitialisationItBeganUnder) {
  ConnectionMgr::SetPollIntervalForTesting(20 * kPoll);
  for (const bool initializeAgain : {false, true}) {
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    auto waiter = std::async(std::launch::async, [] {
      CK_SLOT_ID id = 0;
      return C_WaitForSlotEvent(0, &id, nullptr);
    });
    std::this_thread::sleep_for(3 * kPoll);
    // Finalised, and perhaps initialised again, within one of its polls.
    ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
    if (initializeAgain) {
      ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    }
    const bool ended = waiter.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!ended) {  // release it for the test to end: a card arrives
      Insert(kReaderA, 1);
    }
    EXPECT_TRUE(ended) << initializeAgain;
    EXPECT_EQ(waiter.get(), CKR_CRYPTOKI_NOT_INITIALIZED) << initializeAgain;
    C_Finalize(nullptr);
  }
  ConnectionMgr::SetPollIntervalForTesting(kPoll);
}

TEST_F(MonitorTest, MechanismInformationOfASlot) {
  Insert(kReaderA, 1);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  CK_MECHANISM_INFO info{};
  ASSERT_EQ(C_GetMechanismInfo(1, CKM_RSA_PKCS, &info), CKR_OK);
  EXPECT_EQ(info.ulMinKeySize, 2048u);
  EXPECT_EQ(info.ulMaxKeySize, 3072u);
  EXPECT_EQ(info.flags, CKF_HW | CKF_SIGN | CKF_VERIFY);
  ASSERT_EQ(C_GetMechanismInfo(1, CKM_SHA256, &info), CKR_OK);
  EXPECT_EQ(info.flags, static_cast<CK_FLAGS>(CKF_DIGEST));
  EXPECT_EQ(info.ulMaxKeySize, 0u);
  // Only what the slot's mechanism list offers.
  EXPECT_EQ(C_GetMechanismInfo(1, CKM_RSA_X_509, &info), CKR_MECHANISM_INVALID);
  EXPECT_EQ(C_GetMechanismInfo(1, CKM_SHA256_RSA_PKCS, &info), CKR_MECHANISM_INVALID);
  EXPECT_EQ(C_GetMechanismInfo(1, CKM_RSA_PKCS, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(C_GetMechanismInfo(99, CKM_RSA_PKCS, &info), CKR_SLOT_ID_INVALID);
}

// As many readers as one status wait can watch (the service's new-reader
// notification no longer fits into it), and more than that.
TEST_F(MonitorTest, SixteenAndTwentyReadersAreWatched) {
  for (const int readers : {16, 20}) {
    C_Finalize(nullptr);
    cardsim::RemoveAllReaders();
    std::vector<std::string> names;
    for (int i = 0; i < readers; ++i) {
      names.push_back("Reader " + std::to_string(100 + i));
      cardsim::AddReader(names.back());
    }
    Insert(names.back(), 1);
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(Slots(), (std::vector<CK_SLOT_ID>{1})) << readers;
    Insert(names.front(), 1);
    EXPECT_TRUE(SlotsBecome({1, 2})) << readers;
    cardsim::RemoveCard(names.back());
    EXPECT_TRUE(SlotsBecome({2})) << readers;
  }
}

TEST_F(MonitorTest, RefusedAndMalformedCardsAreGivenUpOnceAndLeaveTheCardFree) {
  const char* kReaderC = "Reader C 00 00";
  Insert(kReaderA, 0);                   // no application of this system
  Insert(kReaderB, 1, /*malformed=*/1);  // the loader throws
  Insert(kReaderC, 1, /*malformed=*/2);  // a parser refuses a file
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  EXPECT_TRUE(Slots().empty());
  EXPECT_EQ(applications->loads.load(), 3);

  // No card is loaded again while it stays, and the monitor goes on.
  std::this_thread::sleep_for(5 * kPoll);
  EXPECT_EQ(applications->loads.load(), 3);
  EXPECT_TRUE(OtherClient(kReaderB).Begin());
  Insert(kReaderA, 1);
  EXPECT_TRUE(SlotsBecome({1}));
}

TEST_F(MonitorTest, CardsThatFailToConnectOrVanishDuringLoadingAreTriedAgain) {
  cardsim::AddReader(kReaderA);
  cardsim::FailNextCalls(cardsim::ApiCall::Connect, SCARD_E_SHARING_VIOLATION, 2);
  Insert(kReaderA, 1);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  EXPECT_TRUE(Slots().empty());
  ASSERT_TRUE(SlotsBecome({1}));

  cardsim::RemoveCard(kReaderA);
  cardsim::InjectFault(kReaderA, cardsim::Fault::RemoveCardBefore(1));
  const int loads = applications->loads.load();
  Insert(kReaderA, 1);
  ASSERT_TRUE(Eventually([&] { return applications->loads.load() > loads; }));
  EXPECT_TRUE(SlotsBecome({}));
  Insert(kReaderA, 1);
  EXPECT_TRUE(SlotsBecome({2}));
}

TEST_F(MonitorTest, ServiceLossReplacesAllSlotsAndAMissingServiceIsWaitedFor) {
  Insert(kReaderA, 1);
  cardsim::FailNextCalls(cardsim::ApiCall::EstablishContext, SCARD_E_NO_SERVICE, 4);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  ASSERT_TRUE(SlotsBecome({1}));

  // The service went away and came back: old card handles are dead, so the
  // card present is registered anew.
  cardsim::FailNextCalls(cardsim::ApiCall::ListReaders, SCARD_E_NO_SERVICE);
  EXPECT_TRUE(SlotsBecome({2}));
}

TEST_F(MonitorTest, PurgeWaitsWhileATokenCallRuns) {
  static std::atomic<long> offsetSeconds{0};
  offsetSeconds = 0;
  StatusCache::SetClock([] { return Brelt::MW::Card::RegistryClock::now() + std::chrono::seconds(offsetSeconds); });
  Insert(kReaderA, 1);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  {
    boost::lock_guard<boost::mutex> tokenCall(Brelt::MW::Pkcs11::TokenMutex());
    cardsim::RemoveCard(kReaderA);
    ASSERT_TRUE(SlotsBecome({}));
    offsetSeconds = 20;
    std::this_thread::sleep_for(5 * kPoll);
    EXPECT_EQ(StatusCache::GetAllInvalidSlots().size(), 1u);
  }
  EXPECT_TRUE(Eventually([] { return StatusCache::GetAllInvalidSlots().empty(); }));
  EXPECT_TRUE(Eventually([&] { return applications->table.empty(); }));
}

TEST_F(MonitorTest, FinalizeDuringASlowLoadWaitsForItEvenPastTheStopWait) {
  ConnectionMgr::SetStopWaitForTesting(2 * kPoll);
  cardsim::AddReader(kReaderA);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  Insert(kReaderA, 1, 0, 15 * kPoll);
  ASSERT_TRUE(Eventually([&] { return applications->loading.load(); }));
  EXPECT_EQ(C_Finalize(nullptr), CKR_OK);
  ConnectionMgr::SetStopWaitForTesting(std::chrono::milliseconds(0));
  // Nothing was freed under the loading thread (the sanitizer run checks),
  // the card was given back, and the library starts again cleanly.
  EXPECT_FALSE(applications->loading.load());
  EXPECT_TRUE(OtherClient(kReaderA).Begin());
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  EXPECT_EQ(Slots(), (std::vector<CK_SLOT_ID>{1}));
}

// At process exit the monitor may be waiting for a card that another
// process holds (its PIN dialog is open, say): the exit does not wait for it
// without limit, and the monitor gives the card up untouched once it can.
TEST_F(MonitorTest, ExitDoesNotWaitForAMonitorBlockedOnAnotherProcessCard) {
  ConnectionMgr::SetStopWaitForTesting(2 * kPoll);
  cardsim::AddReader(kReaderA);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  std::optional<OtherClient> other;
  {
    // The monitor sees the card only once the other process holds it.
    boost::lock_guard<boost::mutex> slotList(Brelt::MW::Pkcs11::SlotListMutex());
    Insert(kReaderA, 1);
    other.emplace(kReaderA);
    ASSERT_TRUE(other->Begin());
  }
  std::this_thread::sleep_for(5 * kPoll);
  auto exiting = std::async(std::launch::async, [] { return Brelt::MW::Pkcs11::FinalizePKCS11(true); });
  const bool ended = exiting.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  other.reset();
  EXPECT_TRUE(ended);
  EXPECT_EQ(exiting.get(), CKR_OK);
  EXPECT_FALSE(Brelt::MW::Pkcs11::IsLibraryInitialized());
  EXPECT_TRUE(Eventually([] { return OtherClient(kReaderA).Begin(); }));
  ConnectionMgr::SetStopWaitForTesting(std::chrono::milliseconds(0));
}

int ThreadsOfThisProcess() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(tasks))
      if (entry->d_name[0] != '.') ++count;
    closedir(tasks);
  }
  return count;
}

CK_RV InitializeWithoutThreads(CK_FLAGS flags = CKF_LIBRARY_CANT_CREATE_OS_THREADS) {
  CK_C_INITIALIZE_ARGS args{};
  args.flags = flags;
  return C_Initialize(&args);
}

// The application forbids module threads: no thread is started, and the
// slot calls poll the readers on the caller's thread.
using CallerThreadMonitorTest = MonitorTest;

TEST_F(CallerThreadMonitorTest, NoThreadIsStartedAndCardsPresentAtStartHaveSlots) {
  Insert(kReaderA, 2);
  for (const CK_FLAGS flags :
       {CKF_LIBRARY_CANT_CREATE_OS_THREADS, CKF_LIBRARY_CANT_CREATE_OS_THREADS | CKF_OS_LOCKING_OK}) {
    const int threadsBefore = ThreadsOfThisProcess();
    ASSERT_EQ(InitializeWithoutThreads(flags), CKR_OK) << flags;
    EXPECT_FALSE(LibraryHasMonitorThread());
    EXPECT_EQ(Slots(), (std::vector<CK_SLOT_ID>{1, 2}));
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_NO_EVENT);
    CK_TOKEN_INFO token;
    EXPECT_EQ(C_GetTokenInfo(2, &token), CKR_OK);
    EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);
    ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
  }

  // The default keeps its thread.
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  EXPECT_TRUE(LibraryHasMonitorThread());
}

TEST_F(CallerThreadMonitorTest, EachSlotCallSeesCardsThatCameAndWent) {
  cardsim::AddReader(kReaderA);
  cardsim::AddReader(kReaderB);
  ASSERT_EQ(InitializeWithoutThreads(), CKR_OK);
  EXPECT_TRUE(Slots().empty());

  // No waiting: the next call itself finds the card.
  Insert(kReaderA, 2);
  EXPECT_EQ(Slots(), (std::vector<CK_SLOT_ID>{1, 2}));
  CK_SLOT_ID slot = 0;
  ASSERT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_OK);
  EXPECT_EQ(slot, 1u);
  ASSERT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_OK);
  EXPECT_EQ(slot, 2u);
  EXPECT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_NO_EVENT);

  Insert(kReaderB, 1);
  CK_SLOT_INFO info;
  EXPECT_EQ(C_GetSlotInfo(3, &info), CKR_OK);
  CK_SESSION_HANDLE session = 0;
  cardsim::RemoveCard(kReaderB);
  EXPECT_EQ(C_OpenSession(3, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_SLOT_ID_INVALID);

  // A call that holds the token lock polls too; the purge of what went is
  // left to a later call.
  cardsim::RemoveCard(kReaderA);
  CK_TOKEN_INFO token;
  EXPECT_EQ(C_GetTokenInfo(1, &token), CKR_SLOT_ID_INVALID);
  EXPECT_TRUE(Slots().empty());
  std::set<CK_SLOT_ID> events;
  while (C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK) events.insert(slot);
  EXPECT_EQ(events, (std::set<CK_SLOT_ID>{1, 2, 3}));

  // A reader that goes takes its slots; ids are never reused.
  Insert(kReaderB, 1);
  EXPECT_EQ(Slots(), (std::vector<CK_SLOT_ID>{4}));
  cardsim::RemoveReader(kReaderB);
  EXPECT_TRUE(Slots().empty());
}

TEST_F(CallerThreadMonitorTest, BlockingWaitPollsOnItsOwnThreadAndEndsAtFinalize) {
  cardsim::AddReader(kReaderA);
  ASSERT_EQ(InitializeWithoutThreads(), CKR_OK);
  auto waiter = std::async(std::launch::async, [] {
    CK_SLOT_ID id = 0;
    return std::make_pair(C_WaitForSlotEvent(0, &id, nullptr), id);
  });
  std::this_thread::sleep_for(3 * kPoll);
  Insert(kReaderA, 1);
  const auto [rv, id] = waiter.get();
  EXPECT_EQ(rv, CKR_OK);
  EXPECT_EQ(id, 1u);

  auto blocked = std::async(std::launch::async, [] {
    CK_SLOT_ID id = 0;
    return C_WaitForSlotEvent(0, &id, nullptr);
  });
  std::this_thread::sleep_for(3 * kPoll);
  ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(blocked.get(), CKR_CRYPTOKI_NOT_INITIALIZED);
}

const std::vector<CK_MECHANISM_TYPE> kDigests = {CKM_SHA_1, CKM_SHA224, CKM_SHA256, CKM_SHA384, CKM_SHA512};

AlgorithmFacts Algorithm(CK_MECHANISM_TYPE mechanism, std::vector<uint8_t> operations = {}) {
  return {true, mechanism, static_cast<uint8_t>(mechanism), std::move(operations)};
}

TEST(MechanismListTest, OffersRsaPkcsOnceWhenTheCardListsRsa) {
  ApplicationFacts application;
  EXPECT_EQ(MechanismsOf(application), kDigests);

  application.algorithms = {Algorithm(CKM_RSA_X_509), Algorithm(CKM_SHA256_RSA_PKCS), Algorithm(CKM_RSA_PKCS)};
  std::vector<CK_MECHANISM_TYPE> expected{CKM_RSA_PKCS};
  expected.insert(expected.end(), kDigests.begin(), kDigests.end());
  EXPECT_EQ(MechanismsOf(application), expected);

  // An entry without an algorithm field, or with an unusable one, adds nothing.
  application.algorithms = {AlgorithmFacts{false, CKM_RSA_PKCS, 1, {}}, Algorithm(0xFFFFFFFF)};
  EXPECT_EQ(MechanismsOf(application), kDigests);
}

TEST(MechanismInfoTest, FlagsFromSupportedOperations) {
  ApplicationFacts application;
  // Bit 1 (sign) and bit 7 (key generation): sign implies verify, key
  // generation is never offered.
  application.algorithms = {Algorithm(CKM_RSA_PKCS, {0x00, 0x41})};
  EXPECT_EQ(MechanismInfoOf(application, CKM_RSA_PKCS).flags, CKF_HW | CKF_SIGN | CKF_VERIFY);

  // Decipher (bit 5) on an algorithm of value 3; bits past the used ones
  // (7 unused bits: only bit 0 counts) are not read.
  application.algorithms = {Algorithm(CKM_RSA_X_509, {0x00, 0x04}), Algorithm(CKM_RSA_PKCS, {0x07, 0x7F})};
  EXPECT_EQ(MechanismInfoOf(application, CKM_RSA_PKCS).flags, CKF_HW | CKF_DECRYPT);

  // Hostile bit strings: empty content, an unused-bits count past the data.
  application.algorithms = {Algorithm(CKM_RSA_PKCS, {}), Algorithm(CKM_RSA_PKCS, {0xFF, 0xFF}),
                            Algorithm(CKM_RSA_PKCS, {0x00})};
  EXPECT_EQ(MechanismInfoOf(application, CKM_RSA_PKCS).flags, static_cast<CK_FLAGS>(CKF_HW));
}

}  // namespace
}  // namespace monitor_test
