// Wrong reads, measured: prints of every symbology rendered as grey pixel
// lines, as a camera sees them (fractional module widths, ink spread,
// Gaussian blur), and scanned by the real scanner with every decoder on.
// A value reported as EAN-13, UPC-A, EAN-8 or UPC-E must never be wrong;
// Code 128 may misread fewer than once in 10,000 reads. Misreads reported
// as Code 39 are counted and shown: it has no check character.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iomanip>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "code_runs.h"
#include "ean_encoder.h"
#include "scanner.h"

namespace {

// What is printed: element widths in modules, bar first, and what the
// engine must report for it.
struct Print {
    std::vector<double> elements;
    std::string text;
    int type;
};

// How one print comes out on the scan line.
struct Rendering {
    double module;  // pixels per module
    double spread;  // pixels by which every bar is wider than printed
    double sigma;   // Gaussian blur, pixels
    double phase;   // where the first run starts inside a pixel
    int light;      // grey of the paper
    int dark;       // grey of the ink
    int quietLeft;  // modules of paper between other print and the symbol
    int quietRight; // and between the symbol and other print after it
};

constexpr int kPrints = 3000;
// About half of them read at these sizes and blurs; a rate of one in 10,000
// needs more than 10,000 reads to mean anything.
constexpr int kCode128Prints = 11000;
constexpr unsigned kSeed = 1010; // fixed before the first run
constexpr int kImageRows = 9;    // three-pixel line spacing: two horizontal lines

// Runs of other print beyond the quiet zones: 0 to 8 runs of 1 to 4 modules.
std::vector<double> OtherPrint(std::mt19937& random)
{
    std::uniform_int_distribution<int> modules(1, 4);
    std::vector<double> runs(static_cast<std::size_t>(std::uniform_int_distribution<int>(0, 4)(random) * 2));
    for (double& run : runs)
        run = modules(random);
    return runs;
}

std::string Digits(std::mt19937& random, int count, char first = '0')
{
    std::string digits(1, static_cast<char>(std::uniform_int_distribution<int>(first, '9')(random)));
    while (static_cast<int>(digits.size()) < count)
        digits += static_cast<char>(std::uniform_int_distribution<int>('0', '9')(random));
    return digits;
}

std::vector<double> AsElements(const std::vector<int>& modules)
{
    return std::vector<double>(modules.begin(), modules.end());
}

Print Ean13(std::mt19937& random)
{
    std::string digits = Digits(random, 12, '1');
    digits += static_cast<char>('0' + testing_runs::CheckDigit(digits));
    return {AsElements(testing_runs::Ean13Modules(digits)), digits, barcode::TYPE_EAN13};
}

Print UpcA(std::mt19937& random)
{
    std::string digits = Digits(random, 11);
    digits += static_cast<char>('0' + testing_runs::CheckDigit(digits));
    return {AsElements(testing_runs::UpcAModules(digits)), digits, barcode::TYPE_UPCA};
}

Print Ean8(std::mt19937& random)
{
    std::string digits = Digits(random, 7);
    digits += static_cast<char>('0' + testing_runs::CheckDigit(digits));
    return {AsElements(testing_runs::Ean8Modules(digits)), digits, barcode::TYPE_EAN8};
}

Print UpcE(std::mt19937& random)
{
    const int numberSystem = std::uniform_int_distribution<int>(0, 1)(random);
    const std::string text = testing_runs::UpcEText(numberSystem, Digits(random, 6));
    return {AsElements(testing_runs::UpcEModules(text)), text, barcode::TYPE_UPCE};
}

Print Code39(std::mt19937& random)
{
    static const std::string kCharacters = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";
    std::string data;
    for (int n = std::uniform_int_distribution<int>(1, 12)(random); n > 0; --n)
        data += kCharacters[std::uniform_int_distribution<std::size_t>(0, kCharacters.size() - 1)(random)];
    const double wide = std::uniform_real_distribution<double>(2.25, 3.0)(random);
    return {coderuns::Code39Elements(data, wide), data, barcode::TYPE_CODE39};
}

Print Code128(std::mt19937& random)
{
    const std::vector<int> tokens = coderuns::Code128RandomTokens(random);
    return {coderuns::Code128Elements(coderuns::Code128Encode(tokens)), coderuns::Code128Text(tokens),
            barcode::TYPE_CODE128};
}

// t Phi(t) + phi(t): the integral of the standard normal distribution
// function up to t.
double IntegralOfPhi(double t)
{
    constexpr double kInvSqrt2 = 0.70710678118654752;
    constexpr double kInvSqrt2Pi = 0.39894228040143268;
    return t * 0.5 * std::erfc(-t * kInvSqrt2) + kInvSqrt2Pi * std::exp(-0.5 * t * t);
}

// The print between other print, on paper, as grey pixels: each pixel is
// the ink cover of its area after the blur, exactly (a blurred edge is the
// normal distribution function; its integral over a pixel has a closed form).
std::vector<uint8_t> Render(const Print& print, const Rendering& r, const std::vector<double>& before,
                            const std::vector<double>& after)
{
    // Runs in modules, paper first (odd runs are ink), paper at both ends.
    std::vector<double> runs = {4.0};
    auto add = [&runs](const std::vector<double>& more, bool barFirst) {
        for (std::size_t k = 0; k < more.size(); ++k) {
            const bool dark = (k % 2 == 0) == barFirst;
            const bool lastDark = runs.size() % 2 == 0;
            if (dark == lastDark)
                runs.back() += more[k];
            else
                runs.push_back(more[k]);
        }
    };
    add(before, false); // other print starts with paper after the margin
    add({static_cast<double>(r.quietLeft)}, false);
    add(print.elements, true);
    add({static_cast<double>(r.quietRight)}, false);
    add(after, true);
    add({4.0}, false);

    // Edges in pixels: a bar starts at a rising edge of ink (+1) and ends at
    // a falling one (-1); the spread moves both outwards by half of it.
    std::vector<std::pair<double, int>> edges;
    double x = r.phase;
    for (std::size_t k = 0; k < runs.size(); ++k) {
        const double end = x + runs[k] * r.module;
        if (k % 2 == 1) {
            edges.push_back({x - r.spread / 2, +1});
            edges.push_back({end + r.spread / 2, -1});
        }
        x = end;
    }
    const int n = static_cast<int>(std::ceil(x)) + 1;

    // Ink cover per pixel. An edge at e adds, to pixel j, the area of the
    // blurred step over [j, j + 1); pixels beyond reach get all or none.
    std::vector<double> cover(static_cast<std::size_t>(n) + 1, 0.0);
    std::vector<double> beyond(static_cast<std::size_t>(n) + 1, 0.0);
    const int reach = static_cast<int>(std::ceil(6 * r.sigma)) + 1;
    for (const auto& edge : edges) {
        const double e = edge.first;
        const int first = std::max(0, static_cast<int>(std::floor(e)) - reach);
        const int last = std::min(n - 1, static_cast<int>(std::floor(e)) + reach);
        double left = IntegralOfPhi((first - e) / r.sigma);
        for (int j = first; j <= last; ++j) {
            const double right = IntegralOfPhi((j + 1 - e) / r.sigma);
            cover[static_cast<std::size_t>(j)] += edge.second * r.sigma * (right - left);
            left = right;
        }
        beyond[static_cast<std::size_t>(last) + 1] += edge.second;
    }
    std::vector<uint8_t> pixels(static_cast<std::size_t>(n));
    double whole = 0.0;
    for (int j = 0; j < n; ++j) {
        whole += beyond[static_cast<std::size_t>(j)];
        const double ink = std::min(1.0, std::max(0.0, cover[static_cast<std::size_t>(j)] + whole));
        pixels[static_cast<std::size_t>(j)] = static_cast<uint8_t>(std::lround(r.light - (r.light - r.dark) * ink));
    }
    return pixels;
}

// Scans the line as an image of a few equal rows, so that the two-line vote
// of the EAN/UPC decoders sees it twice.
barcode::Result ScanLine(barcode::Scanner& scanner, const std::vector<uint8_t>& line)
{
    std::vector<uint8_t> image;
    for (int row = 0; row < kImageRows; ++row)
        image.insert(image.end(), line.begin(), line.end());
    const int width = static_cast<int>(line.size());
    const barcode::Image record = {image.data(), static_cast<uint32_t>(width), kImageRows, width,
                                   barcode::PIXEL_GREY8};
    return scanner.Scan(&record);
}

struct Symbology {
    const char* name;
    std::function<Print(std::mt19937&)> make;
    int prints;
};

// The EAN/UPC decoders check a digit computed over every digit of the
// symbol: a value they report must never be wrong.
bool MustNeverMisread(int type)
{
    return type == barcode::TYPE_EAN13 || type == barcode::TYPE_UPCA || type == barcode::TYPE_EAN8 ||
           type == barcode::TYPE_UPCE;
}

struct Tally {
    int lines = 0;
    int reads = 0;
    int wrong = 0;
};

std::string Percent(int part, int whole)
{
    std::ostringstream out;
    out << std::fixed << std::setprecision(2) << 100.0 * part / std::max(whole, 1) << " %";
    return out.str();
}

TEST(RenderedPrints, WrongReadsPerSymbology)
{
    const Symbology symbologies[] = {
        {"EAN-13", Ean13, kPrints},   {"UPC-A", UpcA, kPrints},
        {"EAN-8", Ean8, kPrints},     {"UPC-E", UpcE, kPrints},
        {"Code 39", Code39, kPrints}, {"Code 128", Code128, kCode128Prints},
    };
    barcode::Scanner scanner;
    scanner.SetMode(false);
    scanner.SetTypes(barcode::TYPE_EAN8 | barcode::TYPE_EAN13 | barcode::TYPE_UPCE | barcode::TYPE_CODE39 |
                     barcode::TYPE_CODE128);

    int code128Reads = 0; // every value reported as Code 128, right or wrong
    int code128Wrong = 0;
    std::ostringstream report;
    for (unsigned s = 0; s < sizeof(symbologies) / sizeof(symbologies[0]); ++s) {
        const Symbology& symbology = symbologies[s];
        Tally tally;
        for (int n = 0; n < symbology.prints; ++n) {
            std::seed_seq seeds{kSeed, s, static_cast<unsigned>(n)};
            std::mt19937 random(seeds);
            auto uniform = [&random](double lo, double hi) {
                return std::uniform_real_distribution<double>(lo, hi)(random);
            };
            const Print print = symbology.make(random);
            Rendering r;
            r.module = uniform(1.8, 4.0);
            r.spread = uniform(-0.25, 0.25);
            r.sigma = uniform(0.3, 1.4);
            r.phase = uniform(0.0, 1.0);
            r.light = std::uniform_int_distribution<int>(170, 235)(random);
            r.dark = std::uniform_int_distribution<int>(10, 70)(random);
            r.quietLeft = std::uniform_int_distribution<int>(12, 20)(random);
            r.quietRight = std::uniform_int_distribution<int>(12, 20)(random);
            const std::vector<double> before = OtherPrint(random);
            const std::vector<double> after = OtherPrint(random);
            std::vector<uint8_t> line = Render(print, r, before, after);

            for (bool reversed : {false, true}) {
                if (reversed)
                    std::reverse(line.begin(), line.end());
                const barcode::Result result = ScanLine(scanner, line);
                ++tally.lines;
                code128Reads += result.type == barcode::TYPE_CODE128 ? 1 : 0;
                if (result.type == barcode::TYPE_NONE)
                    continue;
                if (result.value == print.text && result.type == print.type) {
                    ++tally.reads;
                    continue;
                }
                ++tally.wrong;
                code128Wrong += result.type == barcode::TYPE_CODE128 ? 1 : 0;
                std::ostringstream what;
                what << symbology.name << " print " << n << " (seed " << kSeed << ", " << s << ", " << n << ")"
                     << (reversed ? " right to left" : "") << ": \"" << print.text << "\" read as \""
                     << result.value << "\" type " << result.type << "; " << r.module << " px/module, spread "
                     << r.spread << " px, sigma " << r.sigma << " px";
                if (MustNeverMisread(result.type))
                    ADD_FAILURE() << what.str();
                else
                    std::cout << "  wrong: " << what.str() << "\n";
            }
        }
        report << "  " << std::left << std::setw(9) << symbology.name << std::right << std::setw(6) << tally.lines
               << " lines, read " << std::setw(7) << Percent(tally.reads, tally.lines) << ", wrong "
               << Percent(tally.wrong, tally.lines) << " (" << tally.wrong << ")\n";
    }
    std::cout << "Rendered prints, 1.8 to 4 px/module, blur sigma 0.3 to 1.4 px, ink spread up to 0.25 px:\n"
              << report.str() << "  Code 128 reads: " << code128Reads << ", wrong " << code128Wrong << "\n";
    EXPECT_LT(code128Wrong * 10000, code128Reads) << "more than one wrong Code 128 read in 10,000";
}

} // namespace
