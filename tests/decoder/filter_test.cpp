// The pixel-line filter on hand-made lines of grey pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "filter.h"

namespace {

// Runs of equal pixels: {grey value, pixel count}.
std::vector<uint8_t> Pixels(const std::vector<std::pair<int, int>>& segments)
{
    std::vector<uint8_t> pixels;
    for (const auto& segment : segments)
        pixels.insert(pixels.end(), static_cast<std::size_t>(segment.second), static_cast<uint8_t>(segment.first));
    return pixels;
}

std::vector<int> Widths(GenericFilter& filter, const std::vector<uint8_t>& pixels)
{
    const barcode::RunLine* line = filter.Process(pixels.data(), static_cast<int>(pixels.size()));
    return std::vector<int>(line->widths, line->widths + line->count);
}

int Sum(const std::vector<int>& widths)
{
    return std::accumulate(widths.begin(), widths.end(), 0);
}

// Three bars of 10 pixels, 10 apart, after 20 light pixels, 30 light after.
std::vector<uint8_t> ThreeBars(int light, int dark)
{
    return Pixels({{light, 20}, {dark, 10}, {light, 10}, {dark, 10}, {light, 10}, {dark, 10}, {light, 30}});
}

TEST(Filter, WorkedExampleAndItsInverse)
{
    GenericFilter filter;
    EXPECT_EQ(Widths(filter, ThreeBars(200, 20)), (std::vector<int>{0, 200, 100, 100, 100, 100, 100, 310}));
    EXPECT_EQ(Widths(filter, ThreeBars(20, 200)), (std::vector<int>{200, 100, 100, 100, 100, 100, 310}));
}

TEST(Filter, SplitsAPixelInsideASoftEdge)
{
    // Pixel 20 of 110, between 200 and 20: edge {19, 21, 180}, lo 43, hi 118,
    // step 7.38, so 4 tenths stay light and 6 go to the bar.
    std::vector<uint8_t> pixels = ThreeBars(200, 20);
    pixels[20] = 110;
    GenericFilter filter;
    const std::vector<int> widths = Widths(filter, pixels);
    ASSERT_GE(widths.size(), 3u);
    EXPECT_EQ(widths[0], 0);
    EXPECT_EQ(widths[1], 204);
    EXPECT_EQ(widths[2], 96);
    EXPECT_EQ(Sum(widths), 10 * (100 + 1));
}

// How one inside pixel of a soft edge is split, in every cell of the split
// tables (amplitude class by grey class; an edge above 128 cannot have its
// bright end below 128). The first bar of the three-bar line gets a soft
// leading (falling) or trailing (rising) edge of amplitude A whose bright
// end is B, the inside pixel diff away from the edge's start. Each case sits
// where the pixel's share turns over: near lo, where the split begins, or
// near hi, where the whole pixel passes to the run after the edge, and the
// class limits are taken from both sides. A change of 0.01 to any table cell,
// of the slope 0.41 or of a class limit by one changes at least one share.
TEST(Filter, SplitTablesSlopeAndClassLimits)
{
    struct Case {
        bool falling;
        int amplitude; // A
        int bright;    // B
        int diff;      // the inside pixel's distance from the edge's start
        int before;    // tenths that go to the run before the edge
    };
    const Case cases[] = {
        // amplitude up to 64, bright end 220 and up
        {true,   12, 220,  5,  6}, // lo 3, hi 9
        {false,  64, 220, 29,  6}, // lo 16, hi 48
        {true,   54, 220, 40, -2}, // lo 13, hi 40
        // amplitude up to 64, bright end 128 to 219
        {false,  12, 219,  5,  8}, // lo 4, hi 9
        {true,   41, 128, 13,  8}, // lo 8, hi 27
        {true,   63, 128, 41, -1}, // lo 12, hi 41
        // amplitude up to 64, bright end below 128
        {true,   64, 127, 27,  4}, // lo 9, hi 38
        {false,  41, 127, 21,  8}, // lo 16, hi 34
        {true,   64, 127, 38, -1}, // lo 9, hi 38
        // amplitude 65 to 128, bright end 220 and up
        {true,   66, 220, 24,  8}, // lo 16, hi 42
        {false,  65, 220, 30,  7}, // lo 22, hi 48
        {false, 128, 220, 96,  1}, // lo 44, hi 96
        // amplitude 65 to 128, bright end 128 to 219
        {true,   65, 219, 26,  6}, // lo 13, hi 42
        {false,  65, 128, 43,  3}, // lo 22, hi 51
        {true,   72, 128, 47, -1}, // lo 14, hi 47
        // amplitude 65 to 128, bright end below 128
        {true,   65,  65, 15, 10}, // lo 13, hi 38
        {false,  66, 127, 45,  3}, // lo 26, hi 52
        {false,  69, 127, 55,  1}, // lo 27, hi 55
        // amplitude above 128, bright end 220 and up
        {true,  129, 220, 29,  9}, // lo 19, hi 58
        {true,  129, 220, 57,  3}, // lo 19, hi 58
        {false, 129, 220, 91,  7}, // lo 70, hi 109
        // amplitude above 128, bright end 128 to 219
        {true,  129, 219, 51,  7}, // lo 30, hi 85
        {true,  129, 219, 57,  5}, // lo 30, hi 85
        {false, 129, 219, 64,  7}, // lo 43, hi 98
        {false, 129, 219, 75,  4}, // lo 43, hi 98
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.falling ? "falling" : "rising") << " A " << c.amplitude << " B "
                                        << c.bright << " diff " << c.diff);
        const int dark = c.bright - c.amplitude;
        std::vector<uint8_t> pixels = ThreeBars(c.bright, dark);
        // Falling: pixels 19 to 21 are light, inside, dark. Rising: 29 to 31
        // are dark, inside, light; the bar is run 2 either way.
        const int run = c.falling ? 1 : 2;
        const int whole = c.falling ? 200 : 100;
        pixels[c.falling ? 20 : 30] = static_cast<uint8_t>(c.falling ? c.bright - c.diff : dark + c.diff);
        GenericFilter filter;
        const std::vector<int> widths = Widths(filter, pixels);
        ASSERT_EQ(widths.size(), 8u);
        EXPECT_EQ(widths[run], whole + c.before);
        EXPECT_EQ(widths[run + 1], 100 - c.before);
    }
}

