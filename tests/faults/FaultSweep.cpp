#include "FaultSweep.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "Dialogs/ui/PinDialogScript.h"
#include <cardsim/Personalisations.h>

#include "card/ConnectionMgr.h"
#include "token/ApplicationInfoList.h"
#include "token/AttributeGetters.h"

namespace faults {

using namespace std::chrono_literals;
using Brelt::MW::Card::CardApplications;

// --- fault kinds ---

const std::vector<FaultKind>& FaultKinds()
{
    static const std::vector<FaultKind> kinds = {
        {"transmit error SCARD_F_COMM_ERROR",
         [](unsigned n) { return cardsim::Fault::TransmitError(SCARD_F_COMM_ERROR, n); }, false},
        {"transmit error SCARD_W_RESET_CARD",
         [](unsigned n) { return cardsim::Fault::TransmitError(SCARD_W_RESET_CARD, n); }, false},
        {"transmit error SCARD_W_REMOVED_CARD",
         [](unsigned n) { return cardsim::Fault::TransmitError(SCARD_W_REMOVED_CARD, n); }, false},
        {"card pulled before the command", [](unsigned n) { return cardsim::Fault::RemoveCardBefore(n); }, false},
        {"one-byte answer", [](unsigned n) { return cardsim::Fault::OneByteAnswer(n); }, false},
        {"status word 6F 00", [](unsigned n) { return cardsim::Fault::StatusWordFor({}, 0x6F, 0x00, n); }, true},
        {"more data than asked for", [](unsigned n) { return cardsim::Fault::OversizedAnswer(n); }, true},
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
    static const std::map<std::string, std::set<CK_RV>> codes = {
        {"C_Initialize", {CKR_FUNCTION_FAILED, CKR_GENERAL_ERROR, CKR_HOST_MEMORY}},
        {"load", {CKR_TOKEN_NOT_RECOGNIZED}},
        {"C_GetTokenInfo", with({CKR_SLOT_ID_INVALID, CKR_TOKEN_NOT_PRESENT, CKR_TOKEN_NOT_RECOGNIZED})},
        {"C_Login", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID})},
        {"C_SetPIN", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID})},
        {"C_SignInit", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID, CKR_FUNCTION_CANCELED})},
        {"C_Sign", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID, CKR_FUNCTION_CANCELED})},
        {"C_SignUpdate", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID, CKR_FUNCTION_CANCELED})},
        {"C_SignFinal", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID, CKR_FUNCTION_CANCELED})},
        {"C_FindObjectsInit", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID})},
        {"C_FindObjects", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID})},
        {"C_FindObjectsFinal", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID})},
        {"C_GetAttributeValue", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID, CKR_OBJECT_HANDLE_INVALID})},
        {"C_GenerateRandom", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID})},
        {"C_Decrypt", with({CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID})},
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

std::string Brief(const std::string& text)
{
    return text.size() <= 48 ? text : text.substr(0, 48) + "...";
}

// Where two results part: "...<run> instead of ...<expected>".
std::string Difference(const std::string& run, const std::string& expected)
{
    const size_t at = size_t(std::mismatch(run.begin(), run.begin() + long(std::min(run.size(), expected.size())),
                                           expected.begin()).first - run.begin());
    const size_t from = at > 8 ? at - 8 : 0;
    return "at " + std::to_string(at) + ": ..." + Brief(run.substr(from)) + " instead of ..." +
           Brief(expected.substr(from));
}

// Which deviations are kept by design for the faulted command.
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
        const bool same = it != expected.end() && call.rv == it->second->rv && call.output == it->second->output;
        if (same) continue;
        if (call.rv != CKR_OK && FailureCodes(call.function).count(call.rv) != 0) {
            failed = true;
            continue;
        }
        if (excused(call)) continue;
        if (call.rv != CKR_OK) {
            broken.push_back(call.label + ": " + RvText(call.rv) + " is not a failure code of " + call.function);
        } else {
            broken.push_back(call.label + ": CKR_OK with " +
                             (it == expected.end() ? "no fault-free counterpart"
                                                   : "a wrong result " + Difference(call.output, it->second->output)));
        }
    }
    if (!failed && run.size() < baseline.size() && broken.empty())
        broken.push_back("the run ended early without a failure");
}

