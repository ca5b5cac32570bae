// The UPC-E decoder on hand-built run lines, read from either end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ean_encoder.h"
#include "round_trip.h"
#include "run_builder.h"
#include "upce.h"

namespace {

using testing_runs::Reversed;
using testing_runs::RunBuilder;
using testing_runs::UpcEModules;
using testing_runs::UpcEModulesWithParity;

std::string ReadOnce(std::vector<int16_t> widths)
{
    barcode::UPCEBarcodeType decoder;
    barcode::Result out;
    decoder.Decode(testing_runs::View(widths), out);
    if (decoder.m_votes.empty())
        return "";
    EXPECT_TRUE(decoder.Decode(testing_runs::View(widths), out));
    EXPECT_EQ(out.type, barcode::TYPE_UPCE);
    EXPECT_EQ(out.value, decoder.m_votes.begin()->first);
    return out.value;
}

std::vector<int16_t> Plain(const std::vector<int>& modules, int unit = 10, int quiet = 100)
{
    RunBuilder builder;
    builder.Light(quiet).Modules(modules, unit).Light(quiet);
    return builder.Runs();
}

TEST(UpcEDecoder, ParityTables)
{
    struct Case {
        int system, mask, check;
    };
    const Case cases[] = {{0, 7, 0}, {0, 11, 1}, {0, 13, 2}, {0, 26, 9}, {1, 56, 0}, {1, 52, 1}};
    for (const Case& c : cases)
        EXPECT_EQ(barcode::UpcEParityTables[c.system][c.mask], c.check) << c.system << " " << c.mask;
    for (int system = 0; system < 2; ++system) {
        int patterns = 0;
        for (int mask = 0; mask < 64; ++mask)
            patterns += barcode::UpcEParityTables[system][mask] != barcode::EanNoDigit;
        EXPECT_EQ(patterns, 10);
    }
}

TEST(UpcEDecoder, ReadsInBothDirections)
{
    EXPECT_EQ(testing_runs::UpcEText(0, "123456"), "01234565");
    EXPECT_EQ(testing_runs::UpcEParity(0, 5), "GLLGGL");
    EXPECT_EQ(testing_runs::UpcEParity(1, 2), "LLGGLG");
    for (const std::string value : {"01234565", "11234562", "01234531", "01234572", "04252614", "10123403"}) {
        ASSERT_EQ(testing_runs::UpcEText(value[0] - '0', value.substr(1, 6)), value);
        for (int unit : {10, 23, 40}) {
            const std::vector<int16_t> line = Plain(UpcEModules(value), unit, 10 * unit);
            EXPECT_EQ(ReadOnce(line), value) << unit;
            EXPECT_EQ(ReadOnce(Reversed(line)), value) << unit << " reversed";
        }
    }
}

TEST(UpcEDecoder, RejectsUnknownParityAndUnconfirmedCheckDigits)
{
    // LLLLLL is in neither table.
    EXPECT_EQ(ReadOnce(Plain(UpcEModulesWithParity("123456", "LLLLLL"))), "");
    // The pattern of check digit 4 on digits whose expansion gives 5.
    const std::vector<int> wrongCheck = UpcEModulesWithParity("123456", testing_runs::UpcEParity(0, 4));
    EXPECT_EQ(ReadOnce(Plain(wrongCheck)), "");
    EXPECT_EQ(ReadOnce(Reversed(Plain(wrongCheck))), "");

    // A symbol that fails its check is passed over whole; the next one is read.
    RunBuilder two;
    two.Light(100).Modules(wrongCheck, 10).Light(100).Modules(UpcEModules("01234531"), 10).Light(100);
    EXPECT_EQ(ReadOnce(two.Runs()), "01234531");
    EXPECT_EQ(ReadOnce(Reversed(two.Runs())), "01234531");
}

// After a whole candidate whose digits fail, each walk goes on at the run
// after the candidate's trailing quiet zone, 34 runs on. The first symbol
// of each line has characters of 10 tenths per module; the second begins
// inside it, with the first one's trailing quiet zone as one of its spaces.
// The decoys carry the parity of a check digit their digits do not give.
// Left to right the decoy comes first; for the walk from the right the
// valid symbol comes first and the line is turned round. The decoy's failure skips the other symbol;
// blanking the bar the walk meets first makes it go on two runs at a time,
// and then it is found.
TEST(UpcEDecoder, BothWalksResumeAfterTheTrailingQuietZoneWhenTheDigitsFail)
{
    struct Case {
        const char* name;
        int guard;                             // tenths per module of the first symbol's guards
        std::vector<std::pair<int, int>> runs; // its runs of other widths: index, tenths
        int shared;                            // its trailing quiet zone
        int from;                              // first run of the second symbol after it
        int unit;                              // tenths per module of the second symbol
    };
    const Case cases[] = {
        // The first symbol's last three guard runs are the second's start
        // guard, its widened guard space the leading quiet zone, and its
        // trailing quiet zone the first space of the second (G6: 4 modules).
        {"symbol at 30", 25, {{29, 65}}, 52, 4, 13},
        // The first symbol's last bar is the second's first bar, its last
        // guard space the leading quiet zone, its trailing quiet zone the
        // second's start guard space.
        {"symbol at 32", 28, {{31, 83}}, 49, 2, 17},
    };
    auto scaled = [](const std::vector<int>& modules, const Case& c) {
        std::vector<int> tenths;
        for (int k = 0; k < static_cast<int>(modules.size()); ++k) {
            const bool guard = k < 3 || k >= 27;
            tenths.push_back(modules[static_cast<std::size_t>(k)] * (guard ? c.guard : 10));
        }
        for (const auto& run : c.runs)
            tenths[static_cast<std::size_t>(run.first)] = run.second;
        return tenths;
    };
    const std::string second = testing_runs::UpcEText(0, "612345");
    const std::vector<int> secondDecoy =
        UpcEModulesWithParity("612345", testing_runs::UpcEParity(0, (second[7] - '0' + 1) % 10));
    const std::string first = "01234565";
    const std::vector<int> firstDecoy = UpcEModulesWithParity("123456", testing_runs::UpcEParity(0, 4));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int16_t> forward =
            testing_runs::Overlapped(scaled(firstDecoy, c), c.shared, UpcEModules(second), c.from, c.unit);
        EXPECT_EQ(ReadOnce(forward), "");
        EXPECT_EQ(ReadOnce(testing_runs::WithoutFirstBar(forward)), second) << "a walk on at i + 2 finds it";

        const std::vector<int16_t> backward =
            Reversed(testing_runs::Overlapped(scaled(UpcEModules(first), c), c.shared, secondDecoy, c.from, c.unit));
        EXPECT_EQ(ReadOnce(backward), "");
        EXPECT_EQ(ReadOnce(testing_runs::WithoutFirstBar(backward)), first) << "a walk on at j + 2 finds it";
    }

