#include "FaultSweep.h"

#include <botan/hex.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "Dialogs/ui/PinDialogScript.h"

#include "card/CardApplications.h"
#include "card/ConnectionMgr.h"
#include "token/ApplicationInfoList.h"
#include "token/AttributeGetters.h"

namespace faults {

using namespace std::chrono_literals;
using Brelt::MW::Card::CardApplications;

const std::vector<FaultKind>& FaultKinds()
{
    using cardsim::Fault;
    static const std::vector<FaultKind> kinds = {
        {"transmit error SCARD_F_COMM_ERROR", [](unsigned n) { return Fault::TransmitError(SCARD_F_COMM_ERROR, n); },
         false},
        {"transmit error SCARD_W_RESET_CARD", [](unsigned n) { return Fault::TransmitError(SCARD_W_RESET_CARD, n); },
         false},
        {"transmit error SCARD_W_REMOVED_CARD",
         [](unsigned n) { return Fault::TransmitError(SCARD_W_REMOVED_CARD, n); }, false},
        {"card pulled before the command", [](unsigned n) { return Fault::RemoveCardBefore(n); }, false},
        {"one-byte answer", [](unsigned n) { return Fault::OneByteAnswer(n); }, false},
        {"status word 6F 00", [](unsigned n) { return Fault::StatusWordFor({}, 0x6F, 0x00, n); }, true},
        {"more data than asked for", [](unsigned n) { return Fault::OversizedAnswer(n); }, true},
        {"data cut short under 90 00", [](unsigned n) { return Fault::ChangedAnswer(Fault::DataChange::CutShort, n); },
         true, FaultKind::Hits::SuccessWithData},
        {"data lengthened under 90 00",
         [](unsigned n) { return Fault::ChangedAnswer(Fault::DataChange::Lengthened, n); }, true,
         FaultKind::Hits::Success},
        {"bits flipped under 90 00",
         [](unsigned n) { return Fault::ChangedAnswer(Fault::DataChange::BitsFlipped, n); }, true,
         FaultKind::Hits::SuccessWithData},
    };
    return kinds;
}

namespace {

// The codes each call may answer when the card or reader fails under it:
// the failure codes of its PKCS#11 v2.20 list (the session codes for a card
// that went), and CKR_FUNCTION_CANCELED where the module's own rule answers
// it for a card that went during signing.
const std::set<CK_RV>& FailureCodes(const std::string& function)
{
    static const std::set<CK_RV> card = {CKR_DEVICE_ERROR, CKR_DEVICE_MEMORY, CKR_DEVICE_REMOVED,
                                         CKR_FUNCTION_FAILED, CKR_GENERAL_ERROR, CKR_HOST_MEMORY};
    static const auto with = [](std::set<CK_RV> more) {
        more.insert(card.begin(), card.end());
        return more;
    };
    static const std::set<CK_RV> session = with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID});
    static const std::set<CK_RV> signing =
        with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID, CKR_FUNCTION_CANCELED});
    static const std::map<std::string, std::set<CK_RV>> codes = {
        {"C_Initialize", {CKR_FUNCTION_FAILED, CKR_GENERAL_ERROR, CKR_HOST_MEMORY}},
        {"load", {CKR_TOKEN_NOT_RECOGNIZED}},
        {"C_GetTokenInfo", with({CKR_SLOT_ID_INVALID, CKR_TOKEN_NOT_PRESENT, CKR_TOKEN_NOT_RECOGNIZED})},
        {"C_Login", session}, {"C_SetPIN", session}, {"C_FindObjectsInit", session}, {"C_FindObjects", session},
        {"C_FindObjectsFinal", session}, {"C_GenerateRandom", session}, {"C_Decrypt", session},
        {"C_SignInit", signing}, {"C_Sign", signing}, {"C_SignUpdate", signing}, {"C_SignFinal", signing},
        {"C_GetAttributeValue", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID, CKR_OBJECT_HANDLE_INVALID})},
        // Card-layer routines driven directly answer the card-layer codes.
        {"card", {CKR_DEVICE_ERROR, CKR_FUNCTION_FAILED, CKR_HOST_MEMORY}},
    };
    static const std::set<CK_RV> none;
    const auto it = codes.find(function);
    return it != codes.end() ? it->second : none;
}

