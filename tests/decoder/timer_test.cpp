#include "timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <thread>

#include "clock.h"

namespace {

LONGLONG Now()
{
    LONGLONG ticks = 0;
    EXPECT_TRUE(QueryPerformanceCounter(&ticks));
    return ticks;
}

void ExpectSlotUntouched(const barcode::Timer& timer, int slot)
{
    EXPECT_EQ(timer.m_starts[slot], 0.0) << "slot " << slot;
    EXPECT_EQ(timer.m_totals[slot], 0.0) << "slot " << slot;
    EXPECT_EQ(timer.m_counts[slot], 0) << "slot " << slot;
}

TEST(Timer, StartsWithTenEmptySlots)
{
    barcode::Timer timer;
    ASSERT_EQ(timer.m_starts.size(), 10u);
    ASSERT_EQ(timer.m_totals.size(), 10u);
    ASSERT_EQ(timer.m_counts.size(), 10u);
    for (int slot = 0; slot < 10; ++slot)
        ExpectSlotUntouched(timer, slot);
}

TEST(Timer, StopRecordsElapsedTicks)
{
    barcode::Timer timer;
    const LONGLONG before = Now();
    timer.Start(0);
    const LONGLONG started = Now();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const LONGLONG stopping = Now();
    timer.Stop(0);
    const LONGLONG after = Now();

    // The elapsed value lies between the intervals the counter saw around
    // the two calls; ticks are nanoseconds, so the sleep is at least 2e7.
    EXPECT_GE(timer.m_starts[0], static_cast<double>(stopping - started));
    EXPECT_LE(timer.m_starts[0], static_cast<double>(after - before));
    EXPECT_GE(timer.m_starts[0], 2e7);
    EXPECT_EQ(timer.m_totals[0], timer.m_starts[0]);
    EXPECT_EQ(timer.m_counts[0], 1);

    const double first = timer.m_starts[0];
    timer.Start(0);
    timer.Stop(0);
    EXPECT_GE(timer.m_starts[0], 0.0);
    EXPECT_EQ(timer.m_totals[0], first + timer.m_starts[0]);
    EXPECT_EQ(timer.m_counts[0], 2);
}

TEST(Timer, StopWithoutStartMeasuresFromTickZero)
{
    barcode::Timer timer;
    const LONGLONG before = Now();
    timer.Stop(5);
    const LONGLONG after = Now();
    EXPECT_GE(timer.m_starts[5], static_cast<double>(before));
    EXPECT_LE(timer.m_starts[5], static_cast<double>(after));
    EXPECT_EQ(timer.m_counts[5], 1);
}

TEST(Timer, SlotsAreIndependent)
{
    barcode::Timer timer;
    timer.Start(3);
    timer.Stop(3);
    EXPECT_EQ(timer.m_counts[3], 1);
    for (int slot = 0; slot < 10; ++slot) {
        if (slot != 3)
            ExpectSlotUntouched(timer, slot);
    }
}

TEST(Timer, SlotsOutsideZeroToNineDoNothing)
{
    barcode::Timer timer;
    for (int slot : {-1, 10, 11, INT_MIN, INT_MAX}) {
        timer.Start(slot);
        timer.Stop(slot);
    }
    for (int slot = 0; slot < 10; ++slot)
        ExpectSlotUntouched(timer, slot);
}

TEST(Clock, CountsMonotonicTicks)
{
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
    LONGLONG previous = Now();
    EXPECT_GT(previous, 0);
    for (int k = 0; k < 1000; ++k) {
        const LONGLONG now = Now();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

} // namespace