    // Past the decoy's trailing quiet zone a symbol is read, from either end.
    RunBuilder forward;
    forward.Light(300).Modules(firstDecoy, 10).Light(100).Modules(UpcEModules(second), 10).Light(300);
    EXPECT_EQ(ReadOnce(forward.Runs()), second);
    RunBuilder backward;
    backward.Light(300).Modules(UpcEModules(first), 10).Light(100).Modules(secondDecoy, 10).Light(300);
    EXPECT_EQ(ReadOnce(Reversed(backward.Runs())), first);
}

TEST(UpcEDecoder, CharacterWidthEdgeIsAnEighth)
{
    // At 40 tenths per module a character is 280: the next must be closer
    // to it than 35.
    const std::vector<int> modules = UpcEModules("01234565");
    auto line = [&](int widthOfLast) {
        std::vector<int> widths;
        for (int m : modules)
            widths.push_back(40 * m);
        const int last = 3 + 4 * 5;
        int widest = last;
        for (int k = last; k < last + 4; ++k) {
            widths[k] = modules[k] * 45;
            if (widths[k] > widths[widest])
                widest = k;
        }
        widths[widest] += widthOfLast - 315;
        RunBuilder builder;
        builder.Light(400).Widths(widths).Light(400);
        return builder.Runs();
    };
    EXPECT_EQ(ReadOnce(line(314)), "01234565");
    EXPECT_EQ(ReadOnce(line(315)), "");
    EXPECT_EQ(ReadOnce(Reversed(line(314))), "01234565");
    EXPECT_EQ(ReadOnce(Reversed(line(315))), "");
}