std::string RvText(CK_RV rv)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(rv));
    return text;
}

std::string Brief(const std::string& text) { return text.size() <= 48 ? text : text.substr(0, 48) + "..."; }

// Where two results part: "at <n>: ...<run> instead of ...<expected>".
std::string Difference(const std::string& run, const std::string& expected)
{
    const size_t at = size_t(std::mismatch(run.begin(), run.begin() + long(std::min(run.size(), expected.size())),
                                           expected.begin()).first - run.begin());
    const size_t from = at > 8 ? at - 8 : 0;
    return "at " + std::to_string(at) + ": ..." + Brief(run.substr(from)) + " instead of ..." +
           Brief(expected.substr(from));
}

// Whether a deviation is kept by design for the faulted command.
using Excused = std::function<bool(const CallResult& call)>;

// Compares a run with the fault-free one, call by call.
void CheckCalls(const Outcome& baseline, const Outcome& run, const Excused& excused, std::vector<std::string>& broken)
{
    std::map<std::string, const CallResult*> expected;
    for (const CallResult& call : baseline) expected[call.label] = &call;
    bool failed = false;
    for (const CallResult& call : run) {
        if (!call.problem.empty()) broken.push_back(call.label + ": " + call.problem);
        const auto it = expected.find(call.label);
        if (it != expected.end() && call.rv == it->second->rv && call.output == it->second->output) continue;
        if (call.rv != CKR_OK && FailureCodes(call.function).count(call.rv) != 0) {
            failed = true;
            continue;
        }
        if (excused(call)) continue;
        if (call.rv != CKR_OK)
            broken.push_back(call.label + ": " + RvText(call.rv) + " is not a failure code of " + call.function);
        else
            broken.push_back(call.label + ": CKR_OK with " +
                             (it == expected.end() ? "no fault-free counterpart"
                                                   : "a wrong result " + Difference(call.output, it->second->output)));
    }
    if (!failed && run.size() < baseline.size() && broken.empty())
        broken.push_back("the run ended early without a failure");
}

// The run after a faulted one must give exactly what the fault-free run gave.
void CheckSame(const Outcome& baseline, const Outcome& run, const Excused& excused, std::vector<std::string>& broken)
{
    for (size_t i = 0; i < std::max(baseline.size(), run.size()); ++i) {
        if (i >= run.size()) return broken.push_back("afterwards: " + baseline[i].label + " not reached");
        const CallResult& call = run[i];
        if (!call.problem.empty()) broken.push_back("afterwards: " + call.label + ": " + call.problem);
        if (i >= baseline.size() || call.label != baseline[i].label)
            return broken.push_back("afterwards: unexpected " + call.label);
        if ((call.rv == baseline[i].rv && call.output == baseline[i].output) || excused(call)) continue;
        if (call.rv != baseline[i].rv)
            return broken.push_back("afterwards: " + call.label + " answers " + RvText(call.rv));
        return broken.push_back("afterwards: " + call.label + " gives " + Difference(call.output, baseline[i].output));
    }
}

bool IsCommand(const cardsim::TranscriptEntry& entry) { return !entry.command.empty(); }

// Whether the kind can change the answer the fault-free run got.
bool Hits(const FaultKind& kind, const cardsim::TranscriptEntry& answered)
{
    const cardsim::Bytes& answer = answered.response;
    const bool success = answered.result == SCARD_S_SUCCESS && answer.size() >= 2 &&
                         answer[answer.size() - 2] == 0x90 && answer.back() == 0x00;
    switch (kind.hits) {
    case FaultKind::Hits::Any: return true;
    case FaultKind::Hits::Success: return success;
    case FaultKind::Hits::SuccessWithData: return success && answer.size() > 2;
    }
    return true;
}

