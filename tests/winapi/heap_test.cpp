// The stand-in's process heap: the allocation a test makes fail, and the accounting of what the
// heap holds.
#include <sim/standin.h>

#include <gtest/gtest.h>

namespace {

TEST(StandInHeap, FailsTheChosenAllocationOnly) {
    sim::Install(sim::Machine{});
    sim::FailHeapAllocation(1);
    LPVOID first = HeapAlloc(GetProcessHeap(), 0, 8);
    LPVOID second = HeapAlloc(GetProcessHeap(), 0, 8);
    LPVOID third = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 0);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(sim::CurrentCounters().liveHeapBlocks, 2);
    HeapFree(GetProcessHeap(), 0, first);
    HeapFree(GetProcessHeap(), 0, third);
    EXPECT_EQ(sim::CurrentCounters().liveHeapBlocks, 0);
}

TEST(HeapPeak, IsTheMostHeldAtOnceNotTheSumHandedOut) {
    sim::Install(sim::Machine{});
    LPVOID first = HeapAlloc(GetProcessHeap(), 0, 1000);
    HeapFree(GetProcessHeap(), 0, first);
    LPVOID second = HeapAlloc(GetProcessHeap(), 0, 1000);
    EXPECT_EQ(sim::CurrentCounters().peakHeapBytes, 1000u);
    LPVOID third = HeapAlloc(GetProcessHeap(), 0, 500);
    HeapFree(GetProcessHeap(), 0, second);
    HeapFree(GetProcessHeap(), 0, third);
    EXPECT_EQ(sim::CurrentCounters().peakHeapBytes, 1500u);
}

} // namespace