TEST(Filter, SplitBoundsAreWorkedOutInDoublePrecision)
{
    // A falling edge of 50 from 150 (weak edge, bright end 128 to 219): the
    // upper fraction is 0.34f, so hi = 50 x (1 - 0.34f) is 32.9999998 in
    // double precision and 33 in single. The inside pixel 33 below the start
    // is beyond hi and goes whole to the bar; in single precision it would
    // be split 11 / -1.
    const std::vector<uint8_t> pixels =
        Pixels({{150, 20}, {117, 1}, {100, 10}, {150, 10}, {100, 10}, {150, 10}, {100, 10}, {150, 29}});
    GenericFilter filter;
    EXPECT_EQ(Widths(filter, pixels), (std::vector<int>{0, 200, 110, 100, 100, 100, 100, 300}));
}

TEST(Filter, NoiseFloorOfFiveGreyLevels)
{
    // Bars whose edges are ramps: steps of 4 are noise, however long the ramp.
    auto rampBars = [](int step) {
        std::vector<uint8_t> pixels(20, 200);
        for (int bar = 0; bar < 3; ++bar) {
            for (int v = 200 - step; v >= 20; v -= step)
                pixels.push_back(static_cast<uint8_t>(v));
            pixels.insert(pixels.end(), 10, static_cast<uint8_t>(pixels.back()));
            for (int v = pixels.back() + step; v <= 200; v += step)
                pixels.push_back(static_cast<uint8_t>(v));
            pixels.insert(pixels.end(), 10, static_cast<uint8_t>(pixels.back()));
        }
        return pixels;
    };
    GenericFilter filter;
    EXPECT_TRUE(Widths(filter, rampBars(4)).empty());
    EXPECT_TRUE(Widths(filter, Pixels({{100, 50}})).empty());

    const std::vector<uint8_t> five = rampBars(5);
    const std::vector<int> widths = Widths(filter, five);
    EXPECT_EQ(widths.size(), 8u);
    EXPECT_EQ(Sum(widths), 10 * (static_cast<int>(five.size()) + 1));
    // One growing edge over the whole ramp, its amplitude the whole change.
    EXPECT_EQ(filter.m_edges[1].start, 19);
    EXPECT_EQ(filter.m_edges[1].end, 19 + 36);
    EXPECT_EQ(filter.m_edges[1].amplitude, 180);
}

