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

}  // namespace
}  // namespace cardsim::test
