#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace simtest;

TEST(CardSelect, SelectMasterFile)
{
    auto t0 = std::chrono::steady_clock::now();
    auto card = cardsim::MakePersonalisation("DEF50");
    auto t1 = std::chrono::steady_clock::now();
    auto card2 = cardsim::MakePersonalisation("DEF50-3K");
    auto t2 = std::chrono::steady_clock::now();
    printf("%ld ms %ld ms\n", long(std::chrono::duration_cast<std::chrono::milliseconds>(t1 - t0).count()),
           long(std::chrono::duration_cast<std::chrono::milliseconds>(t2 - t1).count()));
    EXPECT_EQ(card->Transmit({0x00, 0xA4, 0x00, 0x0C}), (cardsim::Bytes{0x90, 0x00}));
}

}  // namespace