constexpr const char* kDataPassedOn = "plain card data changed under 90 00 passed on as the card gave it";

// What every sweep of the test program tried, printed after the last test.
class Totals final : public ::testing::Environment {
public:
    size_t operations = 0, commands = 0, kinds = 0, tried = 0, passed = 0;
    void TearDown() override
    {
        if (operations == 0) return;
        std::printf("[ fault sweep ] all: %zu operations, %zu card commands, %zu fault kinds, %zu faults tried, "
                    "%zu passed\n",
                    operations, commands, kinds, tried, passed);
        std::fflush(stdout);
    }
};
Totals& totals = *static_cast<Totals*>(::testing::AddGlobalTestEnvironment(new Totals));

uint8_t Ins(const cardsim::Bytes& command) { return command.size() > 1 ? command[1] : 0; }

// Commands that change what the card keeps.
bool Writes(const cardsim::Bytes& command)
{
    static const std::set<uint8_t> writing = {0x04, 0x0E, 0x10, 0x24, 0x2C, 0x44, 0x46,
                                              0xD0, 0xD2, 0xD6, 0xDA, 0xDB, 0xDC, 0xE0, 0xE2, 0xE4};
    return writing.count(Ins(command)) != 0;
}

// A VERIFY that carries a PIN (the status query has no data), or a command
// that resets a PIN's counter.
bool SpendsPinTries(const cardsim::Bytes& command)
{
    const uint8_t ins = Ins(command);
    return (ins == 0x20 && command.size() > 5) || ins == 0x24 || ins == 0x2C;
}

std::vector<std::string> Sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

// PIN lines may change only after a command that spends tries reached the
// card, other lines only after a writing one.
void CheckCardState(const std::vector<std::string>& before, const std::vector<std::string>& after,
                    const std::vector<cardsim::TranscriptEntry>& window, unsigned faulted, const FaultKind& kind,
                    std::vector<std::string>& broken)
{
    bool wrote = false, spent = false;
    size_t index = 0;
    for (const auto& entry : window) {
        if (!IsCommand(entry)) continue;
        ++index;
        if (entry.result != SCARD_S_SUCCESS || (index == faulted && !kind.reachesCard)) continue;
        wrote = wrote || Writes(entry.command);
        spent = spent || SpendsPinTries(entry.command);
    }
    std::vector<std::string> gone, added;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    for (const auto& line : gone)
        if (line.rfind("PIN ", 0) == 0 ? !spent : !wrote)
            broken.push_back("card changed without a command that may change it: " + Brief(line));
    if (gone.empty() && !added.empty() && !wrote)
        broken.push_back("card gained data without a writing command: " + Brief(added.front()));
}

bool LibraryRuns()
{
    CK_ULONG count = 0;
    return C_GetSlotList(CK_FALSE, nullptr, &count) != CKR_CRYPTOKI_NOT_INITIALIZED;
}

constexpr auto kPoll = 20ms;
// Generous: a sanitizer build on a busy machine is slow, and only a defect
// makes a wait run out.
constexpr auto kPatience = 5s;

template <typename Condition>
bool Eventually(Condition condition)
{
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

}  // namespace

