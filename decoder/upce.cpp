// UPC-E. A symbol is 33 runs from its first bar: the start guard (bar, space,
// bar), six characters (space first, L or G set) and the end guard (space,
// bar, space, bar, space, bar), with a light quiet zone on either side. The
// parity pattern of the six characters encodes the number system and the
// check digit, which is checked over the symbol's UPC-A expansion. Because
// that check is weak, every character's edge-to-edge distances must also
// agree with its code before the digits are decoded.
//
// Met from its right end, the symbol starts with the six-run guard and its
// characters come bar first and mirrored. That walk applies the very same
// tests to the same runs in the other order and turns the codes round
// before decoding, so both directions accept exactly the same symbols with
// the same values.
#include "upce.h"

#include <cstdlib>

namespace barcode {

namespace {

constexpr int Characters = 6;
constexpr int TextLength = 8; // number system, six digits, check digit

// Run offsets from the start guard's first bar, left to right.
constexpr int CharStart = 3; // character k at 3 + 4k
constexpr int EndGuard = 27; // space, bar, space, bar, space, bar
constexpr int TrailingQuiet = 33;
static_assert(CharStart + 4 * Characters == EndGuard, "six characters");
static_assert(EndGuard + 6 == TrailingQuiet, "the end guard closes the symbol");

// Run offsets from the end guard's last bar, met first from the right.
constexpr int BackwardCharStart = 6;  // character 5 - r at 6 + 4r, bar first
constexpr int BackwardStartGuard = 30; // bar, space, bar
static_assert(BackwardCharStart + 4 * Characters == BackwardStartGuard, "six characters");

constexpr std::array<std::array<uint8_t, 64>, 2> BuildParityTables()
{
    // Number system 0 by check digit; number system 1 is the complement.
    constexpr const char* Patterns[10] = {
        "GGGLLL", "GGLGLL", "GGLLGL", "GGLLLG", "GLGGLL",
        "GLLGGL", "GLLLGG", "GLGLGL", "GLGLLG", "GLLGLG",
    };
    std::array<std::array<uint8_t, 64>, 2> tables{};
    for (auto& table : tables) {
        for (auto& entry : table)
            entry = EanNoDigit;
    }
    for (int check = 0; check < 10; ++check) {
        int mask = 0;
        for (int k = 0; k < Characters; ++k) {
            if (Patterns[check][k] == 'L')
                mask |= 1 << (Characters - 1 - k);
        }
        tables[0][mask] = static_cast<uint8_t>(check);
        tables[1][~mask & 63] = static_cast<uint8_t>(check);
    }
    return tables;
}

// The eleven data digits of the UPC-A form of number system n and the six
// digits d[0..5] (zero suppression by the last digit).
void Expand(int n, const int* d, int* e)
{
    const int last = d[5];
    int k = 0;
    e[k++] = n;
    if (last <= 2) {
        const int expanded[10] = {d[0], d[1], last, 0, 0, 0, 0, d[2], d[3], d[4]};
        for (int v : expanded)
            e[k++] = v;
    } else if (last == 3) {
        const int expanded[10] = {d[0], d[1], d[2], 0, 0, 0, 0, 0, d[3], d[4]};
        for (int v : expanded)
            e[k++] = v;
    } else if (last == 4) {
        const int expanded[10] = {d[0], d[1], d[2], d[3], 0, 0, 0, 0, 0, d[4]};
        for (int v : expanded)
            e[k++] = v;
    } else {
        const int expanded[10] = {d[0], d[1], d[2], d[3], d[4], 0, 0, 0, 0, last};
        for (int v : expanded)
            e[k++] = v;
    }
}

// The module lengths of the four runs of a valid code, in line order.
void CodeRuns(uint8_t code, int* modules)
{
    int run = 0;
    modules[0] = 0;
    int previous = (code >> 6) & 1;
    for (int bit = 6; bit >= 0; --bit) {
        const int module = (code >> bit) & 1;
        if (module != previous && run < 3) {
            modules[++run] = 0;
            previous = module;
        }
        ++modules[run];
    }
}

// UPC-E carries its check digit only in the parity of its characters, so
// two characters misread together can still name the check digit their
// digits need: the matcher's fit alone is not proof enough. A bar and the
// space beside it keep their sum however far ink spread or the filter's
// split moves the edge between them, so each character's three
// edge-to-edge distances (first run with second, second with third, third
// with fourth) must come within EdgeToleranceHundredths of a module of the
// module sums its code says, a module being a seventh of the character.
// codes[k] stands for the four runs from first + 4k on, both in line order.
constexpr int EdgeToleranceHundredths = 45; // of a module
bool EdgesAgree(const int16_t* first, const unsigned char* codes)
{
    for (int k = 0; k < Characters; ++k) {
        const int16_t* c = first + 4 * k;
        int modules[4];
        CodeRuns(codes[k], modules);
        const int width = SumRuns(c, 4);
        for (int e = 0; e < 3; ++e) {
            // Measured modules 7 * pair / width against the code's sum.
            const int offBy = 7 * (c[e] + c[e + 1]) - (modules[e] + modules[e + 1]) * width;
            if (100 * std::abs(offBy) >= EdgeToleranceHundredths * width)
                return false;
        }
    }
    return true;
}

} // namespace

const std::array<std::array<uint8_t, 64>, 2> UpcEParityTables = BuildParityTables();

bool UPCEBarcodeType::Decode(const RunLine& line, Result& out)
{
    m_found = false;
    if (line.widths == nullptr)
        return false;
    unsigned char buffer[TextLength + 1];
    // The left-to-right read goes first over the whole line; only a line on
    // which it finds nothing is walked the other way.
    if (!ReadForward(line, buffer) && !ReadBackward(line, buffer))
        return false;
    return Vote(reinterpret_cast<const char*>(buffer), TYPE_UPCE, out);
}

bool UPCEBarcodeType::ReadForward(const RunLine& line, unsigned char* buffer)
{
    const int count = line.count;
    const int16_t* w = line.widths;
    int i = 0;
    while (i + TrailingQuiet < count) {
        const int16_t* s = w + i;

        GuardRanges guards(s);
        if (!guards.StartPasses()) {
            i += 2;
            continue;
        }

        const int first = SumRuns(s + CharStart, 4);
        if (i < 1 || !LeadingQuietZonePasses(w[i - 1], first)) {
            i += 2;
            continue;
        }

        int lastWidth = 0;
        if (!ReadSpaceFirstCharacters(s + CharStart, Characters, UpcECharWidthDivisor, buffer, lastWidth)) {
            i += 2;
            continue;
        }

        guards.Add(s + EndGuard, 6, false);
        if (!guards.Passes() || !TrailingQuietZonePasses(s[TrailingQuiet], lastWidth) ||
            !EdgesAgree(s + CharStart, buffer)) {
            i += 2;
            continue;
        }

        if (!DecodeDigits(buffer)) {
            i += TrailingQuiet + 1;
            continue;
        }
        return true;
    }
    return false;
}

bool UPCEBarcodeType::ReadBackward(const RunLine& line, unsigned char* buffer)
{
    // Candidate j is the end guard's last bar. Run j + m here is run
    // 32 - m of the left-to-right layout: the symbol's trailing quiet zone
    // lies at j - 1 and its leading one at j + 33.
    const int count = line.count;
    const int16_t* w = line.widths;
    int j = 0;
    while (j + TrailingQuiet < count) {
        const int16_t* s = w + j;

        // Start guard (met last) first, as the left-to-right walk tests it.
        GuardRanges guards(s + BackwardStartGuard);
        if (!guards.StartPasses()) {
            j += 2;
            continue;
        }

        // Character k of the symbol is met as character 5 - k here.
        const int first = SumRuns(s + BackwardCharStart + 4 * (Characters - 1), 4);
        if (!LeadingQuietZonePasses(s[TrailingQuiet], first)) {
            j += 2;
            continue;
        }

        bool read = true;
        int previous = first;
        for (int k = 0; k < Characters; ++k) {
            const int16_t* c = s + BackwardCharStart + 4 * (Characters - 1 - k);
            const DigitRuns runs = BarFirstRuns(c);
            buffer[Characters - 1 - k] = MatchEanDigit(&runs);
            const int width = SumRuns(c, 4);
            if (buffer[Characters - 1 - k] == 0 || !CharWidthPasses(width, previous, UpcECharWidthDivisor)) {
                read = false;
                break;
            }
            previous = width;
        }
        if (!read) {
            j += 2;
            continue;
        }

        guards.Add(s, 6, true);
        if (!guards.Passes() || j < 1 || !TrailingQuietZonePasses(w[j - 1], previous) ||
            !EdgesAgree(s + BackwardCharStart, buffer)) {
            j += 2;
            continue;
        }

        // The codes stand in line order, each as met from the right: turn
        // them into the symbol's own order and reading.
        if (!DecodeDigits(ReverseDigitCodes(Characters, buffer))) {
            j += TrailingQuiet + 1;
            continue;
        }
        return true;
    }
    return false;
}

bool UPCEBarcodeType::DecodeDigits(unsigned char* codes)
{
    codes[TextLength] = 0;
    int digits[Characters];
    int mask = 0;
    for (int k = 0; k < Characters; ++k) {
        int digit = EanDigitTables[EAN_SET_L][codes[k]];
        if (digit != EanNoDigit) {
            mask |= 1 << (Characters - 1 - k);
        } else {
            digit = EanDigitTables[EAN_SET_G][codes[k]];
            if (digit == EanNoDigit)
                return false;
        }
        digits[k] = digit;
    }

    int numberSystem = 0;
    int check = UpcEParityTables[0][mask];
    if (check == EanNoDigit) {
        numberSystem = 1;
        check = UpcEParityTables[1][mask];
        if (check == EanNoDigit)
            return false;
    }

    int expanded[11];
    Expand(numberSystem, digits, expanded);
    // Weights 3 and 1 from the first digit on.
    int sum = 0;
    for (int k = 0; k < 11; ++k)
        sum += (k % 2 == 0) ? 3 * expanded[k] : expanded[k];
    if ((10 - sum % 10) % 10 != check)
        return false;

    codes[0] = static_cast<unsigned char>(DigitChar(numberSystem));
    for (int k = 0; k < Characters; ++k)
        codes[1 + k] = static_cast<unsigned char>(DigitChar(digits[k]));
    codes[TextLength - 1] = static_cast<unsigned char>(DigitChar(check));
    return true;
}

} // namespace barcode

