// What the EAN-13/UPC-A, EAN-8 and UPC-E decoders share: the matcher that
// turns the four runs of a symbol character into its 7-module code, the code
// tables, the reversal of codes read from the other side, the tests every
// candidate symbol must pass, and the two-line vote.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "barcode_type.h"
#include "run_line.h"

namespace barcode {

// The four runs of one symbol character. The bars come first whatever the
// line order; spaceFirst gives that order.
struct DigitRuns {
    int16_t bar1;    // first bar in line order
    int16_t space1;  // first space in line order
    int16_t bar2;    // second bar
    int16_t space2;  // second space
    bool spaceFirst; // true: space1, bar1, space2, bar2; false: bar1, space1, bar2, space2
};

// A 7-bit module code: bit 6 is the character's first module in line order,
// a dark module is 1. Code 0 stands for no character.
constexpr int EanCodeCount = 128;
// Digit tables answer this (the letter e) for a code outside their set.
constexpr uint8_t EanNoDigit = 101;

enum EanDigitSet { EAN_SET_L = 0, EAN_SET_G = 1, EAN_SET_R = 2 };

using EanCodeTable = std::array<uint8_t, EanCodeCount>;

// Entry c of table s is the digit whose code in set s is c, else EanNoDigit.
extern const std::array<EanCodeTable, 3> EanDigitTables;
// 1 for the 40 codes of the L, G and R sets and the mirror images of L.
extern const EanCodeTable EanValidCodes;
// The value with n low one-bits, n = 0 to 5.
extern const std::array<uint8_t, 6> EanModuleMasks;

// Orders the pointers so that the values they point to descend; equal values
// keep their order.
void SortWidths4(unsigned* p[4]);

// The module code of one character, or 0 when the widths make no character
// or no valid code.
uint8_t MatchEanDigit(const DigitRuns* runs);

// Reverses the first count codes in place and mirrors each one, so codes read
// from the symbol's far side stand as if read from its near side.
unsigned char* ReverseDigitCodes(int count, unsigned char* codes);

// The 7-bit mirror image of a code.
uint8_t MirrorCode(uint8_t code);

// A running minimum and maximum of the guard bars or guard spaces of one
// candidate symbol.
struct WidthRange {
    explicit WidthRange(int width) : min(width), max(width) {}
    void Add(int width)
    {
        if (width < min)
            min = width;
        if (width > max)
            max = width;
    }
    // Guard runs are all one module: their spread may be less than twice the
    // narrowest, or two pixels whatever the narrowest.
    bool Passes() const;

    int min;
    int max;
};

// The start guard's space may be at most three times its wider bar.
bool StartGuardSpacePasses(int bar1, int space, int bar2);

// A character may differ from the previous one by less than previous /
// divisor (integer quotient); the first is compared with itself.
constexpr int EanCharWidthDivisor = 4;  // EAN-8 and EAN-13 left halves
constexpr int UpcECharWidthDivisor = 8; // every UPC-E character
bool CharWidthPasses(int width, int previous, int divisor);

// The light run before a start guard must be wider than, and the one after
// an end guard at least, this share of a character's width.
bool LeadingQuietZonePasses(int quiet, int charWidth);
bool TrailingQuietZonePasses(int quiet, int charWidth);

// The character at runs w[0..3]: its four widths and their sum.
inline DigitRuns SpaceFirstRuns(const int16_t* w)
{
    return {w[1], w[0], w[3], w[2], true};
}
inline DigitRuns BarFirstRuns(const int16_t* w)
{
    return {w[0], w[1], w[2], w[3], false};
}

// The ranges of a candidate's guard bars and guard spaces, begun with its
// start guard (bar, space, bar).
struct GuardRanges {
    explicit GuardRanges(const int16_t* startGuard) : bars(startGuard[0]), spaces(startGuard[1])
    {
        bars.Add(startGuard[2]);
    }
    // After the start guard: its bars' range, and its space against its wider bar.
    bool StartPasses() const;
    // Adds a later guard's runs, which alternate from a bar or from a space.
    void Add(const int16_t* guard, int runs, bool barFirst);
    // After a later guard: the bar range, then the space range.
    bool Passes() const { return bars.Passes() && spaces.Passes(); }

    WidthRange bars;
    WidthRange spaces;
};

// Matches count space-first characters, four runs each from c on, into
// codes. Each must lie within the width test of the one before it, the
// first of its own width. True when all are read; lastWidth is then the
// width of the last.
bool ReadSpaceFirstCharacters(const int16_t* c, int count, int divisor, unsigned char* codes, int& lastWidth);

// Matches count bar-first characters from c on into codes, with no width
// test: the index of the first that is no character, or count.
int ReadBarFirstCharacters(const int16_t* c, int count, unsigned char* codes);

// The digit value of each character, as the decoders write it.
inline char DigitChar(int digit)
{
    return static_cast<char>('0' + digit);
}

// The base of the three EAN/UPC decoders: the vote map and the Reset that
// clears it at every scan.
class EanFamilyBarcodeType : public BarcodeType {
public:
    void Reset() override;

    // Decoded text -> number of Decode calls that read it since the last Reset.
    std::map<std::string, int> m_votes;

protected:
    // Counts one read of text. The second and every later read of the same
    // text in a scan is accepted: out gets the text and the type.
    bool Vote(const char* text, int type, Result& out);
};

} // namespace barcode
