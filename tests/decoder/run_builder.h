// Hand-built run lines for decoder tests: widths in tenths of a pixel, even
// index dark, a leading 0 when the line begins light (as the filter makes them).
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "run_line.h"

namespace testing_runs {

class RunBuilder {
public:
    // Appends a run; a run of the same colour as the last one widens it.
    RunBuilder& Dark(int tenths);
    RunBuilder& Light(int tenths);
    // Module counts of alternating runs, the first one dark, at unit tenths
    // per module.
    RunBuilder& Modules(const std::vector<int>& modules, int unit);
    // Explicit widths of alternating runs, the first one dark.
    RunBuilder& Widths(const std::vector<int>& tenths);

    // Index the next run will take.
    int Size() const { return static_cast<int>(m_widths.size()); }
    std::vector<int16_t>& Runs() { return m_widths; }
    const std::vector<int16_t>& Runs() const { return m_widths; }

private:
    void Add(bool dark, int tenths);
    std::vector<int16_t> m_widths;
};

// A view of the widths as the decoders get them.
barcode::RunLine View(std::vector<int16_t>& widths);

// The same runs met from the other end of the line.
std::vector<int16_t> Reversed(const std::vector<int16_t>& widths);

// Two symbols where the second begins inside the first, between light runs
// of 300: the first symbol's runs in tenths (a bar first), the light run
// that ends it and belongs to the second too, then the second symbol's
// module runs from index from (a bar) on at unit tenths per module.
std::vector<int16_t> Overlapped(const std::vector<int>& first, int shared, const std::vector<int>& second, int from,
                                int unit);

// A line that begins light with its first bar turned light: a walk then
// starts two runs later.
std::vector<int16_t> WithoutFirstBar(std::vector<int16_t> widths);

// Module counts scaled to tenths, each run moved by up to +-noise tenths
// (never below 1).
std::vector<int> ToTenths(const std::vector<int>& modules, int unit, int noise, std::mt19937& random);

// A symbol's module runs at unit tenths per module with up to +-noise
// tenths on every run, between quiet zones of quietModules, with a few runs
// of random junk beyond them.
std::vector<int16_t> SymbolInJunk(const std::vector<int>& modules, int unit, int noise, int quietModules,
                                  std::mt19937& random);

} // namespace testing_runs
