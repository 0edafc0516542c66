// The held-ports table when several threads open ports at once.
#include <gtest/gtest.h>

#include <latch>
#include <set>
#include <thread>
#include <vector>

#include "HeldPorts.h"

namespace serialio {
namespace {

// Threads claim at the same moment, many times over: each must get a slot of
// its own while slots are left, and -1 once the table is full.
TEST(HeldPortsTest, PortsHeldAtOnceNeverShareASlot) {
    constexpr int kThreads = static_cast<int>(kMostHeldPorts) + 2;  // more than the table holds
    for (int round = 0; round < 100; ++round) {
        std::vector<int> slots(kThreads, -3);
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                slots[static_cast<size_t>(t)] =
                    HoldPort(1000 + t, SavedTermios{}, "");  // no real port
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        std::set<int> taken;
        int refused = 0;
        for (int slot : slots) {
            if (slot < 0) {
                ++refused;
            } else {
                EXPECT_TRUE(taken.insert(slot).second) << "slot " << slot << " given twice";
            }
        }
        ASSERT_EQ(taken.size(), kMostHeldPorts);
        ASSERT_EQ(refused, 2);
        for (int slot : taken)
            ForgetPort(slot);
    }
}

}  // namespace
}  // namespace serialio
