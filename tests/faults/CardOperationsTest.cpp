// Every card command of the module's card operations, failed once with each
// kind of fault, through the exports: card loading, token information,
// login with a PIN and on a PIN pad, PIN change, signing in one and in
// several parts, an object search with every attribute, random numbers.

#include "FaultSweep.h"

#include <botan/pubkey.h>
#include <botan/rsa.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <numeric>

#include "card/Slot.h"
#include "card/StatusCache.h"
#include "tests/sign/ChannelApplication.h"
#include "token/ApplicationInfoList.h"
#include "token/CIOObject.h"

namespace faults {
namespace {

constexpr const char* kReader = "Fault Reader 00";

std::string AttributeName(CK_ATTRIBUTE_TYPE type)
{
    char text[32];
    std::snprintf(text, sizeof text, "CKA 0x%lX", static_cast<unsigned long>(type));
    return text;
}

CallResult Loaded(CK_SLOT_ID slot)
{
    return {"card load", "load", slot != 0 ? CKR_OK : CKR_TOKEN_NOT_RECOGNIZED, slot != 0 ? TokenFingerprint(slot) : ""};
}

// The card put into the reader while the library runs.
class LoadAtInsertion final : public Operation {
public:
    using Operation::Operation;
    void Reset() override
    {
        if (cardsim::IccIn(bench_.Reader())) bench_.Pull();
    }
    Outcome Run() override
    {
        const CK_SLOT_ID slot = bench_.Insert();
        CloseFaultWindow();
        return {Loaded(slot)};
    }
    // The card stayed: the monitor loads it again by itself.
    Outcome RunAgain() override { return {Loaded(bench_.WaitForSlot())}; }
};

// The card in the reader when the library starts.
class LoadAtInitialize final : public Operation {
public:
    using Operation::Operation;
    void Reset() override
    {
        C_Finalize(nullptr);
        if (!cardsim::IccIn(bench_.Reader())) cardsim::InsertCard(bench_.Reader(), bench_.Card());
    }
    Outcome Run() override
    {
        const CK_RV rv = C_Initialize(nullptr);
        bench_.Settle();
        const CK_SLOT_ID slot = bench_.Slot();
        CloseFaultWindow();
        return {{"C_Initialize", "C_Initialize", rv}, Loaded(slot)};
    }
    Outcome RunAgain() override { return {{"C_Initialize", "C_Initialize", CKR_OK}, Loaded(bench_.WaitForSlot())}; }
};

// Operations on a session of the loaded card.
class SessionOperation : public Operation {
public:
    SessionOperation(Bench& bench, bool logIn) : Operation(bench), logIn_(logIn) {}
    void Prepare() override
    {
        slot_ = bench_.Slot();
        session_ = OpenSession(slot_);
        if (!logIn_) return;
        const CK_RV rv = LogIn(session_, bench_.Card()->UserPin());
        EXPECT_TRUE(rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) << rv;
    }

protected:
    // What the module remembers of the card (static data, public-key files)
    // is forgotten before a run, so that every run reads the card as the
    // first one after an insertion does.
    void ForgetCardMemory() const
    {
        const auto slot = Brelt::MW::Card::StatusCache::GetSlotWithoutProbe(slot_);
        if (slot && slot->Memory()) slot->Memory()->ForgetAll();
    }
    CK_SLOT_ID slot_ = 0;
    CK_SESSION_HANDLE session_ = 0;

private:
    const bool logIn_;
};

class TokenInformation final : public SessionOperation {
public:
    explicit TokenInformation(Bench& bench) : SessionOperation(bench, false) {}
    void Reset() override { ForgetCardMemory(); }
    // What a faulted run kept in memory must be right: the run after it
    // reads from memory.
    Outcome RunAgain() override { return Run(); }
    Outcome Run() override
    {
        CK_TOKEN_INFO info{};
        const CK_RV rv = C_GetTokenInfo(slot_, &info);
        return {{"C_GetTokenInfo", "C_GetTokenInfo", rv, rv == CKR_OK ? TokenText(info) : ""}};
    }
};

// C_Login with the card's PIN, or typed on the reader's pad.
class Login final : public SessionOperation {
public:
    Login(Bench& bench, bool onPinPad) : SessionOperation(bench, false), onPinPad_(onPinPad) {}
    void Reset() override { C_Logout(session_); }
    Outcome Run() override
    {
        CallResult call{"C_Login", "C_Login",
                        onPinPad_ ? C_Login(session_, CKU_USER, nullptr, 0) : LogIn(session_, bench_.Card()->UserPin())};
        CK_SESSION_INFO info{};
        const CK_STATE state = C_GetSessionInfo(session_, &info) == CKR_OK ? info.state : CK_STATE(~0ul);
        call.output = std::to_string(state);
        if (call.rv != CKR_OK && (state == CKS_RW_USER_FUNCTIONS || state == CKS_RO_USER_FUNCTIONS))
            call.problem = "session logged in after a failed login";
        if (call.rv == CKR_OK && !bench_.Card()->Pin(0x01)->verified) call.problem = "card PIN not verified";
        return {call};
    }

private:
    const bool onPinPad_;
};

// C_SetPIN from the card's PIN to another one and back.
class SetPin final : public SessionOperation {
public:
    explicit SetPin(Bench& bench) : SessionOperation(bench, false) {}
    void Prepare() override
    {
        SessionOperation::Prepare();
        if (first_.empty()) first_ = bench_.Card()->UserPin();
        second_ = std::string(first_.rbegin(), first_.rend());
    }
    Outcome Run() override
    {
        std::string old = bench_.Card()->UserPin();
        std::string next = old == first_ ? second_ : first_;
        CallResult call{"C_SetPIN", "C_SetPIN",
                        C_SetPIN(session_, reinterpret_cast<CK_UTF8CHAR_PTR>(old.data()), old.size(),
                                 reinterpret_cast<CK_UTF8CHAR_PTR>(next.data()), next.size())};
        if (call.rv == CKR_OK && bench_.Card()->UserPin() != next) call.problem = "the card kept its PIN";
        return {call};
    }

private:
    std::string first_, second_;
};

// C_SignInit with the first private key, then C_Sign, or the data in two
// C_SignUpdate parts and C_SignFinal. A signature answered CKR_OK must have
// the modulus length and verify under the card's own key.
class Sign final : public SessionOperation {
public:
    Sign(Bench& bench, bool inParts) : SessionOperation(bench, true), inParts_(inParts) {}
    void Prepare() override
    {
        SessionOperation::Prepare();
        const auto keys = FindAll(session_, CKO_PRIVATE_KEY);
        key_ = keys.empty() ? 0 : keys.front();
    }
    Outcome Run() override
    {
        Outcome calls;
        const auto call = [&](const char* label, const char* function, CK_RV rv) {
            calls.push_back({label, function, rv});
            return rv == CKR_OK;
        };
        CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
        std::vector<uint8_t> data = channeltest::DigestInfo(), signature(512);
        CK_ULONG length = signature.size();
        if (!call("C_SignInit", "C_SignInit", C_SignInit(session_, &mechanism, key_))) return calls;
        if (!inParts_)
            call("C_Sign", "C_Sign", C_Sign(session_, data.data(), data.size(), signature.data(), &length));
        else if (call("C_SignUpdate 1", "C_SignUpdate", C_SignUpdate(session_, data.data(), 20)) &&
                 call("C_SignUpdate 2", "C_SignUpdate", C_SignUpdate(session_, data.data() + 20, data.size() - 20)))
            call("C_SignFinal", "C_SignFinal", C_SignFinal(session_, signature.data(), &length));
        CallResult& last = calls.back();
        last.checked = true;
        if (last.rv == CKR_OK) {
            last.output = Hex(signature.data(), length);
            last.problem = Wrong(data, std::vector<uint8_t>(signature.begin(), signature.begin() + long(length)));
        }
        return calls;
    }

private:
    // Why the signature is not the card's key's signature of the data.
    std::string Wrong(const std::vector<uint8_t>& data, const std::vector<uint8_t>& signature) const
    {
        const Botan::RSA_PrivateKey* key = bench_.Card()->Key({0x50, 0x15}, 0x01);
        if (key == nullptr) return "no key 01 on the card";
        const size_t modulusLength = (key->get_n().bits() + 7) / 8;
        if (signature.size() != modulusLength)
            return std::to_string(signature.size()) + "-byte signature for a " + std::to_string(modulusLength) +
                   "-byte modulus";
        const Botan::RSA_PublicKey publicKey(key->get_n(), key->get_e());
        if (!Botan::PK_Verifier(publicKey, "EMSA3(Raw)").verify_message(data, signature))
            return "signature does not verify under the card's key";
        return {};
    }
    const bool inParts_;
    CK_OBJECT_HANDLE key_ = 0;
};

// A search for every object, then every attribute of each one; the
// certificates are read from the card every time.
// A private key's modulus comes from its certificate, so the object read
// first is the one that meets a faulted certificate read: the walk goes in
// search order, or with the certificates first.
class SearchAndRead final : public SessionOperation {
public:
    SearchAndRead(Bench& bench, bool certificatesFirst)
        : SessionOperation(bench, true), certificatesFirst_(certificatesFirst) {}
    // The module keeps a certificate once read: forgotten before each run,
    // but what a faulted run kept must be right afterwards.
    void Reset() override
    {
        ForgetCardMemory();
        Brelt::MW::Token::ApplicationInfoPtr application;
        if (Brelt::MW::Token::GetApplicationInfo(static_cast<uint32_t>(slot_), application) != CKR_OK || !application)
            return;
        std::lock_guard lock(Brelt::MW::Token::ApplicationListMutex());
        if (auto* certificates = application->FindObjectList(Brelt::MW::Token::kKindCertificate))
            for (const auto& object : certificates->objects) object->AsCertificateAttributes()->certificate.reset();
    }
    Outcome RunAgain() override { return Run(); }
    void Prepare() override
    {
        SessionOperation::Prepare();
        classes_.clear();
        for (const auto& [cls, name] : {std::pair{CKO_DATA, "data object"}, {CKO_CERTIFICATE, "certificate"},
                                        {CKO_PUBLIC_KEY, "public key"}, {CKO_PRIVATE_KEY, "private key"}})
            for (const CK_OBJECT_HANDLE object : FindAll(session_, cls)) classes_[object] = name;
    }
    Outcome Run() override
    {
        Outcome calls;
        calls.push_back({"C_FindObjectsInit", "C_FindObjectsInit", C_FindObjectsInit(session_, nullptr, 0)});
        if (calls.back().rv != CKR_OK) return calls;
        std::vector<CK_OBJECT_HANDLE> objects(128);
        CK_ULONG count = 0;
        calls.push_back({"C_FindObjects", "C_FindObjects", C_FindObjects(session_, objects.data(), objects.size(), &count)});
        objects.resize(calls.back().rv == CKR_OK ? count : 0);
        calls.back().output = Hex(objects.data(), objects.size() * sizeof(CK_OBJECT_HANDLE));
        calls.push_back({"C_FindObjectsFinal", "C_FindObjectsFinal", C_FindObjectsFinal(session_)});
        std::vector<size_t> order(objects.size());
        std::iota(order.begin(), order.end(), size_t{0});
        if (certificatesFirst_)
            std::stable_partition(order.begin(), order.end(), [&](size_t i) {
                const auto it = classes_.find(objects[i]);
                return it != classes_.end() && it->second == "certificate";
            });
        for (const size_t i : order) {
            const auto it = classes_.find(objects[i]);
            const std::string of = " of " + (it != classes_.end() ? it->second : "object") + " #" + std::to_string(i);
            for (const CK_ATTRIBUTE_TYPE type : AllAttributeTypes()) {
                CallResult call{"C_GetAttributeValue " + AttributeName(type) + of, "C_GetAttributeValue", CKR_OK};
                call.output = AttributeValue(session_, objects[i], type, call.rv);
                calls.push_back(std::move(call));
            }
        }
        return calls;
    }

private:
    const bool certificatesFirst_;
    std::map<CK_OBJECT_HANDLE, std::string> classes_;
};

// C_GenerateRandom: the bytes must be the ones the card gave.
class Random final : public SessionOperation {
public:
    explicit Random(Bench& bench) : SessionOperation(bench, false) {}
    Outcome Run() override
    {
        std::vector<uint8_t> random(32), given;
        CallResult call{"C_GenerateRandom", "C_GenerateRandom", C_GenerateRandom(session_, random.data(), random.size())};
        for (const auto& entry : CloseFaultWindow()) {
            const auto& answer = entry.response;
            if (entry.command.size() < 2 || entry.command[1] != 0x84 || entry.result != SCARD_S_SUCCESS ||
                answer.size() < 2 || answer[answer.size() - 2] != 0x90 || answer.back() != 0x00)
                continue;
            const size_t length = std::min(answer.size() - 2, cardsim::ExpectedLength(entry.command));
            given.insert(given.end(), answer.begin(), answer.begin() + long(length));
        }
        given.resize(random.size());
        call.checked = true;
        if (call.rv == CKR_OK && random != given) call.output = "not the card's bytes: " + Hex(random);
        return {call};
    }
};

// A card whose OS version cannot be read is loaded with CardOS 5.0 settings.
const std::vector<Kept> kLoadKept = {
    {"card load", {0x00, 0xCA, 0x01, 0x82}, "", "card OS version unread: loaded with CardOS 5.0 settings"}};

class CardFaults : public ::testing::TestWithParam<const char*> {};

TEST_P(CardFaults, LoadingAtInsertion)
{
    Bench bench(kReader);
    bench.UseCard(cardsim::MakePersonalisation(GetParam()));
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    LoadAtInsertion operation(bench);
    Sweep(std::string("loading ") + GetParam() + " at insertion", operation, kLoadKept);
}

TEST_P(CardFaults, LoadingAtInitialize)
{
    Bench bench(kReader);
    bench.UseCard(cardsim::MakePersonalisation(GetParam()));
    cardsim::InsertCard(kReader, bench.Card());
    LoadAtInitialize operation(bench);
    Sweep(std::string("loading ") + GetParam() + " at C_Initialize", operation, kLoadKept);
}

INSTANTIATE_TEST_SUITE_P(Admitted, CardFaults, ::testing::Values("DEF50", "DEF44", "DEF43B", "SIGG50"));

// Sweeps the operation on the card loaded in the reader (a plain one, or a
// PIN-pad reader).
template <typename TheOperation, typename... Arguments>
void SweepOnLoadedCard(const std::string& name, const char* personalisation, cardsim::PinPad pinPad,
                       const std::vector<Kept>& kept, Arguments... arguments)
{
    Bench bench(pinPad == cardsim::PinPad::None ? kReader : "PIN pad Fault Reader 01", pinPad);
    bench.UseCard(cardsim::MakePersonalisation(personalisation));
    cardsim::InsertCard(bench.Reader(), bench.Card());
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    ASSERT_NE(bench.WaitForSlot(), 0u);
    TheOperation operation(bench, arguments...);
    Sweep(name, operation, kept);
}

// Values that come from a card file the card did not give are answered as
// attributes the object does not have.
std::vector<Kept> UnreadValues()
{
    std::vector<Kept> kept;
    const auto add = [&](const char* object, CK_ATTRIBUTE_TYPE type, const char* file) {
        kept.push_back({"C_GetAttributeValue " + AttributeName(type) + " of " + object, {}, "-1",
                        std::string(file) + " unread: " + object + " values answered as absent"});
    };
    for (const CK_ATTRIBUTE_TYPE type : {CKA_MODULUS, CKA_PUBLIC_EXPONENT}) {
        add("public key", type, "public key file");
        add("private key", type, "certificate");
    }
    for (const CK_ATTRIBUTE_TYPE type : {CKA_VALUE, CKA_ISSUER, CKA_SUBJECT, CKA_SERIAL_NUMBER, CKA_START_DATE,
                                         CKA_END_DATE})
        add("certificate", type, "certificate");
    return kept;
}

// The operations whose commands differ between CardOS 5.0 and 4.x.
class CardOsFaults : public ::testing::TestWithParam<const char*> {};

TEST_P(CardOsFaults, TokenInformation)
{
    SweepOnLoadedCard<TokenInformation>(
        std::string("C_GetTokenInfo on ") + GetParam(), GetParam(), cardsim::PinPad::None,
        {{"C_GetTokenInfo", {0x00, 0xCA, 0x01, 0x82}, "", "card OS version unread: model and firmware left blank"},
         {"C_GetTokenInfo", {0x00, 0xCA, 0x01, 0x80}, "", "model text unread: model left blank"},
         {"C_GetTokenInfo", {0x00, 0xCA, 0x01, 0x81}, "", "serial number unread: serial FFFFFFFFFFFFFFFF"}});
}

TEST_P(CardOsFaults, Sign)
{
    SweepOnLoadedCard<Sign>(std::string("C_SignInit + C_Sign on ") + GetParam(), GetParam(), cardsim::PinPad::None,
                            {}, false);
    SweepOnLoadedCard<Sign>(std::string("C_SignInit + C_SignUpdate + C_SignFinal on ") + GetParam(), GetParam(),
                            cardsim::PinPad::None, {}, true);
}

TEST_P(CardOsFaults, SearchAndEveryAttribute)
{
    SweepOnLoadedCard<SearchAndRead>(std::string("search and every attribute on ") + GetParam(), GetParam(),
                                     cardsim::PinPad::None, UnreadValues(), false);
    SweepOnLoadedCard<SearchAndRead>(std::string("search and every attribute, certificates first, on ") + GetParam(),
                                     GetParam(), cardsim::PinPad::None, UnreadValues(), true);
}

INSTANTIATE_TEST_SUITE_P(Cards, CardOsFaults, ::testing::Values("DEF50", "DEF44"));

TEST(SessionFaults, LoginWithPin)
{
    SweepOnLoadedCard<Login>("C_Login with a PIN", "DEF50", cardsim::PinPad::None, {}, false);
}

TEST(SessionFaults, LoginOnPinPad)
{
    SweepOnLoadedCard<Login>("C_Login on a PIN pad", "DEF50", cardsim::PinPad::Direct, {}, true);
}

TEST(SessionFaults, SetPin) { SweepOnLoadedCard<SetPin>("C_SetPIN", "DEF50", cardsim::PinPad::None, {}); }

TEST(SessionFaults, GenerateRandom) { SweepOnLoadedCard<Random>("C_GenerateRandom", "DEF50", cardsim::PinPad::None, {}); }

}  // namespace
}  // namespace faults
