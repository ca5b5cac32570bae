// EAN-13 and UPC-A. A symbol is 59 runs from its first bar: the start guard
// (bar, space, bar), six left characters (space first, from the L or G set),
// the centre guard (five runs, space first), six right characters (bar first,
// R set) and the end guard (bar, space, bar); every character is 7 modules in
// four runs. The parity pattern of the left half encodes a thirteenth,
// leading digit; a left half all from L is leading digit 0, which is UPC-A.
// No quiet zones are tested.
#include "ean13.h"

namespace barcode {

namespace {

constexpr int SymbolRuns = 59;
constexpr int HalfCharacters = 6;
constexpr int Characters = 2 * HalfCharacters;

// Run offsets from the start guard's first bar.
constexpr int LeftStart = 3;   // left character k at 3 + 4k
constexpr int CentreGuard = 27; // space, bar, space, bar, space
constexpr int RightStart = 32; // right character k at 32 + 4k
constexpr int EndGuard = 56;   // bar, space, bar
static_assert(EndGuard + 3 == SymbolRuns, "the end guard closes the symbol");
static_assert(RightStart + 4 * HalfCharacters == EndGuard, "six right characters");

constexpr std::array<uint8_t, 64> BuildParityTable()
{
    // Parity of left characters 0 to 5 for leading digits 0 to 9 (L odd, G even).
    constexpr const char* Patterns[10] = {
        "LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
        "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL",
    };
    std::array<uint8_t, 64> table{};
    for (auto& entry : table)
        entry = EanNoDigit;
    for (int digit = 0; digit < 10; ++digit) {
        int mask = 0;
        for (int k = 0; k < HalfCharacters; ++k) {
            if (Patterns[digit][k] == 'L')
                mask |= 1 << k;
        }
        table[mask] = static_cast<uint8_t>(digit);
    }
    return table;
}

} // namespace

const std::array<uint8_t, 64> Ean13ParityTable = BuildParityTable();

bool EAN13BarcodeType::Decode(const RunLine& line, Result& out)
{
    m_found = false;
    const int count = line.count;
    const int16_t* w = line.widths;
    if (count < SymbolRuns || w == nullptr)
        return false;

    unsigned char buffer[Characters + 2]; // twelve codes, later 13 digits and a zero
    bool read = false;
    int i = (w[0] == 0) ? 2 : 0;
    while (i + SymbolRuns - 1 < count) {
        const int16_t* s = w + i;

        GuardRanges guards(s);
        if (!guards.StartPasses()) {
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
            i += CentreGuard + 1;
            continue;
        }

        const int badRight = ReadBarFirstCharacters(s + RightStart, HalfCharacters, buffer + HalfCharacters);
        if (badRight < HalfCharacters) {
            i += RightStart + 2 + 4 * badRight;
            continue;
        }

        guards.Add(s + EndGuard, 3, true);
        if (!guards.Passes()) {
            i += EndGuard + 2;
            continue;
        }

        // Met from its right end, the symbol gives the mirrored codes in
        // reverse order; turned round, they read like a left-to-right crossing.
        if (!DecodeDigits(buffer) && !DecodeDigits(ReverseDigitCodes(Characters, buffer))) {
            i += EndGuard + 2;
            continue;
        }
        read = true;
        break;
    }
    if (!read)
        return false;
    return Vote(reinterpret_cast<const char*>(buffer), m_type, out);
}

bool EAN13BarcodeType::DecodeDigits(unsigned char* codes)
{
    m_type = TYPE_UPCA;
    int digits[Characters + 1]; // [0] is the leading digit
    int mask = 0;
    for (int k = 0; k < HalfCharacters; ++k) {
        int digit = EanDigitTables[EAN_SET_L][codes[k]];
        if (digit != EanNoDigit) {
            mask |= 1 << k;
        } else {
            digit = EanDigitTables[EAN_SET_G][codes[k]];
            m_type = TYPE_EAN13;
            if (digit == EanNoDigit)
                return false;
        }
        digits[1 + k] = digit;
    }
    for (int k = HalfCharacters; k < Characters; ++k) {
        const int digit = EanDigitTables[EAN_SET_R][codes[k]];
        if (digit == EanNoDigit)
            return false;
        digits[1 + k] = digit;
    }

    if (m_type == TYPE_EAN13) {
        digits[0] = Ean13ParityTable[mask];
        if (digits[0] == EanNoDigit)
            return false;
        // Weights 1 and 3 alternate from the leading digit on.
        int sum = 0;
        for (int k = 0; k < Characters; ++k)
            sum += (k % 2 == 0) ? digits[k] : 3 * digits[k];
        if ((10 - sum % 10) % 10 != digits[Characters])
            return false;
        for (int k = 0; k <= Characters; ++k)
            codes[k] = static_cast<unsigned char>(DigitChar(digits[k]));
        codes[Characters + 1] = 0;
        return true;
    }

    // UPC-A: weights 3 and 1 from its first digit on; the leading 0 of the
    // EAN-13 form is not written.
    int sum = 0;
    for (int k = 0; k < Characters - 1; ++k)
        sum += (k % 2 == 0) ? 3 * digits[1 + k] : digits[1 + k];
    if ((10 - sum % 10) % 10 != digits[Characters])
        return false;
    for (int k = 0; k < Characters; ++k)
        codes[k] = static_cast<unsigned char>(DigitChar(digits[1 + k]));
    codes[Characters] = 0;
    return true;
}

} // namespace barcode
