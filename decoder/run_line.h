// The run line: what the pixel-line filter makes of one scan line and what
// every decoder reads.
#pragma once

#include <cstdint>

namespace barcode {

// Widths of the alternating dark and light runs along one scan line, in
// tenths of a pixel (10 = one whole pixel). Even indices are dark runs
// (bars), odd indices light runs (spaces). A line that begins light starts
// with an empty dark run of width 0, so its first light run has index 1.
struct RunLine {
    int count = 0;             // number of widths
    int16_t* widths = nullptr; // owned by the filter
};

// Sum of n consecutive widths, in 32 bits.
inline int SumRuns(const int16_t* w, int n)
{
    int sum = 0;
    for (int k = 0; k < n; ++k)
        sum += w[k];
    return sum;
}

} // namespace barcode
