// The seeded round trip shared by the EAN/UPC decoder tests: random valid
// values encoded as runs, in both directions, with junk around them and mild
// width noise. A wrong read fails at once; most symbols must be read.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "barcode.h"
#include "run_builder.h"

namespace testing_runs {

struct RoundTripSymbol {
    std::string text;         // what the decoder must report
    std::vector<int> modules; // the symbol's module runs
};

template <typename Decoder>
void RoundTrip(unsigned seed, int symbols, const std::function<RoundTripSymbol(std::mt19937&)>& make)
{
    std::mt19937 random(seed);
    int lines = 0;
    int reads = 0;
    for (int n = 0; n < symbols; ++n) {
        const RoundTripSymbol symbol = make(random);
        const int unit = std::uniform_int_distribution<int>(15, 45)(random);
        const int noise = unit / 6; // under a sixth of a module
        std::vector<int16_t> forward = SymbolInJunk(symbol.modules, unit, noise, 10, random);
        std::vector<int16_t> backward = Reversed(forward);
        for (std::vector<int16_t>* widths : {&forward, &backward}) {
            Decoder decoder;
            barcode::Result out;
            decoder.Decode(View(*widths), out);
            ++lines;
            if (decoder.m_votes.empty())
                continue;
            ASSERT_EQ(decoder.m_votes.size(), 1u) << "seed " << seed << " symbol " << n;
            ASSERT_EQ(decoder.m_votes.begin()->first, symbol.text)
                << "wrong read, seed " << seed << " symbol " << n << (widths == &backward ? " reversed" : "");
            ++reads;
        }
    }
    EXPECT_GE(reads, lines * 95 / 100) << "seed " << seed;
}

} // namespace testing_runs