TEST(UpcEDecoder, EdgeToEdgeDistancesMustAgreeWithTheCodes)
{
    // At 40 tenths per module character 0 (G1: space 1, bar 2, space 2,
    // bar 2) is 40 80 80 80. Moving the edge between its last space and
    // bar by d keeps its code and its width, but its second edge-to-edge
    // distance becomes 4 modules and d / 40: under 0.45 of a module reads.
    auto line = [](int d) {
        std::vector<int> widths;
        for (int m : UpcEModules("01234565"))
            widths.push_back(40 * m);
        widths[3 + 2] += d;
        widths[3 + 3] -= d;
        RunBuilder builder;
        builder.Light(400).Widths(widths).Light(400);
        return builder.Runs();
    };
    EXPECT_EQ(ReadOnce(line(17)), "01234565");
    EXPECT_EQ(ReadOnce(line(18)), "");
    EXPECT_EQ(ReadOnce(Reversed(line(17))), "01234565");
    EXPECT_EQ(ReadOnce(Reversed(line(18))), "");
}

// Lines that the filter made of rendered prints, on which two characters
// fitted the wrong templates and their digits still named the check digit
// of the parity pattern: "16981530" at 2 px per module, nearly sharp, read
// as "16281337", "10406465" as "10406009", "08644446" as "10641440" and
// "16488201" as "16108204". Their edge-to-edge distances give them away.
TEST(UpcEDecoder, MisreadCharactersWhoseEdgesDisagreeReadNothing)
{
    const std::vector<int16_t> lines[] = {
        {0, 126, 64, 75, 45, 75, 25, 273, 27, 14, 26, 13, 27, 13, 87, 50, 30, 10, 50, 10, 50, 10, 70, 10, 50, 30,
         50, 10, 70, 30, 30, 10, 30, 70, 29, 11, 29, 11, 29, 11, 29, 401},
        {0, 144, 66, 27, 42, 38, 28, 25, 90, 292, 28, 20, 25, 20, 25, 20, 21, 20, 36, 71, 57, 49, 31, 25, 80, 23,
         26, 22, 64, 36, 29, 20, 24, 26, 62, 37, 30, 21, 45, 55, 30, 20, 30, 317, 92, 43, 95, 163},
        {0, 454, 26, 20, 21, 19, 25, 19, 25, 20, 67, 34, 25, 20, 69, 35, 51, 50, 30, 20, 47, 53, 27, 20, 83, 20,
         23, 19, 28, 30, 35, 54, 24, 19, 28, 410, 35, 115},
        {0, 234, 49, 332, 37, 28, 30, 28, 32, 29, 114, 29, 44, 70, 72, 71, 49, 42, 36, 30, 55, 32, 95, 46, 61, 32,
         56, 29, 37, 47, 92, 29, 33, 26, 33, 24, 44, 566, 37, 30, 96, 194},
    };
    for (const std::vector<int16_t>& line : lines) {
        EXPECT_EQ(ReadOnce(line), "") << line.size() << " runs";
        EXPECT_EQ(ReadOnce(Reversed(line)), "") << line.size() << " runs, reversed";
    }
}

