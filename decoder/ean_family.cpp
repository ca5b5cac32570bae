// The EAN/UPC character matcher, code tables, code reversal, candidate tests
// and two-line vote.
#include "ean_family.h"

#include <cmath>
#include <cstdlib>

namespace barcode {

namespace {

// The L set (odd parity) of digits 0 to 9: light first, dark last.
constexpr uint8_t LCodes[10] = {
    0x0D, // 0: 0001101
    0x19, // 1: 0011001
    0x13, // 2: 0010011
    0x3D, // 3: 0111101
    0x23, // 4: 0100011
    0x31, // 5: 0110001
    0x2F, // 6: 0101111
    0x3B, // 7: 0111011
    0x37, // 8: 0110111
    0x0B, // 9: 0001011
};

constexpr uint8_t Mirror7(uint8_t code)
{
    uint8_t mirrored = 0;
    for (int bit = 0; bit < 7; ++bit) {
        if (code & (1u << bit))
            mirrored = static_cast<uint8_t>(mirrored | (1u << (6 - bit)));
    }
    return mirrored;
}

// R codes are the complements of L; G codes the mirror images of R.
constexpr uint8_t CodeOf(int set, int digit)
{
    const uint8_t l = LCodes[digit];
    const uint8_t r = static_cast<uint8_t>(~l & 0x7F);
    return set == EAN_SET_L ? l : (set == EAN_SET_R ? r : Mirror7(r));
}

constexpr std::array<EanCodeTable, 3> BuildDigitTables()
{
    std::array<EanCodeTable, 3> t{};
    for (int set = 0; set < 3; ++set) {
        for (int code = 0; code < EanCodeCount; ++code)
            t[set][code] = EanNoDigit;
        for (int digit = 0; digit < 10; ++digit)
            t[set][CodeOf(set, digit)] = static_cast<uint8_t>(digit);
    }
    return t;
}

// The L, G and R codes and the mirror images of L: closed under mirroring,
// so a character met from either side gives a valid code.
constexpr EanCodeTable BuildValidCodes()
{
    EanCodeTable v{};
    for (int digit = 0; digit < 10; ++digit) {
        v[CodeOf(EAN_SET_L, digit)] = 1;
        v[CodeOf(EAN_SET_G, digit)] = 1;
        v[CodeOf(EAN_SET_R, digit)] = 1;
        v[Mirror7(CodeOf(EAN_SET_L, digit))] = 1;
    }
    return v;
}

constexpr int CountValid()
{
    const EanCodeTable valid = BuildValidCodes();
    int n = 0;
    for (int code = 0; code < EanCodeCount; ++code)
        n += valid[code];
    return n;
}
static_assert(CountValid() == 40, "the four code families must be disjoint");
static_assert(CodeOf(EAN_SET_G, 6) == 0x05, "G code of 6 is 0000101");

// Module shares of the largest, second and third run of a character, for
// the three ways seven modules split into two bars and two spaces.
struct Template {
    float share[3];  // largest, second, third run; the smallest is not compared
    int modules[4];  // module counts, largest run to smallest
};
constexpr Template Templates[3] = {
    {{0.57142f, 0.14286f, 0.14286f}, {4, 1, 1, 1}},
    {{0.42858f, 0.28572f, 0.14286f}, {3, 2, 1, 1}},
    {{0.28572f, 0.28572f, 0.28572f}, {2, 2, 2, 1}},
};
constexpr float NoTemplateDistance = 300.0f;

// Runs that share a template's module count must still differ by this much
// (tenths of a pixel) where the template says they are of different sizes.
constexpr unsigned MinModuleStep = 5;
// No run may be more than this many times the narrowest: a four-module run
// is four times a one-module run, with room for print gain.
constexpr unsigned MaxRunRatio = 7;

// Two pixels: guard runs this close together pass whatever their size.
constexpr int GuardSpreadSlack = 20; // tenths of a pixel
// Quiet zones are measured in character widths.
constexpr double QuietZoneShare = 0.69;

} // namespace

const std::array<EanCodeTable, 3> EanDigitTables = BuildDigitTables();
const EanCodeTable EanValidCodes = BuildValidCodes();
const std::array<uint8_t, 6> EanModuleMasks = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F};

uint8_t MirrorCode(uint8_t code)
{
    return Mirror7(code);
}

void SortWidths4(unsigned* p[4])
{
    // A fixed network: the same six compare-exchange steps for every input,
    // and a strict comparison so that equal values keep their order.
    static constexpr int Pairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
    for (const auto& pair : Pairs) {
        if (*p[pair[0]] < *p[pair[1]]) {
            unsigned* t = p[pair[0]];
            p[pair[0]] = p[pair[1]];
            p[pair[1]] = t;
        }
    }
}

