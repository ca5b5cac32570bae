// The EAN-8 decoder on hand-built run lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ean8.h"
#include "ean_encoder.h"
#include "round_trip.h"
#include "run_builder.h"

namespace {

using testing_runs::Ean8Modules;
using testing_runs::Reversed;
using testing_runs::RunBuilder;

// What one Decode call read from the line (its vote), or "" for nothing.
std::string ReadOnce(std::vector<int16_t> widths)
{
    barcode::EAN8BarcodeType decoder;
    barcode::Result out;
    decoder.Decode(testing_runs::View(widths), out);
    if (decoder.m_votes.empty())
        return "";
    EXPECT_TRUE(decoder.Decode(testing_runs::View(widths), out)); // the second line confirms it
    EXPECT_EQ(out.type, barcode::TYPE_EAN8);
    EXPECT_EQ(out.value, decoder.m_votes.begin()->first);
    return out.value;
}

std::vector<int16_t> Plain(const std::vector<int>& modules, int unit = 10, int quiet = 100)
{
    RunBuilder builder;
    builder.Light(quiet).Modules(modules, unit).Light(quiet);
    return builder.Runs();
}

TEST(Ean8Decoder, ReadsInBothDirections)
{
    for (const std::string value : {"55123457", "96385074", "00000000", "12345670"}) {
        for (int unit : {10, 23, 40}) {
            const std::vector<int16_t> line = Plain(Ean8Modules(value), unit, 10 * unit);
            EXPECT_EQ(ReadOnce(line), value) << unit;
            EXPECT_EQ(ReadOnce(Reversed(line)), value) << unit << " reversed";
        }
    }
}

TEST(Ean8Decoder, RejectsWrongCheckDigitAndGLeftCharacters)
{
    EXPECT_EQ(ReadOnce(Plain(Ean8Modules("55123458"))), "");
    EXPECT_EQ(ReadOnce(Reversed(Plain(Ean8Modules("55123458")))), "");

    // EAN-8 has no parity pattern: a left character from G is no digit.
    std::vector<int> modules = Ean8Modules("55123457");
    const std::vector<int> g = testing_runs::CodeRuns(testing_runs::DigitModules('G', 1));
    std::copy(g.begin(), g.end(), modules.begin() + 3 + 4 * 2);
    EXPECT_EQ(ReadOnce(Plain(modules)), "");

    // A wrong symbol is passed over whole; the next one is read.
    RunBuilder two;
    two.Light(100).Modules(Ean8Modules("55123458"), 10).Light(100).Modules(Ean8Modules("96385074"), 10).Light(100);
    EXPECT_EQ(ReadOnce(two.Runs()), "96385074");
}

TEST(Ean8Decoder, QuietZoneEdges)
{
    // Left character 0 is 100 tenths wide, left character 3 is 96, the rest
    // 98: a quiet zone before the symbol must be wider than 0.69 x 100, one
    // after it at least 0.69 x 96 (66.24).
    const std::vector<int> modules = Ean8Modules("55123457");
    std::vector<int> widths;
    for (int m : modules)
        widths.push_back(14 * m);
    const int char0 = 3;
    const int char3 = 3 + 4 * 3;
    const int first[4] = {14, 29, 43, 14};  // digit 5: 1, 2, 3, 1 modules
    const int fourth[4] = {27, 14, 27, 28}; // digit 2: 2, 1, 2, 2 modules
    for (int k = 0; k < 4; ++k) {
        widths[char0 + k] = first[k];
        widths[char3 + k] = fourth[k];
    }
    auto line = [&](int before, int after) {
        RunBuilder builder;
        builder.Light(before).Widths(widths).Light(after);
        return builder.Runs();
    };
    EXPECT_EQ(ReadOnce(line(70, 67)), "55123457");
    EXPECT_EQ(ReadOnce(line(69, 67)), "");
    EXPECT_EQ(ReadOnce(line(70, 66)), "");
    // Met from the other end, the quiet zones are measured against the
    // right half's characters, 98 wide: 69 is enough on both sides.
    EXPECT_EQ(ReadOnce(Reversed(line(69, 69))), "55123457");

    // No light run at all before the first bar, or after the last.
    RunBuilder noLeading;
    noLeading.Modules(modules, 10).Light(100);
    EXPECT_EQ(ReadOnce(noLeading.Runs()), "");
    RunBuilder noTrailing;
    noTrailing.Light(100).Modules(modules, 10);
    EXPECT_EQ(ReadOnce(noTrailing.Runs()), "");
}

// After a whole candidate whose digits fail, the walk goes on at the run
// after its trailing quiet zone, i + 44. The decoy reads 55123456 (7 is
// due), with characters of 10 tenths per module. A symbol of 17 tenths per
// module that begins inside it, with the decoy's trailing quiet zone as one
// of its spaces, is skipped; blanking the decoy's first bar makes the walk go
// on two runs at a time, and then it is found. Past the decoy's trailing
// quiet zone, a symbol is read.
TEST(Ean8Decoder, ResumesAfterTheTrailingQuietZoneWhenTheDigitsFail)
{
    struct Case {
        const char* name;
        int guard;                             // tenths per module of the decoy's guards
        std::vector<std::pair<int, int>> runs; // decoy runs of other widths: index, tenths
        int shared;                            // the decoy's trailing quiet zone
        int from;                              // first run of the other symbol after it
    };
    const Case cases[] = {
        // The decoy's end guard is the symbol's start guard, the decoy's last
        // space (R6 at 21 tenths per module: 1, 1, 1, 4) its leading quiet
        // zone, and the trailing quiet zone its first space (L0: 3 modules).
        {"symbol at 40", 17, {{36, 21}, {37, 21}, {38, 21}, {39, 84}}, 51, 4},
        // The decoy's last bar is the symbol's first, the decoy's last guard
        // space its leading quiet zone, the trailing quiet zone its start
        // guard space.
        {"symbol at 42", 28, {{41, 83}}, 49, 2},
    };
    const std::vector<int> decoyModules = Ean8Modules("55123456");
    const std::string text = "01234565";
    const std::vector<int> real = Ean8Modules(text);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> decoy;
        for (int k = 0; k < static_cast<int>(decoyModules.size()); ++k) {
            const bool guard = k < 3 || (k >= 19 && k < 24) || k >= 40;
            decoy.push_back(decoyModules[static_cast<std::size_t>(k)] * (guard ? c.guard : 10));
        }
        for (const auto& run : c.runs)
            decoy[static_cast<std::size_t>(run.first)] = run.second;
        const std::vector<int16_t> line = testing_runs::Overlapped(decoy, c.shared, real, c.from, 17);
        EXPECT_EQ(ReadOnce(line), "");
        EXPECT_EQ(ReadOnce(testing_runs::WithoutFirstBar(line)), text) << "a walk on at i + 2 finds it";

        RunBuilder apart;
        apart.Light(300).Widths(decoy).Light(100).Modules(real, 10).Light(300);
        EXPECT_EQ(ReadOnce(apart.Runs()), text);
    }
}

