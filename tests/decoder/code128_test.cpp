#include "code128.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "code39.h"
#include "code_runs.h"
#include "decoder_set.h"
#include "run_builder.h"

namespace {

using barcode::CODE128BarcodeType;
using coderuns::Code128Check;
using coderuns::Code128Elements;
using coderuns::Code128ElementsWithCheck;
using coderuns::Code128Symbol;
using coderuns::Elements;
using coderuns::LineBuilder;
using coderuns::TestLine;

constexpr double kModule = 30.0;                // tenths of a pixel
constexpr double kSymbolWidth = 11 * kModule;   // every symbol is eleven modules

using coderuns::Mirrored;

std::vector<int> InA(const std::string& text)
{
    std::vector<int> values;
    for (unsigned char c : text)
        values.push_back(c < 32 ? c + 64 : c - 32);
    return values;
}

std::vector<int> InB(const std::string& text)
{
    std::vector<int> values;
    for (unsigned char c : text)
        values.push_back(c - 32);
    return values;
}

std::vector<int> Seq(std::initializer_list<std::vector<int>> parts)
{
    std::vector<int> values;
    for (const std::vector<int>& part : parts)
        values.insert(values.end(), part.begin(), part.end());
    return values;
}


LineBuilder Framed(const Elements& symbol, double module = kModule)
{
    return coderuns::Framed(symbol, module);
}

std::optional<std::string> Decode(const LineBuilder& builder)
{
    return coderuns::DecodeWith<CODE128BarcodeType>(builder, barcode::TYPE_CODE128);
}

void ExpectBothWays(LineBuilder line, const std::optional<std::string>& expected)
{
    coderuns::ExpectBothWaysWith<CODE128BarcodeType>(line, barcode::TYPE_CODE128, expected);
}

TEST(Code128, TranslatesCodeSetsShiftsAndFunctionCodes)
{
    struct Case {
        const char* name;
        std::vector<int> values; // start and data
        std::string text;
    };
    const Case cases[] = {
        {"set A", Seq({{103}, InA("ABC\tDEF")}), "ABC\tDEF"},
        {"set A controls", Seq({{103}, InA("\x1B" "PART\r")}), "\x1B" "PART\r"},
        {"set B", Seq({{104}, InB("Hello-128")}), "Hello-128"},
        {"set B ends at DEL", {104, 95, 0, 64}, "\x7F `"},
        {"set C pairs", {105, 12, 34, 56, 78}, "12345678"},
        {"set C writes two digits, 96 to 99 too", {105, 5, 0, 96, 97, 98, 99}, "050096979899"},
        {"shift in set A takes one character from set B", Seq({{103}, InA("A"), {98}, InB("a"), InA("A\t")}), "AaA\t"},
        {"shift in set B takes one character from set A", Seq({{104}, InB("abc"), {98}, InA("\t"), InB("def")}), "abc\tdef"},
        {"shift then code change", {103, 98, 99, 12}, "12"},
        {"set B to C", Seq({{104}, InB("ABC1"), {99, 23, 45, 67, 89}}), "ABC123456789"},
        {"set C to B", Seq({{105, 12, 34, 100}, InB("ABCD")}), "1234ABCD"},
        {"set A to B to A", Seq({{103}, InA("AB\t"), {100}, InB("cd"), {101}, InA("\r\n")}), "AB\tcd\r\n"},
        {"set C to A", {105, 12, 101, 77}, "12\r"},
        {"FNC1 in every set", {103, 102, 33, 99, 102, 1, 100, 102, 65}, "[FNC1]A[FNC1]01[FNC1]a"},
        {"FNC2 and FNC3 in sets A and B", Seq({{104, 97}, InB("a"), {96, 101, 97}, InA("A"), {96}}), "[FNC2]a[FNC3][FNC2]A[FNC3]"},
        {"FNC4 in set B", Seq({{104}, InB("Caf"), {100}, InB("i")}), "Caf[FNC4]i"},
        {"FNC4 in set A", Seq({{103, 101}, InA("A")}), "[FNC4]A"},
        {"FNC4 ends a shift", Seq({{104, 98, 101}, InB("a")}), "[FNC4]a"},
        {"NUL of set A writes nothing", Seq({{103}, InA("A"), {64}, InA("B")}), "AB"},
        {"GS1-128", {105, 102, 1, 9, 50, 11, 1, 53, 0, 3, 17, 25, 12, 31, 10, 100, 44, 47, 52, 20, 18},
         "[FNC1]01095011015300031725123110LOT42"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectBothWays(Framed(Code128Elements(c.values)), c.text);
    }
}

TEST(Code128, RejectsInvalidSymbols)
{
    struct Case {
        const char* name;
        std::vector<int> values; // start and data; the check is computed
    };
    const Case cases[] = {
        {"start, check and stop only", {104}},
        {"START A inside the data", Seq({{104}, InB("A"), {103}, InB("B")})},
        {"START B inside the data", Seq({{104}, InB("A"), {104}, InB("B")})},
        {"START C inside the data", Seq({{103}, InA("A"), {105}, InA("B")})},
        {"stop symbol inside the data", Seq({{104}, InB("A"), {106}, InB("B")})},
        {"far-end stop pattern inside the data", Seq({{104}, InB("A"), {107}, InB("B")})},
        {"far-end start pattern inside the data", Seq({{105, 12}, {110}, {34}})},
        {"code changes only", {104, 99, 100}},
        {"code changes only from set C", {105, 100, 101}},
        {"a shift only", {103, 98}},
        {"NUL only", {103, 64}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectBothWays(Framed(Code128Elements(c.values)), std::nullopt);
    }

    const std::vector<int> values = Seq({{104}, InB("Check")});
    const int check = Code128Check(values);
    ExpectBothWays(Framed(Code128ElementsWithCheck(values, check)), std::string("Check"));
    for (int wrong : {1, 2, 51, 102}) {
        SCOPED_TRACE(testing::Message() << "check off by " << wrong);
        ExpectBothWays(Framed(Code128ElementsWithCheck(values, (check + wrong) % 103)), std::nullopt);
    }
}

TEST(Code128, LineLengthLimits)
{
    // Too short to hold a symbol: no run is read.
    for (int count : {0, 1, 19}) {
        CODE128BarcodeType decoder;
        barcode::Result result;
        EXPECT_FALSE(decoder.Decode(barcode::RunLine{count, nullptr}, result)) << count;
    }

    // The shortest symbol, start, one value, check, stop and final bar: 25 runs.
    LineBuilder tight;
    tight.Symbol(Code128Elements({104, 33}), kModule);
    ASSERT_EQ(tight.RunCount(), 25);
    EXPECT_EQ(Decode(tight), "A");

    // Without its final bar it is no symbol.
    std::vector<int16_t> cut = tight.Widths();
    cut.pop_back();
    TestLine noFinalBar(cut);
    CODE128BarcodeType decoder;
    barcode::Result result;
    EXPECT_FALSE(decoder.Decode(noFinalBar.Line(), result));

    // Read from its far end it needs a run after the start symbol.
    LineBuilder backwards = tight;
    backwards.Reverse();
    EXPECT_EQ(Decode(backwards), std::nullopt);
    backwards.Light(10);
    EXPECT_EQ(Decode(backwards), "A");
}

TEST(Code128, LeadingQuietZone)
{
    // The light run before the first symbol met and the bar before it must
    // together exceed that symbol's width: the start symbol, or the stop
    // symbol seen from its final bar, both eleven modules.
    const Elements symbol = Code128Elements(Seq({{104}, InB("QZ")}));
    struct Case {
        double quiet;
        bool readable;
    };
    const Case cases[] = {
        {kSymbolWidth - 2 * kModule, false},
        {kSymbolWidth - 2 * kModule + 1, true},
    };
    for (const Case& c : cases) {
        for (bool mirrored : {false, true}) {
            SCOPED_TRACE(testing::Message() << "quiet " << c.quiet << (mirrored ? " mirrored" : ""));
            LineBuilder line;
            line.Light(600).Dark(2 * kModule).Light(c.quiet);
            line.Symbol(mirrored ? Mirrored(symbol) : symbol, kModule);
            line.Light(600).Dark(2 * kModule).Light(600);
            EXPECT_EQ(Decode(line), c.readable ? std::optional<std::string>("QZ") : std::nullopt);
        }
    }

    // A symbol at run 2 begins the line: no test.
    for (bool mirrored : {false, true}) {
        LineBuilder line;
        line.Light(10).Symbol(mirrored ? Mirrored(symbol) : symbol, kModule).Light(600);
        EXPECT_EQ(Decode(line), "QZ") << (mirrored ? "mirrored" : "");
    }
}

TEST(Code128, TrailingQuietZone)
{
    const Elements symbol = Code128Elements(Seq({{104}, InB("QZ")}));
    struct Case {
        const char* name;
        bool mirrored;
        std::vector<double> after; // runs after the symbol, light first
        bool readable;
    };
    // Forwards the light run after the final bar and the bar after it must
    // together exceed the stop symbol (eleven modules). Backwards the light
    // run after the start symbol is skipped, and the two runs after it must
    // exceed the start symbol.
    const Case cases[] = {
        {"forwards, no wider than the stop symbol", false, {kSymbolWidth - 60, 60, 600}, false},
        {"forwards, wider", false, {kSymbolWidth - 60 + 1, 60, 600}, true},
        {"forwards, one run after the final bar", false, {10}, true},
        {"backwards, no wider than the start symbol", true, {600, 60, kSymbolWidth - 60}, false},
        {"backwards, wider", true, {600, 60, kSymbolWidth - 60 + 1}, true},
        {"backwards, narrow light run after the start symbol", true, {10, 60, 600}, true},
        {"backwards, one run after the light run", true, {600, 60}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineBuilder line;
        line.Light(600).Dark(60).Light(600);
        line.Symbol(c.mirrored ? Mirrored(symbol) : symbol, kModule);
        for (size_t k = 0; k < c.after.size(); ++k) {
            if (k % 2 == 0)
                line.Light(c.after[k]);
            else
                line.Dark(c.after[k]);
        }
        EXPECT_EQ(Decode(line), c.readable ? std::optional<std::string>("QZ") : std::nullopt);
    }
}

TEST(Code128, ReadSymbolKnowsEveryPattern)
{
    for (double module : {30.0, 17.0}) {
        for (int value = 0; value <= 110; ++value) {
            SCOPED_TRACE(testing::Message() << "value " << value << " module " << module);
            const Elements elements = Code128Symbol(value);
            std::array<int16_t, 6> runs;
            for (int k = 0; k < 6; ++k)
                runs[k] = static_cast<int16_t>(elements[k] * module);
            CODE128BarcodeType decoder;
            EXPECT_EQ(decoder.ReadSymbol(runs.data()), value);
            EXPECT_EQ(decoder.m_symbolWidth, static_cast<int>(11 * module));

            // Met from the symbol's end, in a reversed read.
            if (value <= 106) {
                std::array<int16_t, 6> mirrored;
                for (int k = 0; k < 6; ++k)
                    mirrored[k] = runs[5 - k];
                decoder.m_reversed = true;
                EXPECT_EQ(decoder.ReadSymbol(mirrored.data()), value) << "reversed";
            }
        }
    }
}

TEST(Code128, ReadSymbolProportions)
{
    using Runs = std::array<int16_t, 6>;
    struct Case {
        const char* name;
        Runs runs;
        int expected;
    };
    const Case cases[] = {
        // 2 1 2 2 2 2 (value 0): the widest at most seven times the narrowest.
        {"2 2 2 2 2 1, widest seven times narrowest", {70, 10, 70, 70, 70, 70}, 0},
        {"2 2 2 2 2 1, widest more than seven times", {71, 10, 70, 70, 70, 70}, 255},
        // 3 1 1 2 2 2 (value 24): the wider 1-module element at most twice the narrower.
        {"3 2 2 2 1 1, wider single twice the narrower", {60, 16, 8, 40, 40, 40}, 24},
        {"3 2 2 2 1 1, wider single more than twice the narrower", {60, 17, 8, 40, 40, 40}, 255},
        // 1 1 1 3 2 3 (value 33): the narrower 3-module element less the
        // 2-module one at most the 2-module one.
        {"3 3 2 1 1 1, second widest twice the third", {15, 15, 15, 40, 16, 32}, 33},
        {"3 3 2 1 1 1, second widest more than twice the third", {15, 15, 15, 40, 16, 33}, 255},
        // 4 1 3 1 1 1 (value 77): the second widest at most five times the third.
        {"4 3 1 1 1 1, second widest five times the third", {160, 30, 150, 30, 30, 30}, 77},
        {"4 3 1 1 1 1, second widest more than five times", {160, 30, 151, 30, 30, 30}, 255},
        // 2 2 1 4 1 1 (value 61): the widest less the second at most twice the third.
        {"4 2 2 1 1 1, widest less second twice the third", {20, 20, 10, 60, 10, 10}, 61},
        {"4 2 2 1 1 1, widest less second more than twice the third", {20, 20, 10, 61, 10, 10}, 255},
        // The same clause for 4 3 1 1 1 1.
        {"4 3 1 1 1 1, widest less second twice the third", {50, 30, 10, 10, 10, 10}, 62},
        {"4 3 1 1 1 1, widest less second more than twice the third", {51, 30, 10, 10, 10, 10}, 255},
        // 3 1 1 2 2 2 (value 24) at 30 tenths, every element a little off.
        {"3 2 2 2 1 1, elements slightly uneven", {95, 27, 33, 56, 64, 58}, 24},
        {"no width at all", {0, 0, 0, 0, 0, 0}, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CODE128BarcodeType decoder;
        EXPECT_EQ(decoder.ReadSymbol(c.runs.data()), c.expected);
    }
}

// Lines that the filter made of blurred prints, on which a guess at a
// symbol that fits no template agreed with a misread data symbol in the
// check sum: "b" at 2.35 px per module read as "?", control characters as
// "@", "b{smrv" as "?{smyv" and "2n:eqf~" as "2@{eqf~". Each holds six runs
// that fit no template, fit one implausibly or make a pattern that is no
// symbol, so nothing is read.
TEST(Code128, BlurredPrintsThatFitNoTemplateReadNothing)
{
    const std::vector<int16_t> lines[] = {
        {0, 468, 46, 26, 30, 36, 38, 79, 37, 34, 37, 85, 46, 26, 32, 78, 32, 27, 46, 43, 51, 68, 66, 29, 22, 27,
         48, 393, 280},
        {0, 447, 50, 24, 34, 79, 36, 36, 37, 79, 38, 39, 44, 27, 33, 78, 38, 39, 44, 30, 54, 58, 68, 28, 26, 25,
         55, 312, 66, 75, 96, 32, 55, 158},
        {0, 196, 38, 45, 77, 75, 76, 379, 49, 27, 33, 38, 39, 86, 41, 37, 38, 94, 49, 32, 94, 33, 43, 32, 45, 27,
         27, 29, 97, 44, 39, 46, 96, 34, 67, 28, 28, 22, 33, 38, 39, 45, 96, 35, 92, 29, 32, 40, 36, 39, 37, 45,
         98, 27, 33, 43, 55, 73, 73, 28, 28, 27, 50, 353, 101, 44, 39, 68, 103, 181},
        {0, 184, 53, 28, 83, 340, 54, 27, 27, 25, 84, 61, 54, 29, 57, 60, 34, 25, 74, 28, 97, 26, 37, 59, 41, 33,
         45, 84, 55, 26, 30, 44, 101, 25, 37, 33, 45, 82, 43, 36, 54, 24, 27, 27, 57, 35, 43, 35, 89, 33, 36, 24,
         36, 84, 55, 25, 37, 37, 82, 47, 61, 85, 41, 35, 34, 25, 59, 407},
    };
    for (const std::vector<int16_t>& widths : lines) {
        SCOPED_TRACE(testing::Message() << widths.size() << " runs");
        for (const std::vector<int16_t>& line : {widths, testing_runs::Reversed(widths)}) {
            TestLine test(line);
            CODE128BarcodeType decoder;
            barcode::Result result;
            EXPECT_FALSE(decoder.Decode(test.Line(), result)) << "read \"" << result.value << "\"";
        }
    }
}

TEST(Code128, BrokenSymbols)
{
    const std::vector<int> values = Seq({{104}, InB("Gap-128")});
    const Elements symbol = Code128Elements(values);

    // A light gap of eight modules after the third symbol.
    Elements gap = symbol;
    gap[3 * 6 + 5] += 8;
    ExpectBothWays(Framed(gap), std::nullopt);

    // A bar lost inside the second symbol: the spaces around it merge.
    Elements lost = symbol;
    lost[6 + 1] += lost[6 + 2] + lost[6 + 3];
    lost.erase(lost.begin() + 6 + 2, lost.begin() + 6 + 4);
    ExpectBothWays(Framed(lost), std::nullopt);

    // Cut off after the data, before the check and stop symbols.
    const Elements cut(symbol.begin(), symbol.begin() + 6 * static_cast<long>(values.size()));
    ExpectBothWays(Framed(cut), std::nullopt);
}

// Random texts encoded the way a printer would, as runs in both directions
// with print around them. With mild width noise every symbol must be read;
// with heavy noise some may be missed, but nothing may be read wrong, and the
// symbol without its check and stop symbols is never read.
TEST(Code128, SeededRoundTrip)
{
    const unsigned baseSeed = 128001;
    const int symbols = 400;
    int reads = 0;
    int wrong = 0;
    for (unsigned seed = baseSeed; seed < baseSeed + symbols; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

        const std::vector<int> tokens = coderuns::Code128RandomTokens(rng);
        const std::string text = coderuns::Code128Text(tokens);
        const std::vector<int> values = coderuns::Code128Encode(tokens);
        const Elements whole = Code128Elements(values);
        const Elements cut(whole.begin(), whole.begin() + 6 * static_cast<long>(values.size()));
        const double module = uniform(15, 50);
        const double grow = uniform(-0.1, 0.1) * module;
        std::vector<double> mild(64);
        std::vector<double> heavy(64);
        for (size_t k = 0; k < mild.size(); ++k) {
            mild[k] = uniform(0.92, 1.08);
            heavy[k] = uniform(0.8, 1.2);
        }

        // Print on both sides; between it and each quiet zone an edge bar
        // and a margin.
        std::vector<double> junkBefore(2 * pick(0, 6));
        std::vector<double> junkAfter(2 * pick(0, 6));
        for (double& w : junkBefore)
            w = pick(1, 4) * module;
        for (double& w : junkAfter)
            w = pick(1, 4) * module;
        const double marginBefore = uniform(12, 30) * module;
        const double edgeBefore = uniform(1, 4) * module;
        const double quietBefore = uniform(12, 30) * module;
        const double quietAfter = uniform(12, 30) * module;
        const double edgeAfter = uniform(1, 4) * module;
        const double marginAfter = uniform(12, 30) * module;
        auto layout = [&](const Elements& symbol, const std::vector<double>& factors) {
            LineBuilder line;
            line.Symbol(junkBefore, 1).Light(marginBefore).Dark(edgeBefore).Light(quietBefore);
            line.Symbol(symbol, module);
            line.Light(quietAfter).Dark(edgeAfter).Light(marginAfter).Symbol(junkAfter, 1);
            line.Distort(grow, factors);
            return line;
        };

        LineBuilder line = layout(whole, mild);
        LineBuilder noisy = layout(whole, heavy);
        LineBuilder truncated = layout(cut, mild);
        for (bool reversed : {false, true}) {
            if (reversed) {
                line.Reverse();
                noisy.Reverse();
                truncated.Reverse();
            }
            const char* direction = reversed ? " right to left" : " left to right";
            const std::optional<std::string> value = Decode(line);
            EXPECT_TRUE(value) << "\"" << text << "\"" << direction << " not read";
            const std::optional<std::string> noisyValue = Decode(noisy);
            for (const std::optional<std::string>& read : {value, noisyValue}) {
                reads += read ? 1 : 0;
                if (read && *read != text) {
                    ++wrong;
                    ADD_FAILURE() << "read \"" << *read << "\" for \"" << text << "\"" << direction;
                }
            }
            const std::optional<std::string> fromCut = Decode(truncated);
            if (fromCut) {
                ++wrong;
                ADD_FAILURE() << "read \"" << *fromCut << "\" without check and stop" << direction;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
    std::cout << reads << " reads of " << 4 * symbols << " lines, half of them heavily distorted\n";
}

TEST(Code128, FactoryMakesTheCodeDecoders)
{
    std::unique_ptr<barcode::BarcodeType> code39(barcode::CreateBarcodeType(barcode::TYPE_CODE39));
    std::unique_ptr<barcode::BarcodeType> code128(barcode::CreateBarcodeType(barcode::TYPE_CODE128));
    ASSERT_NE(code39, nullptr);
    ASSERT_NE(code128, nullptr);
    EXPECT_NE(dynamic_cast<barcode::CODE39BarcodeType*>(code39.get()), nullptr);
    EXPECT_NE(dynamic_cast<CODE128BarcodeType*>(code128.get()), nullptr);
    EXPECT_TRUE(code39->m_found);
    EXPECT_TRUE(code128->m_found);
}

TEST(Code128, LaterDecoderWinsOnTheSameLine)
{
    const Elements code39 = coderuns::Code39Elements("CODE39");
    const Elements code128 = Code128Elements(Seq({{104}, InB("Code128")}));
    auto both = [&] {
        LineBuilder line;
        line.Light(600).Symbol(code39, kModule).Light(600).Dark(60).Light(600);
        line.Symbol(code128, kModule).Light(600);
        return line;
    }();
    LineBuilder only39;
    only39.Light(600).Symbol(code39, kModule).Light(600);
    LineBuilder only128;
    only128.Light(600).Symbol(code128, kModule).Light(600);

    struct Case {
        const char* name;
        std::vector<int> types; // creation order
        LineBuilder line;
        int type;
        std::string value;
    };
    const Case cases[] = {
        {"Code 128 created last", {barcode::TYPE_CODE39, barcode::TYPE_CODE128}, both, barcode::TYPE_CODE128, "Code128"},
        {"Code 39 created last", {barcode::TYPE_CODE128, barcode::TYPE_CODE39}, both, barcode::TYPE_CODE39, "CODE39"},
        {"only Code 39 accepts", {barcode::TYPE_CODE39, barcode::TYPE_CODE128}, only39, barcode::TYPE_CODE39, "CODE39"},
        {"only Code 128 accepts", {barcode::TYPE_CODE128, barcode::TYPE_CODE39}, only128, barcode::TYPE_CODE128, "Code128"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        barcode::DecoderSet set;
        set.SetTypes(c.types);
        for (bool reversed : {false, true}) {
            LineBuilder builder = c.line;
            if (reversed)
                builder.Reverse();
            TestLine test(builder);
            barcode::Result result;
            EXPECT_TRUE(set.Decode(test.Line(), result));
            EXPECT_EQ(result.type, c.type);
            EXPECT_EQ(result.value, c.value);
        }
    }
}

} // namespace
