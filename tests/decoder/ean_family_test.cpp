// The shared EAN/UPC pieces: character matcher, code tables, reversal,
// candidate tests and the two-line vote.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ean13.h"
#include "ean_encoder.h"
#include "ean_family.h"
#include "run_builder.h"

namespace {

using barcode::DigitRuns;
using barcode::MatchEanDigit;

int CodeValue(const std::string& modules)
{
    return std::stoi(modules, nullptr, 2);
}

// The runs of a 7-module code at unit tenths per module, as the decoders
// hand them to the matcher.
DigitRuns RunsOf(const std::string& modules, int unit)
{
    const std::vector<int> runs = testing_runs::CodeRuns(modules);
    EXPECT_EQ(runs.size(), 4u) << modules;
    const auto w = [&](int k) { return static_cast<int16_t>(runs[k] * unit); };
    if (modules[0] == '0')
        return {w(1), w(0), w(3), w(2), true};
    return {w(0), w(1), w(2), w(3), false};
}

TEST(MatchEanDigit, WidthExamples)
{
    struct Case {
        int bar1, space1, bar2, space2;
        bool spaceFirst;
        int code;
    };
    const Case cases[] = {
        {20, 30, 10, 10, true, 13},   // L code of 0
        {20, 30, 10, 10, false, 98},  // mirror image of L 4
        {10, 40, 10, 10, true, 5},    // G code of 6
        {22, 26, 11, 11, true, 0},    // template 1 closest, but its two largest differ by 4
        {22, 26, 11, 11, false, 0},
        {10, 10, 10, 10, true, 0},    // four equal widths
        {0, 0, 0, 0, true, 0},        // no widths at all
        {0, 0, 0, 0, false, 0},
        {70, 10, 10, 10, false, 122}, // largest is 7 times the smallest
        {71, 10, 10, 10, false, 0},   // more than 7 times
        {25, 30, 10, 10, true, 13},   // largest two differ by exactly 5
        {25, 29, 10, 10, true, 0},    // by 4
        {20, 30, 15, 10, true, 13},   // second and third differ by 5
        {20, 30, 16, 10, true, 0},    // by 4
        {20, 20, 20, 15, true, 27},   // template 2: third and smallest differ by 5 (G code of 2)
        {20, 20, 20, 16, true, 0},    // by 4
        {-10, 30, 10, 10, true, 0},   // a negative width is no character
    };
    for (const Case& c : cases) {
        const DigitRuns runs = {static_cast<int16_t>(c.bar1), static_cast<int16_t>(c.space1),
                                static_cast<int16_t>(c.bar2), static_cast<int16_t>(c.space2), c.spaceFirst};
        EXPECT_EQ(MatchEanDigit(&runs), c.code)
            << c.bar1 << " " << c.space1 << " " << c.bar2 << " " << c.space2 << " spaceFirst " << c.spaceFirst;
    }
}

TEST(MatchEanDigit, ReadsEveryCodeOfEverySetAtSeveralModuleSizes)
{
    for (int unit : {10, 15, 25, 40}) {
        for (int digit = 0; digit < 10; ++digit) {
            for (char set : {'L', 'G', 'R'}) {
                const std::string modules = testing_runs::DigitModules(set, digit);
                const DigitRuns runs = RunsOf(modules, unit);
                EXPECT_EQ(MatchEanDigit(&runs), CodeValue(modules)) << set << digit << " unit " << unit;
            }
            // Met from the other side: the mirror images.
            const std::string mirrored = [&] {
                std::string l = testing_runs::DigitModules('L', digit);
                return std::string(l.rbegin(), l.rend());
            }();
            const DigitRuns runs = RunsOf(mirrored, unit);
            EXPECT_EQ(MatchEanDigit(&runs), CodeValue(mirrored)) << "mirrored L" << digit;
        }
    }
}

TEST(SortWidths4, RanksDescendingForEveryOrder)
{
    unsigned values[4] = {5, 9, 5, 3};
    std::sort(values, values + 4);
    do {
        unsigned copy[4] = {values[0], values[1], values[2], values[3]};
        unsigned* p[4] = {&copy[0], &copy[1], &copy[2], &copy[3]};
        barcode::SortWidths4(p);
        EXPECT_EQ(*p[0], 9u);
        EXPECT_EQ(*p[1], 5u);
        EXPECT_EQ(*p[2], 5u);
        EXPECT_EQ(*p[3], 3u);
        EXPECT_NE(p[1], p[2]);
    } while (std::next_permutation(values, values + 4));
}

TEST(EanTables, DigitTablesHoldTenDigitsEach)
{
    for (int set = 0; set < 3; ++set) {
        int digits = 0;
        for (int code = 0; code < barcode::EanCodeCount; ++code) {
            if (barcode::EanDigitTables[set][code] != barcode::EanNoDigit)
                ++digits;
        }
        EXPECT_EQ(digits, 10) << "set " << set;
    }
    EXPECT_EQ(barcode::EanDigitTables[barcode::EAN_SET_L][13], 0);
    EXPECT_EQ(barcode::EanDigitTables[barcode::EAN_SET_G][5], 6);
    EXPECT_EQ(barcode::EanDigitTables[barcode::EAN_SET_R][114], 0);
    EXPECT_EQ(barcode::EanDigitTables[barcode::EAN_SET_L][114], barcode::EanNoDigit);
}

TEST(EanTables, ValidCodesAreFortyAndClosedUnderMirroring)
{
    int valid = 0;
    for (int code = 0; code < barcode::EanCodeCount; ++code) {
        if (!barcode::EanValidCodes[code])
            continue;
        ++valid;
        EXPECT_TRUE(barcode::EanValidCodes[barcode::MirrorCode(static_cast<uint8_t>(code))]) << code;
    }
    EXPECT_EQ(valid, 40);
    EXPECT_FALSE(barcode::EanValidCodes[0]);
    const uint8_t masks[6] = {0, 1, 3, 7, 15, 31};
    for (int n = 0; n < 6; ++n)
        EXPECT_EQ(barcode::EanModuleMasks[n], masks[n]);
}

TEST(ReverseDigitCodes, ReversesAndMirrors)
{
    unsigned char two[2] = {13, 114};
    EXPECT_EQ(barcode::ReverseDigitCodes(2, two), two);
    EXPECT_EQ(two[0], 39);
    EXPECT_EQ(two[1], 88);

    unsigned char three[3] = {13, 25, 19}; // odd count: the middle one is mirrored in place
    barcode::ReverseDigitCodes(3, three);
    EXPECT_EQ(three[0], barcode::MirrorCode(19));
    EXPECT_EQ(three[1], barcode::MirrorCode(25));
    EXPECT_EQ(three[2], barcode::MirrorCode(13));

    unsigned char one[1] = {13};
    barcode::ReverseDigitCodes(1, one);
    EXPECT_EQ(one[0], 88);

    unsigned char none[1] = {13};
    barcode::ReverseDigitCodes(0, none);
    EXPECT_EQ(none[0], 13);
}

TEST(CandidateTests, GuardRangeSpreadEdges)
{
    struct Case {
        int a, b;
        bool passes;
    };
    const Case cases[] = {
        {30, 89, true},  // spread 59 < 2 x 30
        {30, 90, false}, // spread 60
        {5, 25, true},   // spread 20: two pixels always pass
        {5, 26, false},
        {0, 20, true},
        {0, 21, false},
    };
    for (const Case& c : cases) {
        barcode::WidthRange range(c.a);
        range.Add(c.b);
        EXPECT_EQ(range.Passes(), c.passes) << c.a << ", " << c.b;
    }
}

TEST(CandidateTests, StartGuardSpaceAtMostThreeBars)
{
    EXPECT_TRUE(barcode::StartGuardSpacePasses(10, 30, 8));
    EXPECT_FALSE(barcode::StartGuardSpacePasses(10, 31, 8));
    EXPECT_TRUE(barcode::StartGuardSpacePasses(8, 30, 10)); // the wider bar counts
    EXPECT_TRUE(barcode::StartGuardSpacePasses(10, 1, 10));
}

TEST(CandidateTests, CharacterWidthEdges)
{
    // Previous width 40 with divisor 4: closer than 10 passes.
    EXPECT_TRUE(barcode::CharWidthPasses(49, 40, 4));
    EXPECT_FALSE(barcode::CharWidthPasses(50, 40, 4));
    EXPECT_TRUE(barcode::CharWidthPasses(31, 40, 4));
    EXPECT_FALSE(barcode::CharWidthPasses(30, 40, 4));
    // Divisor 8: closer than 5.
    EXPECT_TRUE(barcode::CharWidthPasses(44, 40, 8));
    EXPECT_FALSE(barcode::CharWidthPasses(45, 40, 8));
    // The first character is compared with itself: it needs a width of at
    // least the divisor.
    EXPECT_FALSE(barcode::CharWidthPasses(3, 3, 4));
    EXPECT_TRUE(barcode::CharWidthPasses(4, 4, 4));
    EXPECT_FALSE(barcode::CharWidthPasses(7, 7, 8));
    EXPECT_TRUE(barcode::CharWidthPasses(8, 8, 8));
}

TEST(CandidateTests, QuietZoneEdges)
{
    EXPECT_FALSE(barcode::LeadingQuietZonePasses(69, 100)); // must be wider than 0.69 F
    EXPECT_TRUE(barcode::LeadingQuietZonePasses(70, 100));
    EXPECT_TRUE(barcode::TrailingQuietZonePasses(69, 100)); // exactly 0.69 C passes
    EXPECT_FALSE(barcode::TrailingQuietZonePasses(68, 100));
    EXPECT_FALSE(barcode::LeadingQuietZonePasses(0, 0));
    EXPECT_TRUE(barcode::TrailingQuietZonePasses(0, 0));
}

TEST(EanVote, SecondReadOfTheSameTextIsReported)
{
    testing_runs::RunBuilder builder;
    builder.Light(100).Modules(testing_runs::Ean13Modules("1234567890128"), 10).Light(100);
    barcode::RunLine line = testing_runs::View(builder.Runs());
    barcode::EAN13BarcodeType decoder;

    barcode::Result out;
    out.value = "untouched";
    out.type = 99;
    EXPECT_FALSE(decoder.Decode(line, out));
    EXPECT_FALSE(decoder.m_found);
    EXPECT_EQ(out.value, "untouched");
    EXPECT_EQ(out.type, 99);

    EXPECT_TRUE(decoder.Decode(line, out));
    EXPECT_TRUE(decoder.m_found);
    EXPECT_EQ(out.value, "1234567890128");
    EXPECT_EQ(out.type, barcode::TYPE_EAN13);

    barcode::Result third;
    EXPECT_TRUE(decoder.Decode(line, third));
    EXPECT_EQ(third.value, "1234567890128");
    EXPECT_EQ(decoder.m_votes.at("1234567890128"), 3);

    decoder.Reset();
    EXPECT_TRUE(decoder.m_votes.empty());
    barcode::Result afterReset;
    EXPECT_FALSE(decoder.Decode(line, afterReset));
    EXPECT_EQ(afterReset.type, barcode::TYPE_NONE);
}

TEST(EanVote, DifferentTextsAreCountedApart)
{
    testing_runs::RunBuilder first;
    first.Light(100).Modules(testing_runs::Ean13Modules("1234567890128"), 10).Light(100);
    testing_runs::RunBuilder second;
    second.Light(100).Modules(testing_runs::UpcAModules("012345678905"), 10).Light(100);
    barcode::EAN13BarcodeType decoder;
    barcode::Result out;
    EXPECT_FALSE(decoder.Decode(testing_runs::View(first.Runs()), out));
    EXPECT_FALSE(decoder.Decode(testing_runs::View(second.Runs()), out));
    EXPECT_EQ(decoder.m_votes.size(), 2u);
    EXPECT_EQ(out.type, barcode::TYPE_NONE);
    EXPECT_TRUE(decoder.Decode(testing_runs::View(second.Runs()), out));
    EXPECT_EQ(out.value, "012345678905");
    EXPECT_EQ(out.type, barcode::TYPE_UPCA);
}

} // namespace
