// Builds run lines for the Code 39 and Code 128 tests: symbols as element
// widths in modules, laid out with quiet zones and other runs, in tenths of a
// pixel and in the run convention of barcode::RunLine.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "barcode.h"
#include "run_line.h"

namespace coderuns {

// Element widths of a symbol in modules, bar first.
using Elements = std::vector<double>;

// Code 39: start character, data, stop character, with gaps of gap modules
// between the characters; wide elements are wide modules.
Elements Code39Elements(const std::string& data, double wide = 2.5, double gap = 1.0);
// The nine elements of one Code 39 character.
Elements Code39Character(char c, double wide = 2.5);

// Code 128 values beyond 106: the far-end patterns of the stop symbol and of
// START A to C.
constexpr int kCode128StopFromEnd = 107;
// The six elements of a Code 128 value 0 to 110 (106: the stop symbol
// without its final bar).
Elements Code128Symbol(int value);
// The modulo-103 check value of a start value followed by data values.
int Code128Check(const std::vector<int>& values);
// Start value and data values, then the check value and the stop symbol
// with its final bar.
Elements Code128Elements(const std::vector<int>& values);
// As Code128Elements, but with the given value in place of the check.
Elements Code128ElementsWithCheck(const std::vector<int>& values, int check);

// Text for the Code 128 text encoder: a character 1 to 127, or FNC1.
constexpr int kFnc1Token = -1;
// Encodes the tokens as a start value and data values, choosing code sets,
// shifts and code changes the way a printer's encoder would.
std::vector<int> Code128Encode(const std::vector<int>& tokens);
// The text the decoder writes for the tokens.
std::string Code128Text(const std::vector<int>& tokens);
// Random tokens: digit runs (set C), upper case and punctuation, lower case,
// control characters and FNC1, mixed in one to five segments.
std::vector<int> Code128RandomTokens(std::mt19937& random);

// A run line under construction. Runs of the same colour next to each other
// merge; widths stay fractional until Widths.
class LineBuilder {
public:
    LineBuilder& Dark(double tenths);
    LineBuilder& Light(double tenths);
    // The elements of a symbol, bar first, at moduleTenths per module.
    LineBuilder& Symbol(const Elements& elements, double moduleTenths);
    // Turns the line end to end.
    LineBuilder& Reverse();
    // Changes every run: bars grow by growTenths and spaces shrink by it,
    // then each run is scaled by its own factor from factors (cycled).
    LineBuilder& Distort(double growTenths, const std::vector<double>& factors);
    // Rounded widths, with a leading 0 when the line starts light.
    std::vector<int16_t> Widths() const;
    int RunCount() const { return static_cast<int>(Widths().size()); }

private:
    struct Run {
        bool dark;
        double width;
    };
    LineBuilder& Add(bool dark, double tenths);
    std::vector<Run> m_runs;
};

// A run line and the widths it points to.
struct TestLine {
    explicit TestLine(std::vector<int16_t> w) : widths(std::move(w)) {}
    explicit TestLine(const LineBuilder& builder) : widths(builder.Widths()) {}
    barcode::RunLine Line() { return barcode::RunLine{static_cast<int>(widths.size()), widths.data()}; }
    std::vector<int16_t> widths;
};

// The elements in the opposite order: the symbol as met from its far end.
inline Elements Mirrored(Elements elements)
{
    std::reverse(elements.begin(), elements.end());
    return elements;
}

// Margin, an edge bar, the quiet zone, the symbol, the quiet zone, an edge
// bar, margin: readable in both directions.
inline LineBuilder Framed(const Elements& symbol, double moduleTenths)
{
    LineBuilder line;
    line.Light(20 * moduleTenths).Dark(2 * moduleTenths).Light(20 * moduleTenths);
    line.Symbol(symbol, moduleTenths);
    line.Light(20 * moduleTenths).Dark(2 * moduleTenths).Light(20 * moduleTenths);
    return line;
}

// The text a fresh Decoder reads on the line, or nothing. Checks that a
// failed decode leaves the result alone, that a read has the decoder's type,
// and that these decoders never touch m_found.
template <typename Decoder>
std::optional<std::string> DecodeWith(const LineBuilder& builder, int type)
{
    TestLine test(builder);
    Decoder decoder;
    barcode::Result result;
    result.value = "untouched";
    const bool found = decoder.Decode(test.Line(), result);
    EXPECT_TRUE(decoder.m_found);
    if (!found) {
        EXPECT_EQ(result.value, "untouched");
        EXPECT_EQ(result.type, barcode::TYPE_NONE);
        return std::nullopt;
    }
    EXPECT_EQ(result.type, type);
    return result.value;
}

// The line reads as expected left to right and turned round.
template <typename Decoder>
void ExpectBothWaysWith(LineBuilder line, int type, const std::optional<std::string>& expected)
{
    EXPECT_EQ(DecodeWith<Decoder>(line, type), expected) << "left to right";
    EXPECT_EQ(DecodeWith<Decoder>(line.Reverse(), type), expected) << "right to left";
}

} // namespace coderuns
