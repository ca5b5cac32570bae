// EAN-8. A symbol is 43 runs from its first bar: the start guard (bar, space,
// bar), four left characters (space first, L set only), the centre guard
// (five runs, space first), four right characters (bar first, R set) and the
// end guard; a light quiet zone must lie on either side of it.
#include "ean8.h"

namespace barcode {

namespace {

constexpr int SymbolRuns = 43;
constexpr int HalfCharacters = 4;
constexpr int Characters = 2 * HalfCharacters;

// Run offsets from the start guard's first bar.
constexpr int LeftStart = 3;    // left character k at 3 + 4k
constexpr int CentreGuard = 19; // space, bar, space, bar, space
constexpr int RightStart = 24;  // right character k at 24 + 4k
constexpr int EndGuard = 40;    // bar, space, bar
constexpr int TrailingQuiet = 43;
static_assert(EndGuard + 3 == SymbolRuns, "the end guard closes the symbol");
static_assert(RightStart + 4 * HalfCharacters == EndGuard, "four right characters");
static_assert(LeftStart + 4 * HalfCharacters == CentreGuard, "four left characters");

} // namespace

bool EAN8BarcodeType::Decode(const RunLine& line, Result& out)
{
    m_found = false;
    const int count = line.count;
    const int16_t* w = line.widths;
    if (w == nullptr)
        return false;

    unsigned char buffer[Characters + 1]; // eight codes, later 8 digits and a zero
    bool read = false;
    int i = 0;
    while (i + TrailingQuiet < count) {
        const int16_t* s = w + i;

        GuardRanges guards(s);
        if (!guards.StartPasses()) {
            i += 2;
            continue;
        }

        const int first = SumRuns(s + LeftStart, 4);
        if (i < 1 || !LeadingQuietZonePasses(w[i - 1], first)) {
            i += 2;
            continue;
        }

        int lastWidth = 0;
        if (!ReadSpaceFirstCharacters(s + LeftStart, HalfCharacters, EanCharWidthDivisor, buffer, lastWidth)) {
            i += 2;
            continue;
        }

        guards.Add(s + CentreGuard, 5, false);
        if (!guards.Passes()) {
            i += 2;
            continue;
        }

        if (ReadBarFirstCharacters(s + RightStart, HalfCharacters, buffer + HalfCharacters) < HalfCharacters) {
            i += 2;
            continue;
        }

        guards.Add(s + EndGuard, 3, true);
        if (!guards.Passes() || !TrailingQuietZonePasses(s[TrailingQuiet], lastWidth)) {
            i += 2;
            continue;
        }

        // Met from its right end, the symbol gives the mirrored codes in
        // reverse order; turned round, they read like a left-to-right crossing.
        if (!DecodeDigits(buffer) && !DecodeDigits(ReverseDigitCodes(Characters, buffer))) {
            i += TrailingQuiet + 1;
            continue;
        }
        read = true;
        break;
    }
    if (!read)
        return false;
    return Vote(reinterpret_cast<const char*>(buffer), TYPE_EAN8, out);
}

bool EAN8BarcodeType::DecodeDigits(unsigned char* codes)
{
    codes[Characters] = 0;
    int digits[Characters];
    for (int k = 0; k < Characters; ++k) {
        // The left half has no parity pattern: L only.
        const int set = k < HalfCharacters ? EAN_SET_L : EAN_SET_R;
        digits[k] = EanDigitTables[set][codes[k]];
        if (digits[k] == EanNoDigit)
            return false;
    }
    // Weights 3 and 1 from the first digit on.
    int sum = 0;
    for (int k = 0; k < Characters - 1; ++k)
        sum += (k % 2 == 0) ? 3 * digits[k] : digits[k];
    if ((10 - sum % 10) % 10 != digits[Characters - 1])
        return false;
    for (int k = 0; k < Characters; ++k)
        codes[k] = static_cast<unsigned char>(DigitChar(digits[k]));
    return true;
}

} // namespace barcode
