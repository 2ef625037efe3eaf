// Sessions when their card goes (removed, replaced, reader unplugged), and
// the card transaction when calls race each other or finalisation.

#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "SignFixture.h"
#include "pkcs11/CardMutex.h"
#include "pkcs11/LibraryLifecycle.h"

namespace signtest {
namespace {

using namespace std::chrono_literals;

// Waits (generously, for slow sanitizer runs) until `condition` holds.
bool Eventually(const std::function<bool()>& condition)
{
    for (int i = 0; i < 600; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

struct SessionCall {
    const char* name;
    std::function<CK_RV(CK_SESSION_HANDLE)> call;
};

// Every session call with arguments that pass the argument checks.
std::vector<SessionCall> EverySessionCall(CK_OBJECT_HANDLE key)
{
    static CK_BYTE data[64] = {1};
    static CK_BYTE out[512];
    static CK_ULONG outLength;
    static CK_OBJECT_HANDLE found[4];
    static CK_ULONG foundCount;
    static CK_OBJECT_CLASS keyClass = CKO_PUBLIC_KEY;
    static CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &keyClass, sizeof keyClass}};
    static CK_MECHANISM rsa = kRsaPkcs;
    static CK_MECHANISM sha = {CKM_SHA256, nullptr, 0};
    static CK_UTF8CHAR pin[] = "123456";
    const auto len = [] { return outLength = sizeof out, &outLength; };
    return {
        {"C_GetSessionInfo", [](CK_SESSION_HANDLE s) { CK_SESSION_INFO i; return C_GetSessionInfo(s, &i); }},
        {"C_Login", [](CK_SESSION_HANDLE s) { return C_Login(s, CKU_USER, pin, 6); }},
        {"C_Logout", [](CK_SESSION_HANDLE s) { return C_Logout(s); }},
        {"C_SetPIN", [](CK_SESSION_HANDLE s) { return C_SetPIN(s, pin, 6, pin, 6); }},
        {"C_CreateObject", [](CK_SESSION_HANDLE s) { return C_CreateObject(s, attributes, 1, found); }},
        {"C_DestroyObject", [key](CK_SESSION_HANDLE s) { return C_DestroyObject(s, key); }},
        {"C_GetAttributeValue", [key](CK_SESSION_HANDLE s) { return C_GetAttributeValue(s, key, attributes, 1); }},
        {"C_SetAttributeValue", [key](CK_SESSION_HANDLE s) { return C_SetAttributeValue(s, key, attributes, 1); }},
        {"C_FindObjectsInit", [](CK_SESSION_HANDLE s) { return C_FindObjectsInit(s, attributes, 1); }},
        {"C_FindObjects", [](CK_SESSION_HANDLE s) { return C_FindObjects(s, found, 4, &foundCount); }},
        {"C_FindObjectsFinal", [](CK_SESSION_HANDLE s) { return C_FindObjectsFinal(s); }},
        {"C_SignInit", [key](CK_SESSION_HANDLE s) { return C_SignInit(s, &rsa, key); }},
        {"C_Sign", [len](CK_SESSION_HANDLE s) { return C_Sign(s, data, 51, out, len()); }},
        {"C_SignUpdate", [](CK_SESSION_HANDLE s) { return C_SignUpdate(s, data, 8); }},
        {"C_SignFinal", [len](CK_SESSION_HANDLE s) { return C_SignFinal(s, out, len()); }},
        {"C_VerifyInit", [key](CK_SESSION_HANDLE s) { return C_VerifyInit(s, &rsa, key); }},
        {"C_Verify", [](CK_SESSION_HANDLE s) { return C_Verify(s, data, 51, out, 256); }},
        {"C_VerifyUpdate", [](CK_SESSION_HANDLE s) { return C_VerifyUpdate(s, data, 8); }},
        {"C_VerifyFinal", [](CK_SESSION_HANDLE s) { return C_VerifyFinal(s, out, 256); }},
        {"C_DecryptInit", [key](CK_SESSION_HANDLE s) { return C_DecryptInit(s, &rsa, key); }},
        {"C_Decrypt", [len](CK_SESSION_HANDLE s) { return C_Decrypt(s, data, 64, out, len()); }},
        {"C_DigestInit", [](CK_SESSION_HANDLE s) { return C_DigestInit(s, &sha); }},
        {"C_Digest", [len](CK_SESSION_HANDLE s) { return C_Digest(s, data, 8, out, len()); }},
        {"C_DigestUpdate", [](CK_SESSION_HANDLE s) { return C_DigestUpdate(s, data, 8); }},
        {"C_DigestFinal", [len](CK_SESSION_HANDLE s) { return C_DigestFinal(s, out, len()); }},
        {"C_GenerateRandom", [](CK_SESSION_HANDLE s) { return C_GenerateRandom(s, out, 16); }},
    };
}

// The signature command (PSO) answers late.
cardsim::Fault SlowSignature()
{
    cardsim::Fault fault = cardsim::Fault::DelayBy(1500ms);
    fault.commandPrefix = {0x00, 0x2A};
    return fault;
}

// Every case takes a cross-process mutex of its own: other test programs of
// the same user take the real one while they work.
class CardGoneTest : public SignTest {
protected:
    void SetUp() override
    {
        SignTest::SetUp();
        ASSERT_NE(mkdtemp(folder_), nullptr);
        Brelt::MW::Pkcs11::CardMutex::SetFolderForTesting(folder_);
    }
    void TearDown() override
    {
        SignTest::TearDown();
        Brelt::MW::Pkcs11::CardMutex::SetFolderForTesting({});
        std::filesystem::remove_all(folder_);
    }
    char folder_[32] = "/tmp/card-gone-XXXXXX";
    bool SlotGone()
    {
        return Eventually([this] { return !Brelt::MW::Card::StatusCache::GetSlotWithoutProbe(slot_); });
    }
};

// A token that has gone takes its sessions with it: every session call
// answers CKR_SESSION_HANDLE_INVALID, the session information included, and
// the application may still close the session.
TEST_F(CardGoneTest, SessionsOfAGoneTokenAreClosedForEveryCall)
{
    const std::pair<const char*, std::function<void()>> departures[] = {
        {"card removed", [] { cardsim::RemoveCard(kReader); }},
        {"card replaced", [] { cardsim::InsertCard(kReader, "DEF50"); }},
        {"reader unplugged", [] { cardsim::RemoveReader(kReader); }},
    };
    for (const auto& [how, depart] : departures) {
        TearDown();
        const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
        const CK_SESSION_HANDLE other = Open(CKF_SERIAL_SESSION | CKF_RW_SESSION);
        const auto keys = PrivateKeys();
        ASSERT_FALSE(keys.empty());
        ASSERT_EQ(SignInit(session, keys[0]), CKR_OK);  // an operation holding the card
        CK_SESSION_INFO info{};
        ASSERT_EQ(C_GetSessionInfo(other, &info), CKR_OK);
        ASSERT_EQ(info.state, static_cast<CK_STATE>(CKS_RW_USER_FUNCTIONS));

        depart();
        ASSERT_TRUE(SlotGone()) << how;
        for (const auto& [name, call] : EverySessionCall(keys[0])) {
            EXPECT_EQ(call(session), CKR_SESSION_HANDLE_INVALID) << how << ": " << name;
            EXPECT_EQ(call(other), CKR_SESSION_HANDLE_INVALID) << how << ": " << name;
        }
        EXPECT_EQ(C_CloseSession(session), CKR_OK) << how;
        EXPECT_EQ(C_CloseSession(session), CKR_SESSION_HANDLE_INVALID) << how;
        EXPECT_EQ(C_CloseSession(other), CKR_OK) << how;
    }
}

// A call already running when the card goes fails; it never answers
// CKR_OK nor a slot code that session calls do not have.
TEST_F(CardGoneTest, CallsRunningWhenTheCardGoesFail)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    const auto keys = PrivateKeys();
    ASSERT_FALSE(keys.empty());
    ASSERT_EQ(SignInit(session, keys[0]), CKR_OK);
    // The signature command is slow; the card leaves while it is on its way.
    cardsim::InjectFault(kReader, SlowSignature());
    auto signing = std::async(std::launch::async, [session] {
        const auto data = DigestInfo();
        CK_BYTE signature[256];
        CK_ULONG length = sizeof signature;
        return C_Sign(session, const_cast<CK_BYTE*>(data.data()), data.size(), signature, &length);
    });
    std::this_thread::sleep_for(300ms);
    cardsim::RemoveCard(kReader);
    const CK_RV signed_ = signing.get();
    EXPECT_NE(signed_, CKR_OK);
    EXPECT_NE(signed_, CKR_SLOT_ID_INVALID);
    ASSERT_TRUE(SlotGone());
    EXPECT_EQ(C_CloseSession(session), CKR_OK);
}

// An Init call that waits for the cross-process mutex while another thread
// closes its session: the transaction it then begins must still end.
TEST_F(CardGoneTest, InitRacingACloseLeavesNoTransaction)
{
    Load("DEF44");
    const auto keys = (LogIn(Open()), PrivateKeys());
    ASSERT_GE(keys.size(), 2u);
    const std::pair<const char*, std::function<CK_RV(CK_SESSION_HANDLE)>> inits[] = {
        {"C_SignInit", [&](CK_SESSION_HANDLE s) { return SignInit(s, keys[0]); }},
        {"C_DecryptInit",
         [&](CK_SESSION_HANDLE s) {
             CK_MECHANISM mechanism = kRsaPkcs;
             return C_DecryptInit(s, &mechanism, keys[1]);
         }},
        {"C_FindObjectsInit", [](CK_SESSION_HANDLE s) { return C_FindObjectsInit(s, nullptr, 0); }},
    };
    const auto ownMutex = Brelt::MW::Pkcs11::CardMutex::Open(Brelt::MW::Pkcs11::CardMutex::Path());
    ASSERT_TRUE(ownMutex);
    for (const auto& [name, init] : inits) {
        const CK_SESSION_HANDLE session = Open();
        // Another process of the user holds the mutex: the Init waits for it.
        ASSERT_TRUE(ownMutex->TryTake());
        Brelt::MW::Pkcs11::LibraryCardMutex()->EndTurn();
        auto running = std::async(std::launch::async, [&, session] { return init(session); });
        std::this_thread::sleep_for(1s);
        EXPECT_EQ(C_CloseSession(session), CKR_OK) << name;
        ownMutex->Give();
        running.get();
        EXPECT_FALSE(TransactionOpen()) << name;
    }
}

// Closing the session from another thread while its signature runs does
// not end the card transaction under the signature (between MSE SET and
// PSO another process could take the card and reset its environment).
TEST_F(CardGoneTest, CloseDuringASignatureKeepsItsTransaction)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    const auto keys = PrivateKeys();
    ASSERT_FALSE(keys.empty());
    ASSERT_EQ(SignInit(session, keys[0]), CKR_OK);
    cardsim::InjectFault(kReader, SlowSignature());
    Commands();
    const auto data = DigestInfo();
    std::vector<uint8_t> signature(256);
    auto signing = std::async(std::launch::async, [&] {
        CK_ULONG length = signature.size();
        return C_Sign(session, const_cast<CK_BYTE*>(data.data()), data.size(), signature.data(), &length);
    });
    ASSERT_TRUE(Eventually([this] { return AnyStartsWith(Commands(), "00 22"); }));  // MSE SET done
    std::this_thread::sleep_for(200ms);                                              // PSO on its way
    EXPECT_EQ(C_CloseSession(session), CKR_OK);
    EXPECT_TRUE(TransactionOpen());
    EXPECT_EQ(signing.get(), CKR_OK);
    EXPECT_TRUE(Verifies(1, data, signature));
    EXPECT_FALSE(TransactionOpen());
}