TEST(UpcEDecoder, QuietZoneEdgesFromEitherEnd)
{
    // Character 0 is 100 tenths wide, character 5 is 90, the rest 98: a
    // quiet zone before the symbol must be wider than 69, one after it at
    // least 62.1. Read from the right, the same zones are tested against the
    // same characters.
    const std::vector<int> modules = UpcEModules("01234565"); // G1 L2 L3 G4 G5 L6
    std::vector<int> widths;
    for (int m : modules)
        widths.push_back(14 * m);
    auto setChar = [&](int k, std::vector<int> runs, int width) {
        int sum = 0;
        for (int r = 0; r < 4; ++r) {
            widths[3 + 4 * k + r] = runs[r];
            sum += runs[r];
        }
        ASSERT_EQ(sum, width);
    };
    // Character 0 is G1 (0110011: 1, 2, 2, 2 modules), character 5 is L6
    // (0101111: 1, 1, 1, 4 modules).
    setChar(0, {14, 29, 28, 29}, 100);
    setChar(5, {13, 13, 13, 51}, 90);
    auto line = [&](int before, int after) {
        RunBuilder builder;
        builder.Light(before).Widths(widths).Light(after);
        return builder.Runs();
    };
    EXPECT_EQ(ReadOnce(line(70, 63)), "01234565");
    EXPECT_EQ(ReadOnce(line(69, 63)), "");
    EXPECT_EQ(ReadOnce(line(70, 62)), "");
    EXPECT_EQ(ReadOnce(Reversed(line(70, 63))), "01234565");
    EXPECT_EQ(ReadOnce(Reversed(line(69, 63))), "");
    EXPECT_EQ(ReadOnce(Reversed(line(70, 62))), "");

    // No light run at all before the first bar, or after the last.
    RunBuilder noLeading;
    noLeading.Modules(modules, 10).Light(100);
    EXPECT_EQ(ReadOnce(noLeading.Runs()), "");
    EXPECT_EQ(ReadOnce(Reversed(noLeading.Runs())), "");
    RunBuilder noTrailing;
    noTrailing.Light(100).Modules(modules, 10);
    EXPECT_EQ(ReadOnce(noTrailing.Runs()), "");
    EXPECT_EQ(ReadOnce(Reversed(noTrailing.Runs())), "");
}

TEST(UpcEDecoder, AGapBreaksTheSymbol)
{
    for (int run : {2 + 1, 2 + 13, 2 + 29}) { // start guard space, a character space, end guard space
        std::vector<int16_t> line = Plain(UpcEModules("01234565"));
        line[run] = 60;
        EXPECT_EQ(ReadOnce(line), "") << run;
        EXPECT_EQ(ReadOnce(Reversed(line)), "") << run;
    }
}

TEST(UpcEDecoder, BothReadingsAgreeOnNoisySymbols)
{
    // The backward walk accepts exactly what the forward one accepts on the
    // mirrored line: whatever one direction reads, the other reads the same.
    const unsigned seed = 4242;
    std::mt19937 random(seed);
    int reads = 0;
    for (int n = 0; n < 600; ++n) {
        std::string digits;
        for (int k = 0; k < 6; ++k)
            digits += static_cast<char>('0' + random() % 10);
        const std::string value = testing_runs::UpcEText(static_cast<int>(random() % 2), digits);
        const int unit = std::uniform_int_distribution<int>(12, 30)(random);
        // Noise up to a third of a module in every run: some symbols fail,
        // and must fail both ways. (Run by run it moves an edge-to-edge
        // distance by up to two thirds of a module, which the edge check
        // turns away more often than a blurred print's edges do.)
        const std::vector<int16_t> line = testing_runs::SymbolInJunk(UpcEModules(value), unit, unit / 3, 7, random);
        const std::string forward = ReadOnce(line);
        ASSERT_EQ(forward, ReadOnce(Reversed(line))) << "seed " << seed << " symbol " << n;
        if (!forward.empty()) {
            ASSERT_EQ(forward, value) << "seed " << seed << " symbol " << n;
            ++reads;
        }
    }
    EXPECT_GT(reads, 200);
}

TEST(UpcEDecoder, SeededRoundTrip)
{
    testing_runs::RoundTrip<barcode::UPCEBarcodeType>(9001, 400, [](std::mt19937& random) {
        std::string digits;
        for (int k = 0; k < 6; ++k)
            digits += static_cast<char>('0' + random() % 10);
        const std::string value = testing_runs::UpcEText(static_cast<int>(random() % 2), digits);
        return testing_runs::RoundTripSymbol{value, UpcEModules(value)};
    });
}

} // namespace
