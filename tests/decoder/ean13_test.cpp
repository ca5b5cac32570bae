// The EAN-13/UPC-A decoder on hand-built run lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ean13.h"
#include "ean_encoder.h"
#include "round_trip.h"
#include "run_builder.h"

namespace {

using testing_runs::Ean13Modules;
using testing_runs::Ean13ModulesWithParity;
using testing_runs::Reversed;
using testing_runs::RunBuilder;
using testing_runs::UpcAModules;
using testing_runs::View;

constexpr int Unit = 10; // tenths per module: one pixel

// What one Decode call read from the line (its vote), or "" for nothing.
std::string ReadOnce(const std::vector<int16_t>& widths, int* type = nullptr)
{
    std::vector<int16_t> copy = widths; // exact size: a read past the end is caught
    barcode::EAN13BarcodeType decoder;
    barcode::Result out;
    decoder.Decode(View(copy), out);
    EXPECT_FALSE(decoder.m_found);
    if (decoder.m_votes.empty())
        return "";
    EXPECT_EQ(decoder.m_votes.size(), 1u);
    if (type != nullptr) {
        // The vote needs a second line: read the same one again.
        EXPECT_TRUE(decoder.Decode(View(copy), out));
        *type = out.type;
    }
    return decoder.m_votes.begin()->first;
}

std::vector<int16_t> Plain(const std::vector<int>& modules, int unit = Unit, int quiet = 10 * Unit)
{
    RunBuilder builder;
    builder.Light(quiet).Modules(modules, unit).Light(quiet);
    return builder.Runs();
}

std::vector<int> Prefix(const std::vector<int>& runs, int count)
{
    return std::vector<int>(runs.begin(), runs.begin() + count);
}

TEST(Ean13Decoder, ReadsEan13AndUpcAInBothDirections)
{
    struct Case {
        std::string digits; // as encoded: 13 digits
        std::string text;
        int type;
    };
    const Case cases[] = {
        {"1234567890128", "1234567890128", barcode::TYPE_EAN13},
        {"5901234123457", "5901234123457", barcode::TYPE_EAN13},
        {"9780201379624", "9780201379624", barcode::TYPE_EAN13},
        {"0012345678905", "012345678905", barcode::TYPE_UPCA}, // left half all from L
        {"0036000291452", "036000291452", barcode::TYPE_UPCA},
    };
    for (const Case& c : cases) {
        for (int unit : {10, 23, 40}) {
            const std::vector<int16_t> line = Plain(Ean13Modules(c.digits), unit);
            int type = 0;
            EXPECT_EQ(ReadOnce(line, &type), c.text) << c.digits << " unit " << unit;
            EXPECT_EQ(type, c.type);
            int reversedType = 0;
            EXPECT_EQ(ReadOnce(Reversed(line), &reversedType), c.text) << c.digits << " reversed, unit " << unit;
            EXPECT_EQ(reversedType, c.type);
        }
    }
}

TEST(Ean13Decoder, UpcAOnlyForALeftHalfWhollyFromL)
{
    // Leading digit 0 and a G character in the left half is no published
    // pattern; any other leading digit is EAN-13.
    EXPECT_EQ(ReadOnce(Plain(Ean13ModulesWithParity("0012345678905", "LLLLLG"))), "");
    int type = 0;
    EXPECT_EQ(ReadOnce(Plain(Ean13Modules("4006381333931")), &type), "4006381333931");
    EXPECT_EQ(type, barcode::TYPE_EAN13);
}

TEST(Ean13Decoder, RejectsWrongCheckDigitAndUnpublishedParity)
{
    EXPECT_EQ(ReadOnce(Plain(Ean13Modules("1234567890127"))), "");
    EXPECT_EQ(ReadOnce(Plain(UpcAModules("012345678904"))), "");
    // LLLLGG is no leading digit's pattern, whatever the check digit.
    for (char check = '0'; check <= '9'; ++check) {
        const std::string digits = std::string("123456789012") + check;
        EXPECT_EQ(ReadOnce(Plain(Ean13ModulesWithParity(digits, "LLLLGG"))), "") << digits;
        EXPECT_EQ(ReadOnce(Reversed(Plain(Ean13ModulesWithParity(digits, "LLLLGG")))), "") << digits;
    }
}

TEST(Ean13Decoder, NeedsNoQuietZoneAndReadsNoRunBeyondTheLine)
{
    // Starts at the line's first dark run and ends on its last run.
    RunBuilder exact;
    exact.Modules(Ean13Modules("1234567890128"), Unit);
    ASSERT_EQ(exact.Size(), 59);
    EXPECT_EQ(ReadOnce(exact.Runs()), "1234567890128");

    std::vector<int16_t> cut = exact.Runs();
    cut.pop_back();
    EXPECT_EQ(ReadOnce(cut), "");

    EXPECT_EQ(ReadOnce({}), "");
    EXPECT_EQ(ReadOnce(std::vector<int16_t>(58, 10)), "");
}

TEST(Ean13Decoder, GuardWidthEdges)
{
    // The start guard's first bar next to one-module bars of 10 tenths: a
    // spread of two pixels passes, more does not.
    const std::vector<int> modules = Ean13Modules("1234567890128");
    auto withRun = [&](int run, int tenths) {
        std::vector<int16_t> line = Plain(modules);
        line[2 + run] = static_cast<int16_t>(tenths); // runs 0, 1 are the leading 0 and the quiet zone
        return line;
    };
    EXPECT_EQ(ReadOnce(withRun(0, 30)), "1234567890128");
    EXPECT_EQ(ReadOnce(withRun(0, 31)), "");
    // The centre guard's bars and spaces, and the end guard's.
    EXPECT_EQ(ReadOnce(withRun(28, 30)), "1234567890128");
    EXPECT_EQ(ReadOnce(withRun(28, 31)), "");
    EXPECT_EQ(ReadOnce(withRun(29, 30)), "1234567890128");
    EXPECT_EQ(ReadOnce(withRun(29, 31)), "");
    EXPECT_EQ(ReadOnce(withRun(58, 30)), "1234567890128");
    EXPECT_EQ(ReadOnce(withRun(58, 31)), "");
    EXPECT_EQ(ReadOnce(withRun(57, 31)), "");
}

TEST(Ean13Decoder, LeftCharacterWidthEdgesAndNoneOnTheRight)
{
    // At 40 tenths per module a character is 280 wide: the next one must be
    // closer to it than 70.
    const std::string digits = "5901234123457";
    const std::vector<int> modules = Ean13Modules(digits);
    auto scaled = [&](int firstRun, int unit, int extra) {
        std::vector<int> widths;
        for (int m : modules)
            widths.push_back(m * 40);
        int widest = firstRun;
        for (int k = firstRun; k < firstRun + 4; ++k) {
            widths[k] = modules[k] * unit;
            if (widths[k] > widths[widest])
                widest = k;
        }
        widths[widest] += extra;
        RunBuilder builder;
        builder.Light(400).Widths(widths).Light(400);
        return builder.Runs();
    };
    const int leftChar5 = 3 + 4 * 5;
    EXPECT_EQ(ReadOnce(scaled(leftChar5, 50, -1)), digits); // 349
    EXPECT_EQ(ReadOnce(scaled(leftChar5, 50, 0)), "");      // 350
    EXPECT_EQ(ReadOnce(scaled(leftChar5, 30, 1)), digits);  // 211
    EXPECT_EQ(ReadOnce(scaled(leftChar5, 30, 0)), "");      // 210
    // Right characters have no width test.
    EXPECT_EQ(ReadOnce(scaled(32 + 4 * 2, 60, 0)), digits);
    EXPECT_EQ(ReadOnce(scaled(32 + 4 * 2, 25, 0)), digits);
}

// The walk's resume points. Each case puts a decoy candidate at the line's
// first bar that fails at one stage, followed by a real symbol. A real
// symbol where the walk goes on is read; one that the failed candidate
// overlaps is skipped. The control line blanks the decoy's first bar, so
// that the walk starts two runs later, as a resume at i + 2 would: there the
// skipped symbol is found.
struct ResumeCase {
    const char* stage;
    std::vector<int> decoy; // module runs of the decoy, first bar first
    std::vector<int> real;  // module runs of the real symbol that follows
};

// At one pixel per module, guard runs of one and three modules would still
// pass as within two pixels of each other; at three pixels they do not.
constexpr int ResumeUnit = 30;

std::vector<int16_t> ResumeLine(const ResumeCase& c)
{
    RunBuilder builder;
    builder.Light(10 * ResumeUnit).Modules(c.decoy, ResumeUnit).Modules(c.real, ResumeUnit).Light(10 * ResumeUnit);
    return builder.Runs();
}

TEST(Ean13Decoder, ResumePointsAfterEachFailure)
{
    // Its check digit is wrong (leading digit 5 from the parity, then
    // 302285 990122, check 6), and no candidate that starts inside it jumps
    // past the real symbols below.
    const std::vector<int> decoy = Ean13ModulesWithParity("9302285990122", "LGGLLG");
    // Left character 0 of this symbol starts with a 3-module space ...
    const std::vector<int> wideSpaceFirst = Ean13Modules("5901234123457");
    // ... and of this one with a 1-module space.
    const std::vector<int> narrowSpaceFirst = Ean13Modules("9780201379624");
    const std::string wideText = "5901234123457";
    const std::string narrowText = "9780201379624";

    struct Expectation {
        ResumeCase line;
        std::string text; // what the walk reads; "" when it skips the real symbol
    };
    std::vector<Expectation> cases;

    // Start guard: the next candidate is two runs on.
    cases.push_back({{"start guard", {5, 1}, narrowSpaceFirst}, narrowText});
    // Left half: two runs on, also when the failed candidate reaches into
    // the real symbol.
    cases.push_back({{"left half", {1, 1}, narrowSpaceFirst}, narrowText});
    // Centre guard: 28 runs on. A wide space at run 27 fails the decoy's
    // centre guard and is the quiet zone of a symbol at 28.
    {
        std::vector<int> prefix = Prefix(decoy, 27);
        prefix.push_back(10); // run 27: a wide space, the real symbol's quiet zone
        cases.push_back({{"centre guard, symbol at 28", prefix, wideSpaceFirst}, wideText});
    }
    {
        // Decoy runs 0 to 25; the real symbol's first bar is the decoy's run
        // 26 and its 3-module first character space the decoy's run 29.
        ResumeCase c{"centre guard, symbol at 26", Prefix(decoy, 26), wideSpaceFirst};
        cases.push_back({c, ""});
    }
    for (int k = 0; k < 6; ++k) {
        const int bad = 32 + 4 * k;
        // A one-module bar and a wide space make right character k unreadable;
        // the real symbol follows at 34 + 4k.
        std::vector<int> prefix = Prefix(decoy, bad);
        prefix.push_back(1);
        prefix.push_back(10);
        cases.push_back({{"right character, symbol at 34 + 4k", prefix, narrowSpaceFirst}, narrowText});
        // The real symbol at 32 + 4k: its guard and one-module space are no
        // character.
        cases.push_back({{"right character, symbol at 32 + 4k", Prefix(decoy, bad), narrowSpaceFirst}, ""});
    }
    {
        // End guard: a wide bar at 56 fails it; the symbol at 58 is read.
        std::vector<int> prefix = Prefix(decoy, 56);
        prefix.push_back(10);
        prefix.push_back(10);
        cases.push_back({{"end guard, symbol at 58", prefix, wideSpaceFirst}, wideText});
    }
    {
        // Digits: the decoy is whole but its check digit is wrong. Its end
        // guard's last bar is the real symbol's first bar at 58 ...
        cases.push_back({{"digits, symbol at 58", Prefix(decoy, 58), wideSpaceFirst}, wideText});
        // ... or its end guard is the real symbol's start guard at 56, which
        // the walk then skips.
        cases.push_back({{"digits, symbol at 56", Prefix(decoy, 56), wideSpaceFirst}, ""});
    }

    for (const Expectation& e : cases) {
        SCOPED_TRACE(e.line.stage);
        EXPECT_EQ(ReadOnce(ResumeLine(e.line)), e.text);
        if (e.text.empty()) {
            EXPECT_FALSE(ReadOnce(testing_runs::WithoutFirstBar(ResumeLine(e.line))).empty())
                << "a walk on at i + 2 finds it";
        }
    }
}

TEST(Ean13Decoder, EndGuardFailureSkipsASymbolStartingTwoRunsEarlier)
{
    // The decoy at one module per pixel, the real symbol at four: the real
    // start guard is the decoy's end guard and its bars are too wide for the
    // decoy's range, so the walk goes on at 58 and misses the symbol at 56.
    const std::vector<int> decoy = UpcAModules("012345678905");
    RunBuilder skipped;
    skipped.Light(100).Modules(Prefix(decoy, 56), Unit).Modules(Ean13Modules("9780201379624"), 4 * Unit).Light(400);
    EXPECT_EQ(ReadOnce(skipped.Runs()), "");

    RunBuilder control;
    control.Light(400).Modules(Ean13Modules("9780201379624"), 4 * Unit).Light(400);
    EXPECT_EQ(ReadOnce(control.Runs()), "9780201379624");
}

TEST(Ean13Decoder, StopsAtTheFirstSymbolOnTheLine)
{
    RunBuilder builder;
    builder.Light(100)
        .Modules(Ean13Modules("1234567890128"), Unit)
        .Light(100)
        .Modules(Ean13Modules("5901234123457"), Unit)
        .Light(100);
    EXPECT_EQ(ReadOnce(builder.Runs()), "1234567890128");
    EXPECT_EQ(ReadOnce(Reversed(builder.Runs())), "5901234123457");
}

TEST(Ean13Decoder, SeededRoundTrip)
{
    testing_runs::RoundTrip<barcode::EAN13BarcodeType>(13001, 400, [](std::mt19937& random) {
        std::string data;
        for (int k = 0; k < 12; ++k)
            data += static_cast<char>('0' + random() % 10);
        const std::string digits = data + static_cast<char>('0' + testing_runs::CheckDigit(data));
        // A leading 0 is UPC-A, reported without it.
        return testing_runs::RoundTripSymbol{digits[0] == '0' ? digits.substr(1) : digits, Ean13Modules(digits)};
    });
}

} // namespace