// The run after a faulted one must give exactly what the fault-free run gave.
void CheckSame(const Outcome& baseline, const Outcome& run, const Excused& excused, std::vector<std::string>& broken)
{
    for (size_t i = 0; i < std::max(baseline.size(), run.size()); ++i) {
        if (i >= run.size()) {
            broken.push_back("afterwards: " + baseline[i].label + " not reached");
            return;
        }
        const CallResult& call = run[i];
        if (!call.problem.empty()) broken.push_back("afterwards: " + call.label + ": " + call.problem);
        if (i >= baseline.size() || call.label != baseline[i].label) {
            broken.push_back("afterwards: unexpected " + call.label);
            return;
        }
        const bool same = call.rv == baseline[i].rv && call.output == baseline[i].output;
        if (same || excused(call)) continue;
        if (call.rv != baseline[i].rv) {
            broken.push_back("afterwards: " + call.label + " answers " + RvText(call.rv));
            return;
        }
        if (call.output != baseline[i].output) {
            broken.push_back("afterwards: " + call.label + " gives " + Difference(call.output, baseline[i].output));
            return;
        }
    }
}

bool IsCommand(const cardsim::TranscriptEntry& entry)
{
    return !entry.command.empty();
}

uint8_t Ins(const cardsim::Bytes& command) { return command.size() > 1 ? command[1] : 0; }

// Whether the card carried out command `index` (1-based) of the run.
bool Reached(const cardsim::TranscriptEntry& entry, size_t index, unsigned faulted, const FaultKind& kind)
{
    if (entry.result != SCARD_S_SUCCESS) return false;
    return index != faulted || kind.reachesCard;
}

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

void CheckCardState(const std::vector<std::string>& before, const std::vector<std::string>& after,
                    const std::vector<cardsim::TranscriptEntry>& window, unsigned faulted, const FaultKind& kind,
                    std::vector<std::string>& broken)
{
    bool wrote = false, spent = false;
    size_t index = 0;
    for (const auto& entry : window) {
        if (!IsCommand(entry)) continue;
        ++index;
        if (!Reached(entry, index, faulted, kind)) continue;
        wrote = wrote || Writes(entry.command);
        spent = spent || SpendsPinTries(entry.command);
    }
    std::vector<std::string> gone, added;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    for (const auto& line : gone) {
        const bool pin = line.rfind("PIN ", 0) == 0;
        if (pin ? !spent : !wrote)
            broken.push_back("card changed without a command that may change it: " + Brief(line));
    }
    if (gone.empty() && !added.empty() && !wrote)
        broken.push_back("card gained data without a writing command: " + Brief(added.front()));
}

std::vector<std::string> Sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace

// --- the bench ---

// Forwards to the token layer's card applications and tells the test when a
// card load has ended.
class Bench::LoadWatch final : public CardApplications {
public:
    explicit LoadWatch(std::shared_ptr<CardApplications> inner) : inner_(std::move(inner)) {}

    CK_RV LoadReaderApplications(const std::string& readerName, Brelt::MW::Card::Slot& cardSlot,
                                 std::vector<Brelt::MW::Card::SlotPtr>& newSlots, bool& ownApplication) override
    {
        struct Done {
            LoadWatch& watch;
            ~Done()
            {
                std::lock_guard lock(watch.mutex_);
                ++watch.loads_;
                watch.changed_.notify_all();
            }
        } done{*this};
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

    unsigned Loads()
    {
        std::lock_guard lock(mutex_);
        return loads_;
    }
    bool WaitBeyond(unsigned loads, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return loads_ > loads; });
    }

private:
    std::shared_ptr<CardApplications> inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    unsigned loads_ = 0;
};

namespace {

constexpr auto kPoll = 20ms;
// Generous: a sanitizer build on a busy machine is slow, and only a defect
// makes a wait run out.
constexpr auto kPatience = 5s;

template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = kPatience)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

}  // namespace

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

void Bench::UseCard(const std::string& personalisation)
{
    card_ = cardsim::MakePersonalisation(personalisation);
}

CK_RV Bench::Initialize()
{
    const CK_RV rv = C_Initialize(nullptr);
    initialized_ = initialized_ || rv == CKR_OK;
    return rv;
}

void Bench::Finalize()
{
    C_Finalize(nullptr);
    initialized_ = false;
}

CK_SLOT_ID Bench::Insert()
{
    const unsigned loads = watch_->Loads();
    cardsim::InsertCard(reader_, card_);
    if (!watch_->WaitBeyond(loads, kPatience)) ADD_FAILURE() << "the monitor never loaded the inserted card";
    Settle();
    return Slot();
}

bool Bench::PutBack()
{
    if (initialized_) return Insert() != 0;
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
    if (C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK || count == 0) return 0;
    return slots[0];
}