// Forwards to the token layer's card applications and counts the card loads
// that have ended.
class Bench::LoadWatch final : public CardApplications {
public:
    explicit LoadWatch(std::shared_ptr<CardApplications> inner) : inner_(std::move(inner)) {}
    CK_RV LoadReaderApplications(const std::string& readerName, Brelt::MW::Card::Slot& cardSlot,
                                 std::vector<Brelt::MW::Card::SlotPtr>& newSlots, bool& ownApplication) override
    {
        const std::shared_ptr<void> done(nullptr, [this](void*) { ++loads; });
        return inner_->LoadReaderApplications(readerName, cardSlot, newSlots, ownApplication);
    }
    void InvalidateApplicationInfo(CK_SLOT_ID id) override { inner_->InvalidateApplicationInfo(id); }
    void RemoveAllInvalidApplications() override { inner_->RemoveAllInvalidApplications(); }
    CK_RV GetApplicationFacts(CK_SLOT_ID id, std::optional<Brelt::MW::Card::ApplicationFacts>& facts) override
    {
        return inner_->GetApplicationFacts(id, facts);
    }
    CK_RV GetTokenInfoEF(const Brelt::MW::Card::Slot& slot, CK_TOKEN_INFO* info) override
    {
        return inner_->GetTokenInfoEF(slot, info);
    }
    CK_RV ReadCardAccess(Brelt::MW::Card::Slot& slot, std::vector<uint8_t>& content) override
    {
        return inner_->ReadCardAccess(slot, content);
    }
    void ApplyCardAccessPinLength(CK_SLOT_ID id, const std::vector<uint8_t>& cardAccess) override
    {
        inner_->ApplyCardAccessPinLength(id, cardAccess);
    }
    std::atomic<unsigned> loads{0};

private:
    std::shared_ptr<CardApplications> inner_;
};

Bench::Bench(std::string reader, cardsim::PinPad pinPad) : reader_(std::move(reader))
{
    C_Finalize(nullptr);
    cardsim::ClearFaults();
    cardsim::RemoveAllReaders();
    cardsim::AddReader(reader_, pinPad);
    Brelt::MW::Card::InstallCardApplications(nullptr);
    watch_ = std::make_shared<LoadWatch>(Brelt::MW::Card::Applications());
    Brelt::MW::Card::InstallCardApplications(watch_);
    Brelt::MW::Card::ConnectionMgr::SetPollIntervalForTesting(kPoll);
    dialogs_ = std::make_shared<QueuedPinDialogScript>();
    SetPinDialogScript(dialogs_);
}

Bench::~Bench()
{
    C_Finalize(nullptr);
    SetPinDialogScript(nullptr);
    Brelt::MW::Card::ConnectionMgr::SetPollIntervalForTesting(0ms);
    Brelt::MW::Card::InstallCardApplications(nullptr);
    cardsim::ClearFaults();
    cardsim::RemoveAllReaders();
}

CK_SLOT_ID Bench::Insert()
{
    const unsigned loads = watch_->loads;
    cardsim::InsertCard(reader_, card_);
    if (!Eventually([&] { return watch_->loads > loads; })) ADD_FAILURE() << "the monitor never loaded the inserted card";
    Settle();
    return Slot();
}

bool Bench::PutBack()
{
    if (LibraryRuns()) return Insert() != 0;
    cardsim::InsertCard(reader_, card_);
    return true;
}

void Bench::Pull()
{
    cardsim::RemoveCard(reader_);
    if (!Eventually([&] { return Slot() == 0 && cardsim::UseOf(reader_).handles == 0; }))
        ADD_FAILURE() << "the module keeps the pulled card";
}

CK_SLOT_ID Bench::WaitForSlot()
{
    CK_SLOT_ID slot = 0;
    Eventually([&] { return (slot = Slot()) != 0; });
    Settle();
    return slot;
}

CK_SLOT_ID Bench::Slot() const
{
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    return C_GetSlotList(CK_TRUE, slots, &count) == CKR_OK && count != 0 ? slots[0] : 0;
}

bool Bench::Settle()
{
    // A load in progress holds the card's transaction; the slot is
    // registered, or the handle given back, right after it ends.
    return Eventually([&] {
        const cardsim::ReaderUse use = cardsim::UseOf(reader_);
        return !use.transactionHeld && (use.handles == 0 || !LibraryRuns() || Slot() != 0);
    });
}

