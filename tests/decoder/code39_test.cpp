#include "code39.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iostream>
#include <optional>
#include <random>
#include <string>

#include "code_runs.h"

namespace {

using barcode::CODE39BarcodeType;
using coderuns::Code39Character;
using coderuns::Code39Elements;
using coderuns::Elements;
using coderuns::LineBuilder;
using coderuns::TestLine;

constexpr double kModule = 30.0; // tenths of a pixel

using coderuns::Mirrored;

LineBuilder Framed(const Elements& symbol, double module = kModule)
{
    return coderuns::Framed(symbol, module);
}

std::optional<std::string> Decode(const LineBuilder& builder)
{
    return coderuns::DecodeWith<CODE39BarcodeType>(builder, barcode::TYPE_CODE39);
}

void ExpectBothWays(LineBuilder line, const std::optional<std::string>& expected)
{
    coderuns::ExpectBothWaysWith<CODE39BarcodeType>(line, barcode::TYPE_CODE39, expected);
}

TEST(Code39, ReadsSymbolsInBothDirections)
{
    struct Case {
        std::string data;
        double wide;   // modules
        double module; // tenths of a pixel
    };
    const Case cases[] = {
        {"A", 2.5, kModule},
        {"CODE39", 2.0, 20.0},
        {"CODE39", 3.0, 45.0},
        {"ABC-123W", 2.5, kModule},         // a mod-43 check character stays in the value
        {"H+E+L+L+O", 2.5, kModule},        // no full-ASCII combination
        {"$/+%", 2.2, 25.0},
        {"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%", 2.5, 15.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        ExpectBothWays(Framed(Code39Elements(c.data, c.wide), c.module), c.data);
    }
}

TEST(Code39, LineLengthLimits)
{
    // Too short to hold a symbol: no run is read.
    for (int count : {0, 1, 27}) {
        CODE39BarcodeType decoder;
        barcode::Result result;
        EXPECT_FALSE(decoder.Decode(barcode::RunLine{count, nullptr}, result)) << count;
    }

    // The shortest symbol, "*A*", fills exactly 29 runs.
    LineBuilder tight;
    tight.Symbol(Code39Elements("A"), kModule);
    ASSERT_EQ(tight.RunCount(), 29);
    ExpectBothWays(tight, std::string("A"));

    std::vector<int16_t> cut = tight.Widths();
    cut.pop_back();
    TestLine shortLine(cut);
    CODE39BarcodeType decoder;
    barcode::Result result;
    EXPECT_FALSE(decoder.Decode(shortLine.Line(), result));
}

TEST(Code39, StartFollowedByStopIsNoSymbol)
{
    // Enough print after "**" for its start to lie where the line is
    // searched (more than 27 runs before the line's end).
    LineBuilder line;
    line.Light(600).Dark(60).Light(600);
    line.Symbol(Code39Elements(""), kModule);
    line.Light(600).Dark(60).Light(600);
    for (int k = 0; k < 6; ++k)
        line.Dark(60).Light(60);
    ASSERT_GT(line.RunCount(), 4 + 27);
    ExpectBothWays(line, std::nullopt);
}

// Characters of "AB" at 30 tenths per module, wide 2.5: 405 tenths each.
constexpr double kCharWidth = (3 * 2.5 + 6) * kModule;

TEST(Code39, LeadingQuietZone)
{
    struct Case {
        double quiet;   // light run before the start character
        bool readable;
    };
    // The quiet zone and the bar before it must together exceed the start
    // character's width.
    const Case cases[] = {
        {kCharWidth - 2 * kModule, false},
        {kCharWidth - 2 * kModule + 1, true},
    };
    for (const Case& c : cases) {
        for (bool mirrored : {false, true}) {
            SCOPED_TRACE(testing::Message() << "quiet " << c.quiet << (mirrored ? " mirrored" : ""));
            const Elements symbol = Code39Elements("AB");
            LineBuilder line;
            line.Light(600).Dark(2 * kModule).Light(c.quiet);
            line.Symbol(mirrored ? Mirrored(symbol) : symbol, kModule);
            line.Light(600).Dark(2 * kModule).Light(600);
            EXPECT_EQ(Decode(line), c.readable ? std::optional<std::string>("AB") : std::nullopt);
        }
    }

    // A start character at run 0 or 2 is the beginning of the line: no test.
    LineBuilder atRun0;
    atRun0.Symbol(Code39Elements("AB"), kModule).Light(600);
    EXPECT_EQ(Decode(atRun0), "AB");
    LineBuilder atRun2;
    atRun2.Light(10).Symbol(Code39Elements("AB"), kModule).Light(600);
    EXPECT_EQ(Decode(atRun2), "AB");
    LineBuilder atRun2Dark;
    atRun2Dark.Dark(10).Light(10).Symbol(Code39Elements("AB"), kModule).Light(600);
    EXPECT_EQ(Decode(atRun2Dark), "AB");
}

TEST(Code39, TrailingTestOnShortSymbols)
{
    // After the stop character: the light run, then a bar and a light run
    // that must together exceed the stop character's width when the symbol
    // has at most three data characters.
    struct Case {
        std::string data;
        std::vector<double> after; // runs after the light run behind the stop
        bool readable;
    };
    const Case cases[] = {
        {"ABC", {60, kCharWidth - 60}, false},
        {"ABC", {60, kCharWidth - 60 + 1}, true},
        {"A", {kCharWidth, 0}, false},
        {"ABCD", {60, 60}, true},  // four data characters: not tested
        {"A", {}, true},           // the line ends in the light run
        {"A", {60}, true},         // only one run follows it
    };
    for (const Case& c : cases) {
        for (bool mirrored : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.data << " after " << c.after.size() << " runs"
                                            << (mirrored ? " mirrored" : ""));
            const Elements symbol = Code39Elements(c.data);
            LineBuilder line;
            line.Light(600).Symbol(mirrored ? Mirrored(symbol) : symbol, kModule).Light(600);
            for (size_t k = 0; k < c.after.size(); ++k) {
                if (k % 2 == 0)
                    line.Dark(c.after[k]);
                else
                    line.Light(c.after[k]);
            }
            EXPECT_EQ(Decode(line), c.readable ? std::optional<std::string>(c.data) : std::nullopt);
        }
    }
}

TEST(Code39, ReadCharacterTolerances)
{
    using Runs = std::array<int16_t, 9>;
    struct Case {
        const char* name;
        Runs runs;
        int32_t charWidth; // before the call; 0: first character of a read
        int32_t narrow;
        bool reversed;
        char expected;
        int32_t charWidthAfter;
        int32_t narrowAfter;
        bool reversedAfter;
    };
    // "A" is w n n n n w n n w; at 40 and 100 tenths it is 540 wide.
    const Runs a = {100, 40, 40, 40, 40, 100, 40, 40, 100};
    const Runs aMirrored = {100, 40, 40, 100, 40, 40, 40, 40, 100};
    const Runs star = {40, 100, 40, 40, 100, 40, 100, 40, 40};
    const Runs starMirrored = {40, 40, 100, 40, 100, 40, 40, 100, 40};
    const Case cases[] = {
        {"nine equal widths: the first three are wide", {40, 40, 40, 40, 40, 40, 40, 40, 40}, 0, 0, false, 'W', 360, 40, false},
        {"start character forwards", star, 0, 0, true, '*', 540, 40, false},
        {"start character backwards", starMirrored, 0, 0, false, '*', 540, 40, true},
        {"mirrored start inside a read is P", starMirrored, 540, 40, false, 'P', 540, 40, false},
        {"later character of a reversed read", aMirrored, 540, 40, true, 'A', 540, 40, true},
        {"narrower by a quarter", a, 720, 40, false, 'A', 540, 40, false},
        {"narrower by more than a quarter", a, 721, 40, false, 0, 721, 40, false},
        {"wider by a quarter", a, 432, 40, false, 'A', 540, 40, false},
        {"wider by more than a quarter", a, 431, 40, false, 0, 431, 40, false},
        {"narrowest 30 % off the reference", {162, 65, 65, 65, 65, 162, 65, 65, 162}, 0, 50, false, 'A', 876, 57, false},
        {"narrowest more than 30 % off", {162, 66, 66, 66, 66, 162, 66, 66, 162}, 0, 50, false, 0, 882, 50, false},
        {"narrowest 30 % under the reference", {100, 35, 35, 35, 35, 100, 35, 35, 100}, 0, 50, false, 'A', 510, 42, false},
        {"narrowest more than 30 % under", {100, 34, 34, 34, 34, 100, 34, 34, 100}, 0, 50, false, 0, 504, 50, false},
        {"wide three times narrow", {120, 40, 40, 40, 40, 120, 40, 40, 120}, 0, 0, false, 'A', 600, 40, false},
        {"wide more than three times narrow", {121, 40, 40, 40, 40, 121, 40, 40, 121}, 0, 0, false, 0, 603, 0, false},
        {"widest twice the third widest", {200, 40, 40, 40, 40, 100, 40, 40, 100}, 0, 0, false, 'A', 640, 40, false},
        {"widest more than twice the third", {201, 40, 40, 40, 40, 100, 40, 40, 100}, 0, 0, false, 0, 641, 0, false},
        {"narrow spread 2.5", {150, 100, 40, 40, 40, 150, 40, 40, 150}, 0, 0, false, 'A', 750, 40, false},
        {"narrow spread above 2.5", {150, 101, 40, 40, 40, 150, 40, 40, 150}, 0, 0, false, 0, 751, 0, false},
        {"no character", {100, 100, 40, 100, 40, 40, 40, 40, 40}, 540, 40, false, 0, 540, 40, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CODE39BarcodeType decoder;
        decoder.m_charWidth = c.charWidth;
        decoder.m_narrowWidth = c.narrow;
        decoder.m_reversed = c.reversed;
        EXPECT_EQ(decoder.ReadCharacter(c.runs.data()), c.expected);
        EXPECT_EQ(decoder.m_charWidth, c.charWidthAfter);
        EXPECT_EQ(decoder.m_narrowWidth, c.narrowAfter);
        EXPECT_EQ(decoder.m_reversed, c.reversedAfter);
    }
}

TEST(Code39, CharacterWidthChangeWithinARead)
{
    // "*AB*" at 40 and 100 tenths: 540 tenths a character. An "A" drawn 1.25
    // times as wide (675) is still read; one tenth more ends the read.
    const Elements star = Code39Character('*');
    const Elements b = Code39Character('B');
    for (double lastWide : {125.0, 126.0}) {
        SCOPED_TRACE(lastWide);
        const Elements scaledA = {125, 50, 50, 50, 50, 125, 50, 50, lastWide};
        LineBuilder line;
        line.Light(800).Symbol(star, 40).Light(40).Symbol(scaledA, 1).Light(40);
        line.Symbol(b, 40).Light(40).Symbol(star, 40).Light(800);
        ExpectBothWays(line, lastWide == 125.0 ? std::optional<std::string>("AB") : std::nullopt);
    }
}

TEST(Code39, BrokenSymbols)
{
    const Elements symbol = Code39Elements("CODE39");

    // A light gap of ten modules in place of a space inside "O".
    Elements gap = symbol;
    gap[2 * 10 + 3] = 10;
    ExpectBothWays(Framed(gap), std::nullopt);

    // A bar lost inside "D": the spaces around it merge into one run.
    Elements lost = symbol;
    lost[3 * 10 + 3] += lost[3 * 10 + 4] + lost[3 * 10 + 5];
    lost.erase(lost.begin() + 3 * 10 + 4, lost.begin() + 3 * 10 + 6);
    ExpectBothWays(Framed(lost), std::nullopt);

    // The last bar of "3", a narrow one, smeared to six modules.
    Elements wide = symbol;
    wide[5 * 10 + 8] = 6;
    ExpectBothWays(Framed(wide), std::nullopt);
}

TEST(Code39, CutOffSymbolLeavesNothingBehind)
{
    CODE39BarcodeType decoder;
    barcode::Result result;

    // The line ends inside the stop character.
    LineBuilder cut;
    cut.Light(600).Symbol(Code39Elements("CUT"), kModule);
    std::vector<int16_t> widths = cut.Widths();
    widths.resize(widths.size() - 3);
    TestLine cutLine(widths);
    EXPECT_FALSE(decoder.Decode(cutLine.Line(), result));

    TestLine whole(Framed(Code39Elements("XY")));
    ASSERT_TRUE(decoder.Decode(whole.Line(), result));
    EXPECT_EQ(result.value, "XY");
}

// Random values as runs, both directions, print around them. With mild
// width noise every symbol must be read; with heavy noise some may be missed,
// but nothing may be read wrong.
TEST(Code39, SeededRoundTrip)
{
    const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";
    const unsigned baseSeed = 39001;
    const int symbols = 400;
    int reads = 0;
    int wrong = 0;
    for (unsigned seed = baseSeed; seed < baseSeed + symbols; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

        std::string data;
        for (int k = pick(1, 20); k > 0; --k)
            data += alphabet[pick(0, static_cast<int>(alphabet.size()) - 1)];
        const double module = uniform(15, 50);
        const Elements symbol = Code39Elements(data, uniform(2.2, 2.7), uniform(1, 2));

        // Print on both sides; between it and each quiet zone an edge bar
        // and a margin.
        LineBuilder clean;
        for (int k = pick(0, 12); k > 0; --k)
            clean.Dark(pick(1, 4) * module).Light(pick(1, 4) * module);
        clean.Light(uniform(16, 30) * module).Dark(uniform(1, 4) * module).Light(uniform(16, 30) * module);
        clean.Symbol(symbol, module);
        clean.Light(uniform(16, 30) * module).Dark(uniform(1, 4) * module).Light(uniform(16, 30) * module);
        for (int k = pick(0, 12); k > 0; --k)
            clean.Dark(pick(1, 4) * module).Light(pick(1, 4) * module);

        const double grow = uniform(-0.1, 0.1) * module;
        std::vector<double> mild(64);
        std::vector<double> heavy(64);
        for (size_t k = 0; k < mild.size(); ++k) {
            mild[k] = uniform(0.92, 1.08);
            heavy[k] = uniform(0.8, 1.2);
        }
        LineBuilder line = clean;
        line.Distort(grow, mild);
        LineBuilder noisy = clean;
        noisy.Distort(grow, heavy);

        for (bool reversed : {false, true}) {
            if (reversed) {
                line.Reverse();
                noisy.Reverse();
            }
            const char* direction = reversed ? " right to left" : " left to right";
            const std::optional<std::string> value = Decode(line);
            EXPECT_TRUE(value) << data << direction << " not read";
            const std::optional<std::string> noisyValue = Decode(noisy);
            for (const std::optional<std::string>& read : {value, noisyValue}) {
                reads += read ? 1 : 0;
                if (read && *read != data) {
                    ++wrong;
                    ADD_FAILURE() << "read " << *read << " for " << data << direction;
                }
            }
        }
    }
    EXPECT_EQ(wrong, 0);
    std::cout << reads << " reads of " << 4 * symbols << " lines, half of them heavily distorted\n";
}

} // namespace