TEST(Ean8Decoder, LeftCharacterWidthEdge)
{
    // At 40 tenths per module a character is 280: the next must be closer
    // to it than 70.
    const std::vector<int> modules = Ean8Modules("55123457");
    auto line = [&](int unit, int extra) {
        std::vector<int> widths;
        for (int m : modules)
            widths.push_back(40 * m);
        const int char3 = 3 + 4 * 3;
        int widest = char3;
        for (int k = char3; k < char3 + 4; ++k) {
            widths[k] = unit * modules[k];
            if (widths[k] > widths[widest])
                widest = k;
        }
        widths[widest] += extra;
        RunBuilder builder;
        builder.Light(400).Widths(widths).Light(400);
        return builder.Runs();
    };
    EXPECT_EQ(ReadOnce(line(50, -1)), "55123457");
    EXPECT_EQ(ReadOnce(line(50, 0)), "");
    EXPECT_EQ(ReadOnce(line(30, 1)), "55123457");
    EXPECT_EQ(ReadOnce(line(30, 0)), "");
}

TEST(Ean8Decoder, AGapBreaksTheSymbol)
{
    // A wide space in the middle: the centre guard's spaces fail.
    std::vector<int16_t> line = Plain(Ean8Modules("55123457"));
    line[2 + 21] = 60;
    EXPECT_EQ(ReadOnce(line), "");
    EXPECT_EQ(ReadOnce(Reversed(line)), "");
    // Too wide a space inside a character makes it unreadable.
    std::vector<int16_t> inChar = Plain(Ean8Modules("55123457"));
    inChar[2 + 25] = 90;
    EXPECT_EQ(ReadOnce(inChar), "");
}

TEST(Ean8Decoder, SeededRoundTrip)
{
    testing_runs::RoundTrip<barcode::EAN8BarcodeType>(8001, 400, [](std::mt19937& random) {
        std::string data;
        for (int k = 0; k < 7; ++k)
            data += static_cast<char>('0' + random() % 10);
        const std::string value = data + static_cast<char>('0' + testing_runs::CheckDigit(data));
        return testing_runs::RoundTripSymbol{value, Ean8Modules(value)};
    });
}

} // namespace