bool Bench::CardFree() const
{
    if (cardsim::UseOf(reader_).transactionHeld) return false;
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
    bool free = true;
    if (SCardConnect(context, reader_.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &protocol) ==
        SCARD_S_SUCCESS) {
        free = SCardBeginTransaction(card) == SCARD_S_SUCCESS;
        if (free) SCardEndTransaction(card, SCARD_LEAVE_CARD);
        SCardDisconnect(card, SCARD_LEAVE_CARD);
    }
    SCardReleaseContext(context);
    return free;
}

const std::vector<cardsim::TranscriptEntry>& Operation::CloseFaultWindow()
{
    window_ = cardsim::Transcript(bench_.Reader());
    cardsim::ClearFaults();
    return *window_;
}

std::vector<cardsim::TranscriptEntry> Operation::TakeWindow()
{
    auto window = window_ ? std::move(*window_) : cardsim::Transcript(bench_.Reader());
    window_.reset();
    return window;
}

void Sweep(const std::string& name, Operation& operation, const std::vector<Kept>& kept)
{
    Bench& bench = operation.TheBench();
    const std::string& reader = bench.Reader();

    // A first run fills what the module keeps between calls (a channel kept
    // while the card answers under it), so that the fault-free run below goes
    // the way every later run goes.
    operation.Prepare();
    operation.Reset();
    operation.Run();
    operation.TakeWindow();
    operation.Reset();
    cardsim::ClearTranscript(reader);
    const Outcome baseline = operation.Run();
    std::vector<cardsim::TranscriptEntry> window = operation.TakeWindow();
    std::vector<cardsim::TranscriptEntry> answered;
    std::copy_if(window.begin(), window.end(), std::back_inserter(answered), IsCommand);
    // A fault-free run that fails would let every faulted run pass as the
    // same failure; only attribute reads answer codes of their own.
    for (const CallResult& call : baseline) {
        EXPECT_TRUE(call.problem.empty()) << name << ", fault-free: " << call.label << ": " << call.problem;
        if (call.function != "C_GetAttributeValue")
            EXPECT_EQ(call.rv, CKR_OK) << name << ", fault-free: " << call.label << " answers " << RvText(call.rv);
    }
    const auto commands = unsigned(std::count_if(window.begin(), window.end(), IsCommand));
    if (commands == 0) ADD_FAILURE() << name << ": no card command to fail";
    const size_t handles = cardsim::UseOf(reader).handles;
    size_t tried = 0, passed = 0, keptRuns = 0;
    std::map<std::string, size_t> keptCounts;

    for (unsigned at = 1; at <= commands; ++at) {
        for (const FaultKind& kind : FaultKinds()) {
            if (!Hits(kind, answered[at - 1])) continue;
            ++tried;
            std::vector<std::string> broken;
            operation.Reset();
            const std::shared_ptr<cardsim::Card> card = bench.Card();
            const auto before = Sorted(card->StateLines());
            cardsim::ClearTranscript(reader);
            cardsim::InjectFault(reader, kind.make(at));
            const Outcome outcome = operation.Run();
            window = operation.TakeWindow();
            cardsim::ClearFaults();
            cardsim::Bytes faulted;
            unsigned index = 0;
            for (const auto& entry : window)
                if (IsCommand(entry) && ++index == at) faulted = entry.command;
            // The run goes the fault-free run's way up to the fault.
            if (index < at) broken.push_back("the fault never came: the run sent " + std::to_string(index) + " commands");

            std::set<std::string> reasons;
            const Excused excused = [&](const CallResult& call) {
                if (kind.hits != FaultKind::Hits::Any && !call.checked && call.rv == CKR_OK) {
                    reasons.insert(kDataPassedOn);
                    return true;
                }
                for (const Kept& rule : kept) {
                    if (call.label.rfind(rule.label, 0) != 0 || (!rule.output.empty() && call.output != rule.output) ||
                        faulted.size() < rule.command.size() ||
                        !std::equal(rule.command.begin(), rule.command.end(), faulted.begin()))
                        continue;
                    reasons.insert(rule.why);
                    return true;
                }
                return false;
            };
            CheckCalls(baseline, outcome, excused, broken);
            CheckCardState(before, Sorted(card->StateLines()), window, at, kind, broken);
            // A load of the monitor ends its transaction by itself; any other
            // transaction still held was left open.
            const bool settled = bench.Settle();
            const bool pulled = cardsim::IccIn(reader) == nullptr;
            if (!settled || (!pulled && !bench.CardFree())) broken.push_back("card transaction left open");

            // A card whose data the module refused stays without a slot
            // (answering again it would give the same data): put in again,
            // as its user would.
            const bool refused = !pulled && kind.hits != FaultKind::Hits::Any && LibraryRuns() && bench.Slot() == 0;
            if (refused) bench.Pull();
            Outcome again;
            if (pulled || refused) {
                if (!bench.PutBack()) broken.push_back("re-inserted card gets no slot");
                operation.Prepare();
                operation.Reset();
                cardsim::ClearTranscript(reader);
                again = operation.Run();
            } else {
                cardsim::ClearTranscript(reader);
                again = operation.RunAgain();
            }
            operation.TakeWindow();
            CheckSame(baseline, again, excused, broken);
            if (!bench.Settle() || !bench.CardFree()) broken.push_back("afterwards: card transaction left open");
            if (cardsim::UseOf(reader).handles != handles)
                broken.push_back("card handles: " + std::to_string(cardsim::UseOf(reader).handles) + ", before " +
                                 std::to_string(handles));

            if (broken.empty()) {
                ++passed;
                keptRuns += reasons.empty() ? 0 : 1;
                for (const auto& why : reasons) ++keptCounts[why];
            } else {
                std::ostringstream text;
                for (const auto& line : broken) text << "\n    " << line;
                ADD_FAILURE() << name << ": command " << at << " (" << Brief(cardsim::ToHex(faulted)) << "), "
                              << kind.name << text.str();
            }
        }
    }
    std::printf("[ fault sweep ] %s: %u card commands, %zu faults tried, %zu passed (%zu by design)\n", name.c_str(),
                commands, tried, passed, keptRuns);
    ++totals.operations;
    totals.kinds = FaultKinds().size();
    totals.commands += commands;
    totals.tried += tried;
    totals.passed += passed;
    for (const auto& [why, count] : keptCounts) std::printf("[ fault sweep ]   by design, %zu runs: %s\n", count, why.c_str());
    std::fflush(stdout);
}

