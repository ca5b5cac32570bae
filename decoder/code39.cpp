// Code 39: a start character "*", the data characters, a stop character "*".
// Every character is nine elements, five bars and four spaces (bar first),
// three of them wide and six narrow; a narrow light gap separates two
// characters. On the run line a character therefore takes nine runs starting
// at a dark run, and the next one starts ten runs later. The symbol carries no
// check of its own, so the quiet zones and the width tests below are all that
// keep noise from reading as a value.
#include "code39.h"

#include <array>
#include <cstdlib>

namespace barcode {

namespace {

// A character's wide/narrow pattern, first element first.
struct Code39Character {
    char character;
    char elements[10];
};

// The published Code 39 character set; "n" narrow, "w" wide. The number is the
// table index: the pattern read as nine bits, first element at bit 8.
constexpr Code39Character kCharacters[] = {
    {'0', "nnnwwnwnn"}, //  52
    {'1', "wnnwnnnnw"}, // 289
    {'2', "nnwwnnnnw"}, //  97
    {'3', "wnwwnnnnn"}, // 352
    {'4', "nnnwwnnnw"}, //  49
    {'5', "wnnwwnnnn"}, // 304
    {'6', "nnwwwnnnn"}, // 112
    {'7', "nnnwnnwnw"}, //  37
    {'8', "wnnwnnwnn"}, // 292
    {'9', "nnwwnnwnn"}, // 100
    {'A', "wnnnnwnnw"}, // 265
    {'B', "nnwnnwnnw"}, //  73
    {'C', "wnwnnwnnn"}, // 328
    {'D', "nnnnwwnnw"}, //  25
    {'E', "wnnnwwnnn"}, // 280
    {'F', "nnwnwwnnn"}, //  88
    {'G', "nnnnnwwnw"}, //  13
    {'H', "wnnnnwwnn"}, // 268
    {'I', "nnwnnwwnn"}, //  76
    {'J', "nnnnwwwnn"}, //  28
    {'K', "wnnnnnnww"}, // 259
    {'L', "nnwnnnnww"}, //  67
    {'M', "wnwnnnnwn"}, // 322
    {'N', "nnnnwnnww"}, //  19
    {'O', "wnnnwnnwn"}, // 274
    {'P', "nnwnwnnwn"}, //  82
    {'Q', "nnnnnnwww"}, //   7
    {'R', "wnnnnnwwn"}, // 262
    {'S', "nnwnnnwwn"}, //  70
    {'T', "nnnnwnwwn"}, //  22
    {'U', "wwnnnnnnw"}, // 385
    {'V', "nwwnnnnnw"}, // 193
    {'W', "wwwnnnnnn"}, // 448
    {'X', "nwnnwnnnw"}, // 145
    {'Y', "wwnnwnnnn"}, // 400
    {'Z', "nwwnwnnnn"}, // 208
    {'-', "nwnnnnwnw"}, // 133
    {'.', "wwnnnnwnn"}, // 388
    {' ', "nwwnnnwnn"}, // 196
    {'*', "nwnnwnwnn"}, // 148, start and stop
    {'$', "nwnwnwnnn"}, // 168
    {'/', "nwnwnnnwn"}, // 162
    {'+', "nwnnnwnwn"}, // 138
    {'%', "nnnwnwnwn"}, //  42
};
constexpr int kCharacterCount = sizeof(kCharacters) / sizeof(kCharacters[0]);

constexpr int PatternIndex(const char* elements)
{
    int index = 0;
    for (int k = 0; k < 9; ++k)
        index = (index << 1) | (elements[k] == 'w' ? 1 : 0);
    return index;
}

constexpr bool EveryCharacterIsNineElementsThreeWide()
{
    for (const Code39Character& c : kCharacters) {
        int wide = 0;
        for (int k = 0; k < 9; ++k) {
            if (c.elements[k] != 'w' && c.elements[k] != 'n')
                return false;
            wide += c.elements[k] == 'w' ? 1 : 0;
        }
        if (wide != 3)
            return false;
    }
    return true;
}

using CharacterTable = std::array<char, 512>;

constexpr CharacterTable BuildCharacterTable()
{
    CharacterTable table{};
    for (const Code39Character& c : kCharacters)
        table[PatternIndex(c.elements)] = c.character;
    return table;
}

constexpr int FilledEntries(const CharacterTable& table)
{
    int filled = 0;
    for (char entry : table)
        filled += entry != 0 ? 1 : 0;
    return filled;
}

} // namespace

// Character by 9-bit wide/narrow pattern (wide = 1, first element at bit 8);
// 0 where the pattern is no character.
static constexpr CharacterTable Code39Table = BuildCharacterTable();

static_assert(kCharacterCount == 44, "43 data characters and the start/stop character");
static_assert(EveryCharacterIsNineElementsThreeWide(), "every Code 39 character is nine elements, three of them wide");
static_assert(FilledEntries(Code39Table) == kCharacterCount, "two characters share a pattern");
static_assert(Code39Table[0] == 0, "the all-narrow pattern is no character");
static_assert(Code39Table[52] == '0' && Code39Table[265] == 'A'
                  && Code39Table[148] == '*',
              "pattern bits run from the first element (bit 8) to the ninth (bit 0)");
// A stop character met from its far side reads as "P" in line order.
static_assert(Code39Table[82] == 'P', "mirror image of the start/stop pattern");

namespace {

constexpr char kStartStop = '*';
constexpr int kCharacterRuns = 9;
constexpr int kCharacterStep = 10;   // nine runs and the inter-character gap
// Start, one data character and stop need 29 runs; fewer than 28 cannot
// hold a symbol, so the search only starts where 28 runs remain.
constexpr int kMinLineRuns = 27;
// A symbol of this many characters or fewer (start excluded, stop included)
// must also show a light area after its stop character.
constexpr int kTrailingTestMaxChars = 4;

// Consecutive characters may differ in width by a quarter of the previous one.
constexpr int kCharWidthTolerance = 4; // divisor of the previous width
// Wide elements: the widest no more than twice the third widest, the third
// widest no more than three times the fourth (the widest narrow one).
constexpr int kWideSpreadFactor = 2;
constexpr int kWideToNarrowFactor = 3;
// Narrow elements: the widest no more than 2.5 times the narrowest.
constexpr double kNarrowSpreadFactor = 2.5;
// The narrowest element must lie within 30 % of the running narrow reference.
constexpr double kNarrowReferenceTolerance = 0.3;

} // namespace

std::string ReverseString(const std::string& s)
{
    return std::string(s.rbegin(), s.rend());
}

bool GreaterWidth(const int16_t* a, const int16_t* b)
{
    return *a > *b;
}

void RankWidths(const int16_t* runs, int n, const int16_t** ranked)
{
    // Insertion sort: stable, and no allocation for nine entries.
    for (int k = 0; k < n; ++k) {
        const int16_t* run = runs + k;
        int j = k;
        while (j > 0 && GreaterWidth(run, ranked[j - 1])) {
            ranked[j] = ranked[j - 1];
            --j;
        }
        ranked[j] = run;
    }
}

void CODE39BarcodeType::Reset()
{
}

char CODE39BarcodeType::ReadCharacter(const int16_t* runs)
{
    const int width = SumRuns(runs, kCharacterRuns);
    const bool first = m_charWidth == 0;
    if (!first && std::abs(m_charWidth - width) > m_charWidth / kCharWidthTolerance)
        return 0;
    m_charWidth = width;

    const int16_t* ranked[kCharacterRuns];
    RankWidths(runs, kCharacterRuns, ranked);
    const int widest = *ranked[0];
    const int thirdWidest = *ranked[2];
    const int widestNarrow = *ranked[3];
    const int narrowest = *ranked[8];
    if (widest > kWideSpreadFactor * thirdWidest)
        return 0;
    if (thirdWidest > kWideToNarrowFactor * widestNarrow)
        return 0;
    if (widestNarrow > kNarrowSpreadFactor * narrowest)
        return 0;

    if (m_narrowWidth == 0) {
        m_narrowWidth = narrowest;
    } else {
        if (std::abs(m_narrowWidth - narrowest) > kNarrowReferenceTolerance * m_narrowWidth)
            return 0;
        m_narrowWidth = (m_narrowWidth + narrowest) / 2;
    }

    // The three widest runs are the wide elements.
    int forward = 0;
    int backward = 0;
    for (int k = 0; k < 3; ++k) {
        const int position = static_cast<int>(ranked[k] - runs);
        forward |= 1 << (kCharacterRuns - 1 - position);
        backward |= 1 << position;
    }

    if (first) {
        if (Code39Table[forward] == kStartStop) {
            m_reversed = false;
            return kStartStop;
        }
        if (Code39Table[backward] == kStartStop) {
            m_reversed = true;
            return kStartStop;
        }
        return Code39Table[forward];
    }
    return Code39Table[m_reversed ? backward : forward];
}

bool CODE39BarcodeType::Decode(const RunLine& line, Result& out)
{
    const int16_t* w = line.widths;
    const int count = line.count;
    if (count - kMinLineRuns <= 0)
        return false;

    std::string value;
    // Characters start at dark runs only.
    for (int i = 0; i < count - kMinLineRuns; i += 2) {
        m_narrowWidth = 0;
        m_charWidth = 0;
        m_reversed = false;
        if (ReadCharacter(w + i) != kStartStop)
            continue;

        // The light run before the start character and the dark run before
        // that must be wider than the character. At runs 0 and 2 the line
        // itself begins there, and that is quiet zone enough.
        const int startWidth = SumRuns(w + i, kCharacterRuns);
        if (i > 2 && w[i - 2] + w[i - 1] <= startWidth)
            continue;

        value.clear();
        int characters = 0; // stop included
        int p = i + kCharacterStep;
        bool stopped = false;
        for (;;) {
            const char c = ReadCharacter(w + p);
            if (c == 0)
                break;
            ++characters;
            if (c == kStartStop) {
                stopped = true;
                break;
            }
            value += c;
            p += kCharacterStep;
            if (p + kCharacterRuns > count)
                break;
        }
        if (!stopped)
            continue;

        // Short symbols are easily found inside other patterns: they need
        // light after the stop character. The runs looked at are those where
        // a further character would begin, after the gap.
        const int after = p + kCharacterStep;
        if (characters <= kTrailingTestMaxChars && count - after >= 2
            && w[after] + w[after + 1] <= m_charWidth)
            continue;
        if (characters < 2)
            continue;

        out.value = m_reversed ? ReverseString(value) : value;
        out.type = TYPE_CODE39;
        return true;
    }
    return false;
}

} // namespace barcode
