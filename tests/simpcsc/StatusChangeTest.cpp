// Reader list and SCardGetStatusChange: states, event counter, blocking and
// wake-up on insertion and removal.
#include "StandInCard.h"

#include <cstring>
#include <future>
#include <thread>

namespace cardsim::test {
namespace {

using namespace std::chrono_literals;

class StatusChangeTest : public ReadersTest {
protected:
    SCARD_READERSTATE StateOf(const char* reader, DWORD current = SCARD_STATE_UNAWARE)
    {
        SCARD_READERSTATE state{};
        state.szReader = reader;
        state.dwCurrentState = current;
        return state;
    }
};

TEST_F(StatusChangeTest, ListsReadersInAnAllocatedMultiString)
{
    LPSTR names = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    EXPECT_EQ(SCardListReaders(context, nullptr, reinterpret_cast<LPSTR>(&names), &length),
              SCARD_E_NO_READERS_AVAILABLE);
    EXPECT_EQ(names, nullptr);

    AddReader("A");
    AddReader("Reader B");
    length = SCARD_AUTOALLOCATE;
    ASSERT_EQ(SCardListReaders(context, nullptr, reinterpret_cast<LPSTR>(&names), &length),
              SCARD_S_SUCCESS);
    ASSERT_EQ(length, 12u);
    EXPECT_EQ(std::memcmp(names, "A\0Reader B\0\0", 12), 0);
    EXPECT_EQ(SCardFreeMemory(context, names), SCARD_S_SUCCESS);

    char small[5];
    length = sizeof small;
    EXPECT_EQ(SCardListReaders(context, nullptr, small, &length), SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(SCardListReaders(context + 99, nullptr, small, &length), SCARD_E_INVALID_HANDLE);
}

TEST_F(StatusChangeTest, UnawareCallerGetsCurrentStateAtOnce)
{
    AddReaderWithCard("Full");
    AddReader("Empty");
    SCARD_READERSTATE states[] = {StateOf("Full"), StateOf("Empty")};
    ASSERT_EQ(SCardGetStatusChange(context, 0, states, 2), SCARD_S_SUCCESS);
    // One insertion so far: event counter 1 in the upper 16 bits.
    EXPECT_EQ(states[0].dwEventState, 0x00010022u);
    EXPECT_EQ(states[0].cbAtr, 4u);
    EXPECT_EQ(states[0].rgbAtr[0], 0x3B);
    EXPECT_EQ(states[1].dwEventState, DWORD(SCARD_STATE_EMPTY | SCARD_STATE_CHANGED));
    EXPECT_EQ(states[1].cbAtr, 0u);

    states[0].dwCurrentState = states[0].dwEventState;
    states[1].dwCurrentState = states[1].dwEventState;
    EXPECT_EQ(SCardGetStatusChange(context, 30, states, 2), SCARD_E_TIMEOUT);
}

TEST_F(StatusChangeTest, WaitWakesOnInsertionAndRemoval)
{
    AddReader("R");
    SCARD_READERSTATE state = StateOf("R");
    ASSERT_EQ(SCardGetStatusChange(context, 0, &state, 1), SCARD_S_SUCCESS);

    for (const bool insert : {true, false}) {
        state.dwCurrentState = state.dwEventState;
        auto waiter = std::async(std::launch::async, [&] {
            return SCardGetStatusChange(context, 20000, &state, 1);
        });
        EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
        if (insert) {
            InsertIcc("R", std::make_shared<StandInCard>());
        } else {
            RemoveCard("R");
        }
        ASSERT_EQ(waiter.get(), SCARD_S_SUCCESS);
        const DWORD expected = insert ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY;
        EXPECT_EQ(state.dwEventState & 0xFFFF, DWORD(expected | SCARD_STATE_CHANGED));
    }
    EXPECT_EQ(state.dwEventState >> 16, 2u);
}

TEST_F(StatusChangeTest, CounterRevealsAQuickRemoveAndReinsert)
{
    AddReaderWithCard("R");
    SCARD_READERSTATE state = StateOf("R");
    ASSERT_EQ(SCardGetStatusChange(context, 0, &state, 1), SCARD_S_SUCCESS);
    state.dwCurrentState = state.dwEventState;
    InsertIcc("R", RemoveCard("R"));
    ASSERT_EQ(SCardGetStatusChange(context, 0, &state, 1), SCARD_S_SUCCESS);
    EXPECT_EQ(state.dwEventState, 0x00030022u);
}

TEST_F(StatusChangeTest, UnknownAndVanishingReaders)
{
    AddReader("R");
    SCARD_READERSTATE states[] = {StateOf("R"), StateOf("Nobody")};
    EXPECT_EQ(SCardGetStatusChange(context, 0, states, 2), SCARD_E_UNKNOWN_READER);

    SCARD_READERSTATE state = StateOf("R");
    ASSERT_EQ(SCardGetStatusChange(context, 0, &state, 1), SCARD_S_SUCCESS);
    state.dwCurrentState = state.dwEventState;
    auto waiter = std::async(std::launch::async,
                             [&] { return SCardGetStatusChange(context, 20000, &state, 1); });
    std::this_thread::sleep_for(20ms);
    RemoveReader("R");
    ASSERT_EQ(waiter.get(), SCARD_S_SUCCESS);
    EXPECT_EQ(state.dwEventState,
              DWORD(SCARD_STATE_UNKNOWN | SCARD_STATE_UNAVAILABLE | SCARD_STATE_CHANGED));
}

TEST_F(StatusChangeTest, ArgumentLimitsAndCancel)
{
    AddReader("R");
    std::vector<SCARD_READERSTATE> many(17, StateOf("R"));
    EXPECT_EQ(SCardGetStatusChange(context, 0, many.data(), 17), SCARD_E_INVALID_PARAMETER);
    EXPECT_EQ(SCardGetStatusChange(context, 0, many.data(), 16), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardGetStatusChange(context, 1000, nullptr, 0), SCARD_S_SUCCESS);

    SCARD_READERSTATE state = StateOf("R");
    ASSERT_EQ(SCardGetStatusChange(context, 0, &state, 1), SCARD_S_SUCCESS);
    state.dwCurrentState = state.dwEventState;
    auto waiter = std::async(std::launch::async,
                             [&] { return SCardGetStatusChange(context, INFINITE, &state, 1); });
    while (waiter.wait_for(5ms) == std::future_status::timeout) {
        SCardCancel(context);
    }
    EXPECT_EQ(waiter.get(), SCARD_E_CANCELLED);
}

}  // namespace
}  // namespace cardsim::test