TEST(Filter, StrengthRules)
{
    GenericFilter filter;
    // A faint bar after a rising edge of 180 needs 31 % of it: 55.
    auto faintBar = [](int depth) {
        return Pixels({{200, 20}, {20, 10}, {200, 10}, {200 - depth, 10}, {200, 10}, {20, 10}, {200, 10},
                       {20, 10}, {200, 30}});
    };
    EXPECT_EQ(Widths(filter, faintBar(55)).size(), 10u);
    const std::vector<int> merged = Widths(filter, faintBar(54));
    ASSERT_EQ(merged.size(), 8u);
    EXPECT_EQ(merged[3], 300); // the faint bar went into the light run around it

    // A light gap inside a bar after a falling edge of 180 needs 37 %: 66.
    auto gap = [](int height) {
        return Pixels({{200, 20}, {20, 10}, {20 + height, 10}, {20, 10}, {200, 10}, {20, 10}, {200, 10},
                       {20, 10}, {200, 30}});
    };
    EXPECT_EQ(Widths(filter, gap(66)).size(), 10u);
    const std::vector<int> whole = Widths(filter, gap(65));
    ASSERT_EQ(whole.size(), 8u);
    EXPECT_EQ(whole[2], 300);

    // Whatever came before, an edge must be at least 12.
    auto firstBar = [](int depth) {
        return Pixels({{200, 20}, {200 - depth, 10}, {200, 10}, {20, 10}, {200, 10}, {20, 10}, {200, 10},
                       {20, 10}, {200, 30}});
    };
    EXPECT_EQ(Widths(filter, firstBar(12)).size(), 10u);
    EXPECT_EQ(Widths(filter, firstBar(11)).size(), 8u);
}

TEST(Filter, AlternationKeepsTheFirstOfTwoSameSignedEdges)
{
    // 200 -> 120 -> 20: the bar starts at the first, weaker step.
    GenericFilter filter;
    const std::vector<int> widths = Widths(
        filter, Pixels({{200, 20}, {120, 10}, {20, 10}, {200, 10}, {20, 10}, {200, 10}, {20, 10}, {200, 30}}));
    ASSERT_EQ(widths.size(), 8u);
    EXPECT_EQ(widths[1], 200);
    EXPECT_EQ(widths[2], 200);

    // A line that starts with a falling step: the first edge that passes is
    // kept when it falls further than that step ...
    std::vector<uint8_t> stronger = ThreeBars(150, 20);
    stronger[0] = 200;
    const std::vector<int> kept = Widths(filter, stronger);
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept[0], 0);
    EXPECT_EQ(kept[1], 200);
    // ... and dropped when it falls less, so the line then begins dark.
    std::vector<uint8_t> weaker = ThreeBars(150, 120);
    weaker[0] = 200;
    const std::vector<int> dropped = Widths(filter, weaker);
    ASSERT_FALSE(dropped.empty());
    EXPECT_EQ(dropped[0], 300);
}