bool Bench::Settle()
{
    // A load in progress holds the card's transaction; the slot is
    // registered, or the handle given back, right after it ends.
    return Eventually([&] {
        const cardsim::ReaderUse use = cardsim::UseOf(reader_);
        return !use.transactionHeld && (use.handles == 0 || !initialized_ || Slot() != 0);
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

// --- operations ---

const std::vector<cardsim::TranscriptEntry>& Operation::CloseFaultWindow()
{
    window_ = cardsim::Transcript(bench_.Reader());
    cardsim::ClearFaults();
    return *window_;
}

std::vector<cardsim::TranscriptEntry> Operation::TakeWindow()
{
    std::vector<cardsim::TranscriptEntry> window =
        window_ ? std::move(*window_) : cardsim::Transcript(bench_.Reader());
    window_.reset();
    return window;
}

// --- the sweep ---

Totals Sweep(const std::string& name, Operation& operation, const std::vector<Kept>& kept)
{
    Bench& bench = operation.TheBench();
    Totals totals;
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
    for (const CallResult& call : baseline) {
        EXPECT_TRUE(call.problem.empty()) << name << ", fault-free: " << call.label << ": " << call.problem;
    }
    totals.commands = size_t(std::count_if(window.begin(), window.end(), IsCommand));
    if (totals.commands == 0) ADD_FAILURE() << name << ": no card command to fail";
    const size_t handles = cardsim::UseOf(reader).handles;
    std::map<std::string, size_t> keptCounts;

    for (unsigned at = 1; at <= totals.commands; ++at) {
        for (const FaultKind& kind : FaultKinds()) {
            ++totals.tried;
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
            size_t index = 0;
            for (const auto& entry : window)
                if (IsCommand(entry) && ++index == at) faulted = entry.command;
            // The run goes the fault-free run's way up to the fault.
            if (index < at) broken.push_back("the fault never came: the run sent " + std::to_string(index) + " commands");

            std::set<std::string> reasons;
            const Excused excused = [&](const CallResult& call) {
                for (const Kept& rule : kept) {
                    if (call.label.rfind(rule.label, 0) != 0) continue;
                    if (!rule.output.empty() && call.output != rule.output) continue;
                    if (faulted.size() < rule.command.size() ||
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

            Outcome again;
            if (pulled) {
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
                ++totals.passed;
                if (!reasons.empty()) ++totals.kept;
                for (const auto& why : reasons) ++keptCounts[why];
            } else {
                std::ostringstream text;
                for (const auto& line : broken) text << "\n    " << line;
                ADD_FAILURE() << name << ": command " << at << " (" << Brief(cardsim::ToHex(faulted)) << "), "
                              << kind.name << text.str();
            }
        }
    }
    std::printf("[ fault sweep ] %s: %zu card commands, %zu faults tried, %zu passed (%zu by design)\n",
                name.c_str(), totals.commands, totals.tried, totals.passed, totals.kept);
    for (const auto& [why, count] : keptCounts) std::printf("[ fault sweep ]   by design, %zu runs: %s\n", count, why.c_str());
    std::fflush(stdout);
    return totals;
}

// --- helpers ---

std::string Hex(const void* data, size_t length)
{
    std::string text;
    char digits[3];
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        text += digits;
    }
    return text;
}

std::string Hex(const std::vector<uint8_t>& bytes) { return Hex(bytes.data(), bytes.size()); }

CK_SESSION_HANDLE OpenSession(CK_SLOT_ID slot, CK_FLAGS flags)
{
    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(C_OpenSession(slot, flags, nullptr, nullptr, &session), CKR_OK);
    return session;
}

CK_RV LogIn(CK_SESSION_HANDLE session, const std::string& pin)
{
    std::string copy = pin;
    return C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(copy.data()), copy.size());
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

std::string TokenText(const CK_TOKEN_INFO& info)
{
    std::ostringstream text;
    text << Hex(info.label, sizeof info.label) << "|" << Hex(info.manufacturerID, sizeof info.manufacturerID) << "|"
         << Hex(info.model, sizeof info.model) << "|" << Hex(info.serialNumber, sizeof info.serialNumber) << "|"
         << std::hex << info.flags << "|" << info.ulMaxPinLen << "|" << info.ulMinPinLen << "|"
         << info.ulTotalPublicMemory << "|" << info.ulFreePublicMemory << "|" << info.ulTotalPrivateMemory << "|"
         << info.ulFreePrivateMemory << "|" << int(info.hardwareVersion.major) << "."
         << int(info.hardwareVersion.minor) << "|" << int(info.firmwareVersion.major) << "."
         << int(info.firmwareVersion.minor) << "|" << Hex(info.utcTime, sizeof info.utcTime);
    return text.str();
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
    objects.resize(count);
    std::vector<uint8_t> value(16384);
    for (size_t i = 0; i < objects.size(); ++i) {
        for (CK_ATTRIBUTE_TYPE type : AllAttributeTypes()) {
            CK_ATTRIBUTE attribute = {type, value.data(), value.size()};
            const CK_RV rv = C_GetAttributeValue(session, objects[i], &attribute, 1);
            text << i << " " << type << " " << RvText(rv) << " "
                 << (attribute.ulValueLen <= value.size() ? Hex(value.data(), attribute.ulValueLen) : "-") << "\n";
        }
    }
    C_CloseSession(session);
    return text.str();
}

}  // namespace faults
