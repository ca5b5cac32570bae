#include "timer.h"

#include "clock.h"

namespace barcode {

namespace {

constexpr int kSlotCount = 10;

bool ValidSlot(int slot)
{
    return slot >= 0 && slot < kSlotCount;
}

// A failed read counts as tick 0.
double ReadTicks()
{
    LONGLONG ticks = 0;
    if (!QueryPerformanceCounter(&ticks))
        return 0.0;
    return static_cast<double>(ticks);
}

} // namespace

Timer::Timer()
    : m_starts(kSlotCount, 0.0)
    , m_totals(kSlotCount, 0.0)
    , m_counts(kSlotCount, 0)
{
}

Timer::~Timer() = default;

void Timer::Start(int slot)
{
    if (!ValidSlot(slot))
        return;
    m_starts[slot] = ReadTicks();
}

void Timer::Stop(int slot)
{
    if (!ValidSlot(slot))
        return;
    const double now = ReadTicks();
    m_starts[slot] = now - m_starts[slot];
    m_totals[slot] += m_starts[slot];
    ++m_counts[slot];
}

} // namespace barcode
