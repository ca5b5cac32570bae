// A ten-slot stopwatch in raw ticks of the platform's monotonic counter.
#pragma once

#include <cstdint>
#include <vector>

namespace barcode {

class Timer {
public:
    Timer();
    virtual ~Timer();

    void Start(int slot); // slots 0 to 9; any other slot does nothing
    void Stop(int slot);

    std::vector<double> m_starts;  // last start; after a Stop, the ticks elapsed
    std::vector<double> m_totals;  // sum of the elapsed ticks of every Stop
    std::vector<int32_t> m_counts; // number of Stop calls
};

} // namespace barcode