TEST(Filter, TheLastEdgeClosesTheListEvenWhenWeak)
{
    std::vector<uint8_t> pixels = ThreeBars(200, 20);
    pixels.resize(90);
    pixels.insert(pixels.end(), 20, 194); // a step of 6 at pixel 89
    GenericFilter filter;
    const std::vector<int> widths = Widths(filter, pixels);
    ASSERT_EQ(widths.size(), 9u);
    EXPECT_EQ(widths[7], 10 * (89 - 70 + 1));
    EXPECT_EQ(widths[8], 10 * (110 - 90 + 1));
}

TEST(Filter, ShortAndMissingLinesGiveNoRuns)
{
    GenericFilter filter;
    const uint8_t pixels[3] = {200, 20, 200};
    for (int n : {-1, 0, 1, 2, 3})
        EXPECT_EQ(filter.Process(pixels, n)->count, 0) << n;
    EXPECT_EQ(filter.Process(nullptr, 100)->count, 0);
}

TEST(Filter, BuffersGrowPast1280AndAreReused)
{
    GenericFilter filter;
    EXPECT_EQ(filter.m_capacity, 1280u);
    std::vector<uint8_t> wide = ThreeBars(200, 20);
    wide.resize(1281, 200);
    EXPECT_EQ(Widths(filter, wide).back(), 10 * (1281 - 70 + 1));
    EXPECT_EQ(filter.m_capacity, 1281u);
    const int16_t* widths = filter.m_runLine->widths;
    const GenericFilter::Edge* edges = filter.m_edges;
    const int16_t* diffs = filter.m_diffs;
    std::vector<uint8_t> narrow = ThreeBars(200, 20);
    narrow.resize(640, 200);
    EXPECT_EQ(Sum(Widths(filter, narrow)), 10 * 641);
    EXPECT_EQ(filter.m_capacity, 1281u);
    EXPECT_EQ(filter.m_runLine->widths, widths);
    EXPECT_EQ(filter.m_edges, edges);
    EXPECT_EQ(filter.m_diffs, diffs);
}

TEST(Filter, RunWidthsSaturateInsteadOfWrapping)
{
    std::vector<uint8_t> pixels = ThreeBars(200, 20);
    pixels.resize(4000, 200); // the last light run is 3930 pixels
    GenericFilter filter;
    const std::vector<int> widths = Widths(filter, pixels);
    ASSERT_EQ(widths.size(), 8u);
    EXPECT_EQ(widths.back(), 32767);
    EXPECT_EQ(widths[1], 200);
}

TEST(Filter, WidthsAlwaysAddUpToTenTimesPixelsPlusOne)
{
    const unsigned seed = 20240611;
    std::mt19937 random(seed);
    GenericFilter filter;
    int lines = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        const int n = std::uniform_int_distribution<int>(3, 1500)(random);
        std::vector<uint8_t> pixels(static_cast<std::size_t>(n));
        // A random walk of plateaus and soft edges.
        int value = std::uniform_int_distribution<int>(0, 255)(random);
        for (int k = 0; k < n; ++k) {
            if (std::uniform_int_distribution<int>(0, 5)(random) == 0)
                value = std::uniform_int_distribution<int>(0, 255)(random);
            else if (std::uniform_int_distribution<int>(0, 2)(random) == 0)
                value = std::max(0, std::min(255, value + std::uniform_int_distribution<int>(-40, 40)(random)));
            pixels[static_cast<std::size_t>(k)] = static_cast<uint8_t>(value);
        }
        const std::vector<int> widths = Widths(filter, pixels);
        if (widths.empty())
            continue;
        ++lines;
        EXPECT_EQ(Sum(widths), 10 * (n + 1)) << "seed " << seed << " trial " << trial;
        for (int w : widths)
            ASSERT_GE(w, 0) << "seed " << seed << " trial " << trial;
        ASSERT_LE(widths.size(), static_cast<std::size_t>(n));
    }
    EXPECT_GT(lines, 1000);
}

} // namespace