// --- helpers ---

std::string Hex(const void* data, size_t length)
{
    return Botan::hex_encode(static_cast<const uint8_t*>(data), length);
}

CK_SESSION_HANDLE OpenSession(CK_SLOT_ID slot)
{
    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), CKR_OK);
    return session;
}

CK_RV LogIn(CK_SESSION_HANDLE session, std::string pin)
{
    return C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data()), pin.size());
}

std::vector<CK_OBJECT_HANDLE> FindAll(CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls)
{
    CK_ATTRIBUTE match = {CKA_CLASS, &cls, sizeof cls};
    std::vector<CK_OBJECT_HANDLE> found(64);
    CK_ULONG count = 0;
    if (C_FindObjectsInit(session, &match, 1) != CKR_OK) return {};
    C_FindObjects(session, found.data(), found.size(), &count);
    C_FindObjectsFinal(session);
    found.resize(count);
    return found;
}

std::string TokenText(CK_TOKEN_INFO info)
{
    info.ulMaxSessionCount = info.ulSessionCount = info.ulMaxRwSessionCount = info.ulRwSessionCount = 0;
    return Hex(&info, offsetof(CK_TOKEN_INFO, utcTime) + sizeof info.utcTime);  // no trailing padding
}

const std::vector<CK_ATTRIBUTE_TYPE>& AllAttributeTypes()
{
    static const std::vector<CK_ATTRIBUTE_TYPE> types = {
        CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_APPLICATION, CKA_VALUE, CKA_OBJECT_ID,
        CKA_CERTIFICATE_TYPE, CKA_ISSUER, CKA_SERIAL_NUMBER, CKA_TRUSTED, CKA_CERTIFICATE_CATEGORY,
        CKA_JAVA_MIDP_SECURITY_DOMAIN, CKA_URL, CKA_HASH_OF_SUBJECT_PUBLIC_KEY, CKA_HASH_OF_ISSUER_PUBLIC_KEY,
        CKA_CHECK_VALUE, CKA_KEY_TYPE, CKA_SUBJECT, CKA_ID, CKA_SENSITIVE, CKA_ENCRYPT, CKA_DECRYPT, CKA_WRAP,
        CKA_UNWRAP, CKA_SIGN, CKA_SIGN_RECOVER, CKA_VERIFY, CKA_VERIFY_RECOVER, CKA_DERIVE, CKA_START_DATE,
        CKA_END_DATE, CKA_MODULUS, CKA_MODULUS_BITS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1,
        CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_COEFFICIENT, CKA_EXTRACTABLE, CKA_LOCAL,
        CKA_NEVER_EXTRACTABLE, CKA_ALWAYS_SENSITIVE, CKA_KEY_GEN_MECHANISM, CKA_MODIFIABLE, CKA_SECONDARY_AUTH,
        CKA_ALWAYS_AUTHENTICATE, CKA_WRAP_WITH_TRUSTED, CKA_WRAP_TEMPLATE, CKA_UNWRAP_TEMPLATE,
        CKA_ALLOWED_MECHANISMS, Brelt::MW::Token::CKA_KEY_FILE_ID, Brelt::MW::Token::CKA_NON_REPUDIATION};
    return types;
}