// Calls on several threads while another finalises and initialises the
// library again: every answer is one the standard allows, and (under the
// thread sanitizer) no data race.
TEST_F(CardGoneTest, FinalizeDuringCalls)
{
    const CK_SESSION_HANDLE first = LoadAndLogIn("DEF50");
    std::atomic<bool> stop{false};
    std::atomic<CK_SESSION_HANDLE> session{first};
    std::atomic<int> unexpected{0};
    const auto allowed = [&](CK_RV rv) {
        if (rv != CKR_OK && rv != CKR_CRYPTOKI_NOT_INITIALIZED && rv != CKR_SESSION_HANDLE_INVALID &&
            rv != CKR_DEVICE_REMOVED && rv != CKR_FUNCTION_FAILED && rv != CKR_SLOT_ID_INVALID &&
            rv != CKR_TOKEN_NOT_PRESENT && rv != CKR_DEVICE_ERROR && rv != CKR_OPERATION_NOT_INITIALIZED &&
            rv != CKR_OPERATION_ACTIVE && rv != CKR_BUFFER_TOO_SMALL)
            unexpected.fetch_add(1);
    };
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&, t] {
            CK_BYTE random[16];
            CK_SESSION_INFO info;
            CK_OBJECT_HANDLE objects[4];
            CK_ULONG count = 0;
            while (!stop.load()) {
                const CK_SESSION_HANDLE s = session.load();
                allowed(C_GetSessionInfo(s, &info));
                if (t == 0) allowed(C_GenerateRandom(s, random, sizeof random));
                if (t == 1 && C_FindObjectsInit(s, nullptr, 0) == CKR_OK) allowed(C_FindObjects(s, objects, 4, &count));
                if (t == 2) {
                    CK_ULONG slots = 0;
                    allowed(C_GetSlotList(CK_FALSE, nullptr, &slots));
                    CK_SESSION_HANDLE opened = 0;
                    if (C_OpenSession(slot_, CKF_SERIAL_SESSION, nullptr, nullptr, &opened) == CKR_OK)
                        allowed(C_CloseSession(opened));
                }
            }
        });
    }
    for (int round = 0; round < 4; ++round) {
        std::this_thread::sleep_for(200ms);
        ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
        ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
        CK_SESSION_HANDLE opened = 0;
        if (Eventually([&] { return C_OpenSession(slot_, CKF_SERIAL_SESSION, nullptr, nullptr, &opened) == CKR_OK; }))
            session.store(opened);
    }
    stop.store(true);
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(unexpected.load(), 0);
    EXPECT_FALSE(TransactionOpen());
}

// The last status word is written by the card commands of one thread and
// read by the session information of another (the thread sanitizer checks).
TEST_F(CardGoneTest, SessionInformationWhileCardCommandsRun)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        CK_SESSION_INFO info;
        while (!stop.load()) ASSERT_EQ(C_GetSessionInfo(session, &info), CKR_OK);
    });
    CK_BYTE random[16];
    for (int i = 0; i < 20; ++i) EXPECT_EQ(C_GenerateRandom(session, random, sizeof random), CKR_OK);
    stop.store(true);
    reader.join();
}

}  // namespace
}  // namespace signtest