uint8_t MatchEanDigit(const DigitRuns* runs)
{
    if (runs->bar1 < 0 || runs->space1 < 0 || runs->bar2 < 0 || runs->space2 < 0)
        return 0;
    const int total = runs->bar1 + runs->space1 + runs->bar2 + runs->space2;
    if (total == 0)
        return 0;

    // Work values in the order bar1, bar2, space1, space2; rank them.
    unsigned values[4] = {static_cast<unsigned>(runs->bar1), static_cast<unsigned>(runs->bar2),
                          static_cast<unsigned>(runs->space1), static_cast<unsigned>(runs->space2)};
    unsigned* ranked[4] = {&values[0], &values[1], &values[2], &values[3]};
    SortWidths4(ranked);
    const unsigned a = *ranked[0];
    const unsigned b = *ranked[1];
    const unsigned c = *ranked[2];
    const unsigned d = *ranked[3];

    const float ra = static_cast<float>(a) / static_cast<float>(total);
    const float rb = static_cast<float>(b) / static_cast<float>(total);
    const float rc = static_cast<float>(c) / static_cast<float>(total);
    int chosen = -1;
    float best = NoTemplateDistance;
    for (int k = 0; k < 3; ++k) {
        const float distance = std::fabs(Templates[k].share[0] - ra) + std::fabs(Templates[k].share[1] - rb) +
                               std::fabs(Templates[k].share[2] - rc);
        if (distance < best) {
            best = distance;
            chosen = k;
        }
    }
    if (chosen < 0 || a > MaxRunRatio * d)
        return 0;
    if (chosen == 1 && (a - b < MinModuleStep || b - c < MinModuleStep))
        return 0;
    if (chosen == 2 && c - d < MinModuleStep)
        return 0;

    // Each run takes the module count of its rank.
    int modules[4] = {0, 0, 0, 0};
    for (int rank = 0; rank < 4; ++rank)
        modules[ranked[rank] - values] = Templates[chosen].modules[rank];
    const int nb1 = modules[0];
    const int nb2 = modules[1];
    const int ns1 = modules[2];
    const int ns2 = modules[3];

    unsigned code;
    if (runs->spaceFirst)
        code = ((static_cast<unsigned>(EanModuleMasks[nb1]) << ns2) << nb2) | EanModuleMasks[nb2];
    else
        code = (((static_cast<unsigned>(EanModuleMasks[nb1]) << ns1) << nb2) | EanModuleMasks[nb2]) << ns2;
    code &= 0x7F;
    return EanValidCodes[code] ? static_cast<uint8_t>(code) : 0;
}

unsigned char* ReverseDigitCodes(int count, unsigned char* codes)
{
    for (int i = 0, j = count - 1; i <= j; ++i, --j) {
        const unsigned char first = codes[i];
        codes[i] = Mirror7(codes[j]);
        codes[j] = Mirror7(first);
    }
    return codes;
}

bool WidthRange::Passes() const
{
    const int spread = max - min;
    return spread < 2 * min || spread <= GuardSpreadSlack;
}

bool StartGuardSpacePasses(int bar1, int space, int bar2)
{
    const int barMax = bar1 > bar2 ? bar1 : bar2;
    return std::abs(barMax - space) <= 2 * barMax;
}

bool CharWidthPasses(int width, int previous, int divisor)
{
    return std::abs(width - previous) < previous / divisor;
}

bool GuardRanges::StartPasses() const
{
    // Both start-guard bars are the ends of the fresh bar range.
    return bars.Passes() && StartGuardSpacePasses(bars.min, spaces.min, bars.max);
}

void GuardRanges::Add(const int16_t* guard, int runs, bool barFirst)
{
    for (int k = 0; k < runs; ++k) {
        if ((k % 2 == 0) == barFirst)
            bars.Add(guard[k]);
        else
            spaces.Add(guard[k]);
    }
}

bool ReadSpaceFirstCharacters(const int16_t* c, int count, int divisor, unsigned char* codes, int& lastWidth)
{
    int previous = SumRuns(c, 4);
    for (int k = 0; k < count; ++k, c += 4) {
        const DigitRuns runs = SpaceFirstRuns(c);
        codes[k] = MatchEanDigit(&runs);
        const int width = SumRuns(c, 4);
        if (codes[k] == 0 || !CharWidthPasses(width, previous, divisor))
            return false;
        previous = width;
    }
    lastWidth = previous;
    return true;
}

int ReadBarFirstCharacters(const int16_t* c, int count, unsigned char* codes)
{
    for (int k = 0; k < count; ++k, c += 4) {
        const DigitRuns runs = BarFirstRuns(c);
        codes[k] = MatchEanDigit(&runs);
        if (codes[k] == 0)
            return k;
    }
    return count;
}

bool LeadingQuietZonePasses(int quiet, int charWidth)
{
    return quiet > QuietZoneShare * charWidth;
}

bool TrailingQuietZonePasses(int quiet, int charWidth)
{
    return quiet >= QuietZoneShare * charWidth;
}

void EanFamilyBarcodeType::Reset()
{
    m_votes.clear();
}

bool EanFamilyBarcodeType::Vote(const char* text, int type, Result& out)
{
    int& reads = m_votes[text];
    ++reads;
    if (reads < 2) {
        m_found = false;
        return false;
    }
    out.value = text;
    out.type = type;
    m_found = true;
    return true;
}

} // namespace barcode