std::string AttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, CK_RV& rv)
{
    static std::vector<uint8_t> value(16384);
    CK_ATTRIBUTE attribute = {type, value.data(), value.size()};
    rv = C_GetAttributeValue(session, object, &attribute, 1);
    return attribute.ulValueLen <= value.size() ? Hex(value.data(), attribute.ulValueLen)
                                                : std::to_string(long(attribute.ulValueLen));
}

std::string TokenFingerprint(CK_SLOT_ID slot)
{
    std::ostringstream text;
    CK_TOKEN_INFO info{};
    text << "token " << RvText(C_GetTokenInfo(slot, &info)) << " " << TokenText(info) << "\n";
    Brelt::MW::Token::ApplicationInfoPtr application;
    if (Brelt::MW::Token::GetApplicationInfo(static_cast<uint32_t>(slot), application) == CKR_OK && application)
        text << "card OS " << application->CardOS << ", profile " << application->Profile << "\n";
    CK_SLOT_INFO slotInfo{};
    text << "slot " << RvText(C_GetSlotInfo(slot, &slotInfo)) << " "
         << Hex(slotInfo.slotDescription, sizeof slotInfo.slotDescription) << " " << slotInfo.flags << "\n";
    CK_SESSION_HANDLE session = 0;
    if (C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK) return text.str() + "no session";
    std::vector<CK_OBJECT_HANDLE> objects(128);
    CK_ULONG count = 0;
    C_FindObjectsInit(session, nullptr, 0);
    C_FindObjects(session, objects.data(), objects.size(), &count);
    C_FindObjectsFinal(session);
    for (CK_ULONG i = 0; i < count; ++i) {
        for (CK_ATTRIBUTE_TYPE type : AllAttributeTypes()) {
            CK_RV rv = CKR_OK;
            const std::string value = AttributeValue(session, objects[i], type, rv);
            text << i << " " << type << " " << RvText(rv) << " " << value << "\n";
        }
    }
    C_CloseSession(session);
    return text.str();
}

}  // namespace faults
