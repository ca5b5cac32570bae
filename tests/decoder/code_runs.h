// Builds run lines for the Code 39 and Code 128 tests: symbols as element
// widths in modules, laid out with quiet zones and other runs, in tenths of a
// pixel and in the run convention of barcode::RunLine.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

} // namespace coderuns
