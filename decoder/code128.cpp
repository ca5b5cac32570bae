// Code 128: a start symbol (A, B or C: the first code set), data symbols, a
// modulo-103 check symbol and the stop symbol. Every symbol is three bars and
// three spaces, bar first, of one to four modules each and eleven modules in
// all: six runs on the run line. The stop symbol adds a final two-module bar,
// so a symbol of n data symbols takes 6 (n + 3) + 1 runs. Read from its far
// end, a symbol meets that final bar first; the stop symbol seen from there
// and the mirrored start symbols have patterns of their own in the table, and
// after the final bar every group starts at a light run.
#include "code128.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "code39.h"

namespace barcode {

namespace {

// Element widths in modules, bar first, of every symbol value: the published
// Code 128 patterns 0 to 106, then the patterns that a symbol read from its
// far end shows in line order.
constexpr char kSymbolElements[][7] = {
    "212222", // 0: A space, B space, C "00"
    "222122", // 1: A '!', B '!', C "01"
    "222221", // 2: A '"', B '"', C "02"
    "121223", // 3: A '#', B '#', C "03"
    "121322", // 4: A '$', B '$', C "04"
    "131222", // 5: A '%', B '%', C "05"
    "122213", // 6: A '&', B '&', C "06"
    "122312", // 7: A ''', B ''', C "07"
    "132212", // 8: A '(', B '(', C "08"
    "221213", // 9: A ')', B ')', C "09"
    "221312", // 10: A '*', B '*', C "10"
    "231212", // 11: A '+', B '+', C "11"
    "112232", // 12: A ',', B ',', C "12"
    "122132", // 13: A '-', B '-', C "13"
    "122231", // 14: A '.', B '.', C "14"
    "113222", // 15: A '/', B '/', C "15"
    "123122", // 16: A '0', B '0', C "16"
    "123221", // 17: A '1', B '1', C "17"
    "223211", // 18: A '2', B '2', C "18"
    "221132", // 19: A '3', B '3', C "19"
    "221231", // 20: A '4', B '4', C "20"
    "213212", // 21: A '5', B '5', C "21"
    "223112", // 22: A '6', B '6', C "22"
    "312131", // 23: A '7', B '7', C "23"
    "311222", // 24: A '8', B '8', C "24"
    "321122", // 25: A '9', B '9', C "25"
    "321221", // 26: A ':', B ':', C "26"
    "312212", // 27: A ';', B ';', C "27"
    "322112", // 28: A '<', B '<', C "28"
    "322211", // 29: A '=', B '=', C "29"
    "212123", // 30: A '>', B '>', C "30"
    "212321", // 31: A '?', B '?', C "31"
    "232121", // 32: A '@', B '@', C "32"
    "111323", // 33: A 'A', B 'A', C "33"
    "131123", // 34: A 'B', B 'B', C "34"
    "131321", // 35: A 'C', B 'C', C "35"
    "112313", // 36: A 'D', B 'D', C "36"
    "132113", // 37: A 'E', B 'E', C "37"
    "132311", // 38: A 'F', B 'F', C "38"
    "211313", // 39: A 'G', B 'G', C "39"
    "231113", // 40: A 'H', B 'H', C "40"
    "231311", // 41: A 'I', B 'I', C "41"
    "112133", // 42: A 'J', B 'J', C "42"
    "112331", // 43: A 'K', B 'K', C "43"
    "132131", // 44: A 'L', B 'L', C "44"
    "113123", // 45: A 'M', B 'M', C "45"
    "113321", // 46: A 'N', B 'N', C "46"
    "133121", // 47: A 'O', B 'O', C "47"
    "313121", // 48: A 'P', B 'P', C "48"
    "211331", // 49: A 'Q', B 'Q', C "49"
    "231131", // 50: A 'R', B 'R', C "50"
    "213113", // 51: A 'S', B 'S', C "51"
    "213311", // 52: A 'T', B 'T', C "52"
    "213131", // 53: A 'U', B 'U', C "53"
    "311123", // 54: A 'V', B 'V', C "54"
    "311321", // 55: A 'W', B 'W', C "55"
    "331121", // 56: A 'X', B 'X', C "56"
    "312113", // 57: A 'Y', B 'Y', C "57"
    "312311", // 58: A 'Z', B 'Z', C "58"
    "332111", // 59: A '[', B '[', C "59"
    "314111", // 60: A '\', B '\', C "60"
    "221411", // 61: A ']', B ']', C "61"
    "431111", // 62: A '^', B '^', C "62"
    "111224", // 63: A '_', B '_', C "63"
    "111422", // 64: A NUL, B '`', C "64"
    "121124", // 65: A SOH, B 'a', C "65"
    "121421", // 66: A STX, B 'b', C "66"
    "141122", // 67: A ETX, B 'c', C "67"
    "141221", // 68: A EOT, B 'd', C "68"
    "112214", // 69: A ENQ, B 'e', C "69"
    "112412", // 70: A ACK, B 'f', C "70"
    "122114", // 71: A BEL, B 'g', C "71"
    "122411", // 72: A BS, B 'h', C "72"
    "142112", // 73: A HT, B 'i', C "73"
    "142211", // 74: A LF, B 'j', C "74"
    "241211", // 75: A VT, B 'k', C "75"
    "221114", // 76: A FF, B 'l', C "76"
    "413111", // 77: A CR, B 'm', C "77"
    "241112", // 78: A SO, B 'n', C "78"
    "134111", // 79: A SI, B 'o', C "79"
    "111242", // 80: A DLE, B 'p', C "80"
    "121142", // 81: A DC1, B 'q', C "81"
    "121241", // 82: A DC2, B 'r', C "82"
    "114212", // 83: A DC3, B 's', C "83"
    "124112", // 84: A DC4, B 't', C "84"
    "124211", // 85: A NAK, B 'u', C "85"
    "411212", // 86: A SYN, B 'v', C "86"
    "421112", // 87: A ETB, B 'w', C "87"
    "421211", // 88: A CAN, B 'x', C "88"
    "212141", // 89: A EM, B 'y', C "89"
    "214121", // 90: A SUB, B 'z', C "90"
    "412121", // 91: A ESC, B '{', C "91"
    "111143", // 92: A FS, B '|', C "92"
    "111341", // 93: A GS, B '}', C "93"
    "131141", // 94: A RS, B '~', C "94"
    "114113", // 95: A US, B DEL, C "95"
    "114311", // 96: A FNC3, B FNC3, C "96"
    "411113", // 97: A FNC2, B FNC2, C "97"
    "411311", // 98: A SHIFT to B, B SHIFT to A, C "98"
    "113141", // 99: A CODE C, B CODE C, C "99"
    "114131", // 100: A CODE B, B FNC4, C CODE B
    "311141", // 101: A FNC4, B CODE A, C CODE A
    "411131", // 102: FNC1
    "211412", // 103: START A
    "211214", // 104: START B
    "211232", // 105: START C
    "233111", // 106: STOP (its final bar, a 2-module bar, follows)
    "211133", // 107: STOP seen from its final bar
    "214112", // 108: START A seen from its last element
    "412112", // 109: START B seen from its last element
    "232112", // 110: START C seen from its last element
};
constexpr int kSymbolCount = sizeof(kSymbolElements) / sizeof(kSymbolElements[0]);

constexpr uint8_t kFnc3 = 96;
constexpr uint8_t kFnc2 = 97;
constexpr uint8_t kShift = 98;
constexpr uint8_t kCodeC = 99;
constexpr uint8_t kCodeBOrFnc4 = 100; // CODE B in sets A and C, FNC4 in set B
constexpr uint8_t kCodeAOrFnc4 = 101; // CODE A in sets B and C, FNC4 in set A
constexpr uint8_t kFnc1 = 102;
constexpr uint8_t kStartA = 103;
constexpr uint8_t kStartB = 104;
constexpr uint8_t kStartC = 105;
constexpr uint8_t kStop = 106;
constexpr uint8_t kStopFromEnd = 107;
constexpr uint8_t kNoSymbol = 255;

constexpr int ElementModules(const char* elements)
{
    int modules = 0;
    for (int k = 0; k < 6; ++k)
        modules += elements[k] - '0';
    return modules;
}

constexpr bool EverySymbolIsElevenModules()
{
    for (const auto& elements : kSymbolElements) {
        for (int k = 0; k < 6; ++k) {
            if (elements[k] < '1' || elements[k] > '4')
                return false;
        }
        if (elements[6] != '\0' || ElementModules(elements) != 11)
            return false;
    }
    return true;
}

// Bar modules 1, space modules 0, first module at bit 10.
constexpr int PatternIndex(const char* elements)
{
    int index = 0;
    for (int k = 0; k < 6; ++k) {
        for (int m = 0; m < elements[k] - '0'; ++m)
            index = (index << 1) | (k % 2 == 0 ? 1 : 0);
    }
    return index;
}

// The first six elements of seen are those of symbol (length elements) read
// from its end.
constexpr bool IsSeenFromEnd(const char* seen, const char* symbol, int length)
{
    for (int k = 0; k < 6; ++k) {
        if (seen[k] != symbol[length - 1 - k])
            return false;
    }
    return true;
}

constexpr bool StartsWith(const char* text, const char* prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text != *prefix)
            return false;
    }
    return true;
}

// The stop symbol with its final bar.
constexpr char kStopElements[] = "2331112";

using PatternTable = std::array<uint8_t, 2048>;

constexpr PatternTable BuildPatternTable()
{
    PatternTable table{};
    for (uint8_t& entry : table)
        entry = kNoSymbol;
    for (int value = 0; value < kSymbolCount; ++value)
        table[PatternIndex(kSymbolElements[value])] = static_cast<uint8_t>(value);
    return table;
}

constexpr int FilledEntries(const PatternTable& table)
{
    int filled = 0;
    for (uint8_t entry : table)
        filled += entry != kNoSymbol ? 1 : 0;
    return filled;
}

} // namespace

// Symbol value by 11-bit module pattern (bar 1, first module at bit 10);
// 255 where the pattern is no symbol.
static constexpr PatternTable Code128PatternTable = BuildPatternTable();

// Per symbol value: the character or code in set A, set B and set C. The
// codes: 0x80 shift to set A, 0x81 shift to set B, 0x82 CODE A, 0x83 CODE C,
// 0x84 CODE B, 0x85 FNC1, 0x86 FNC2, 0x87 FNC3, 0x88 FNC4, 0x89 to 0x8B START
// A to C, 0x8C STOP, 0x8D STOP seen from its final bar, 0x8E to 0x90 START A
// to C seen from their last element. Only the start codes and the characters
// of sets A and B are read; the rest documents the values.
static constexpr uint8_t Code128Table[112][3] = {
    {0x20, 0x20, 0}, // 0: A space, B space
    {0x21, 0x21, 1}, // 1: A '!', B '!'
    {0x22, 0x22, 2}, // 2: A '"', B '"'
    {0x23, 0x23, 3}, // 3: A '#', B '#'
    {0x24, 0x24, 4}, // 4: A '$', B '$'
    {0x25, 0x25, 5}, // 5: A '%', B '%'
    {0x26, 0x26, 6}, // 6: A '&', B '&'
    {0x27, 0x27, 7}, // 7: A ''', B '''
    {0x28, 0x28, 8}, // 8: A '(', B '('
    {0x29, 0x29, 9}, // 9: A ')', B ')'
    {0x2A, 0x2A, 10}, // 10: A '*', B '*'
    {0x2B, 0x2B, 11}, // 11: A '+', B '+'
    {0x2C, 0x2C, 12}, // 12: A ',', B ','
    {0x2D, 0x2D, 13}, // 13: A '-', B '-'
    {0x2E, 0x2E, 14}, // 14: A '.', B '.'
    {0x2F, 0x2F, 15}, // 15: A '/', B '/'
    {0x30, 0x30, 16}, // 16: A '0', B '0'
    {0x31, 0x31, 17}, // 17: A '1', B '1'
    {0x32, 0x32, 18}, // 18: A '2', B '2'
    {0x33, 0x33, 19}, // 19: A '3', B '3'
    {0x34, 0x34, 20}, // 20: A '4', B '4'
    {0x35, 0x35, 21}, // 21: A '5', B '5'
    {0x36, 0x36, 22}, // 22: A '6', B '6'
    {0x37, 0x37, 23}, // 23: A '7', B '7'
    {0x38, 0x38, 24}, // 24: A '8', B '8'
    {0x39, 0x39, 25}, // 25: A '9', B '9'
    {0x3A, 0x3A, 26}, // 26: A ':', B ':'
    {0x3B, 0x3B, 27}, // 27: A ';', B ';'
    {0x3C, 0x3C, 28}, // 28: A '<', B '<'
    {0x3D, 0x3D, 29}, // 29: A '=', B '='
    {0x3E, 0x3E, 30}, // 30: A '>', B '>'
    {0x3F, 0x3F, 31}, // 31: A '?', B '?'
    {0x40, 0x40, 32}, // 32: A '@', B '@'
    {0x41, 0x41, 33}, // 33: A 'A', B 'A'
    {0x42, 0x42, 34}, // 34: A 'B', B 'B'
    {0x43, 0x43, 35}, // 35: A 'C', B 'C'
    {0x44, 0x44, 36}, // 36: A 'D', B 'D'
    {0x45, 0x45, 37}, // 37: A 'E', B 'E'
    {0x46, 0x46, 38}, // 38: A 'F', B 'F'
    {0x47, 0x47, 39}, // 39: A 'G', B 'G'
    {0x48, 0x48, 40}, // 40: A 'H', B 'H'
    {0x49, 0x49, 41}, // 41: A 'I', B 'I'
    {0x4A, 0x4A, 42}, // 42: A 'J', B 'J'
    {0x4B, 0x4B, 43}, // 43: A 'K', B 'K'
    {0x4C, 0x4C, 44}, // 44: A 'L', B 'L'
    {0x4D, 0x4D, 45}, // 45: A 'M', B 'M'
    {0x4E, 0x4E, 46}, // 46: A 'N', B 'N'
    {0x4F, 0x4F, 47}, // 47: A 'O', B 'O'
    {0x50, 0x50, 48}, // 48: A 'P', B 'P'
    {0x51, 0x51, 49}, // 49: A 'Q', B 'Q'
    {0x52, 0x52, 50}, // 50: A 'R', B 'R'
    {0x53, 0x53, 51}, // 51: A 'S', B 'S'
    {0x54, 0x54, 52}, // 52: A 'T', B 'T'
    {0x55, 0x55, 53}, // 53: A 'U', B 'U'
    {0x56, 0x56, 54}, // 54: A 'V', B 'V'
    {0x57, 0x57, 55}, // 55: A 'W', B 'W'
    {0x58, 0x58, 56}, // 56: A 'X', B 'X'
    {0x59, 0x59, 57}, // 57: A 'Y', B 'Y'
    {0x5A, 0x5A, 58}, // 58: A 'Z', B 'Z'
    {0x5B, 0x5B, 59}, // 59: A '[', B '['
    {0x5C, 0x5C, 60}, // 60: A '\', B '\'
    {0x5D, 0x5D, 61}, // 61: A ']', B ']'
    {0x5E, 0x5E, 62}, // 62: A '^', B '^'
    {0x5F, 0x5F, 63}, // 63: A '_', B '_'
    {0x00, 0x60, 64}, // 64: A NUL, B '`'
    {0x01, 0x61, 65}, // 65: A SOH, B 'a'
    {0x02, 0x62, 66}, // 66: A STX, B 'b'
    {0x03, 0x63, 67}, // 67: A ETX, B 'c'
    {0x04, 0x64, 68}, // 68: A EOT, B 'd'
    {0x05, 0x65, 69}, // 69: A ENQ, B 'e'
    {0x06, 0x66, 70}, // 70: A ACK, B 'f'
    {0x07, 0x67, 71}, // 71: A BEL, B 'g'
    {0x08, 0x68, 72}, // 72: A BS, B 'h'
    {0x09, 0x69, 73}, // 73: A HT, B 'i'
    {0x0A, 0x6A, 74}, // 74: A LF, B 'j'
    {0x0B, 0x6B, 75}, // 75: A VT, B 'k'
    {0x0C, 0x6C, 76}, // 76: A FF, B 'l'
    {0x0D, 0x6D, 77}, // 77: A CR, B 'm'
    {0x0E, 0x6E, 78}, // 78: A SO, B 'n'
    {0x0F, 0x6F, 79}, // 79: A SI, B 'o'
    {0x10, 0x70, 80}, // 80: A DLE, B 'p'
    {0x11, 0x71, 81}, // 81: A DC1, B 'q'
    {0x12, 0x72, 82}, // 82: A DC2, B 'r'
    {0x13, 0x73, 83}, // 83: A DC3, B 's'
    {0x14, 0x74, 84}, // 84: A DC4, B 't'
    {0x15, 0x75, 85}, // 85: A NAK, B 'u'
    {0x16, 0x76, 86}, // 86: A SYN, B 'v'
    {0x17, 0x77, 87}, // 87: A ETB, B 'w'
    {0x18, 0x78, 88}, // 88: A CAN, B 'x'
    {0x19, 0x79, 89}, // 89: A EM, B 'y'
    {0x1A, 0x7A, 90}, // 90: A SUB, B 'z'
    {0x1B, 0x7B, 91}, // 91: A ESC, B '{'
    {0x1C, 0x7C, 92}, // 92: A FS, B '|'
    {0x1D, 0x7D, 93}, // 93: A GS, B '}'
    {0x1E, 0x7E, 94}, // 94: A RS, B '~'
    {0x1F, 0x7F, 95}, // 95: A US, B DEL
    {0x87, 0x87, 96}, // 96: FNC3, FNC3, "96"
    {0x86, 0x86, 97}, // 97: FNC2, FNC2, "97"
    {0x81, 0x80, 98}, // 98: SHIFT to B, SHIFT to A, "98"
    {0x83, 0x83, 99}, // 99: CODE C, CODE C, "99"
    {0x84, 0x88, 0x84}, // 100: CODE B, FNC4, CODE B
    {0x88, 0x82, 0x82}, // 101: FNC4, CODE A, CODE A
    {0x85, 0x85, 0x85}, // 102: FNC1
    {0x89, 0x89, 0x89}, // 103: START A
    {0x8A, 0x8A, 0x8A}, // 104: START B
    {0x8B, 0x8B, 0x8B}, // 105: START C
    {0x8C, 0x8C, 0x8C}, // 106: STOP
    {0x8D, 0x8D, 0x8D}, // 107: STOP seen from its final bar
    {0x8E, 0x8E, 0x8E}, // 108: START A seen from its last element
    {0x8F, 0x8F, 0x8F}, // 109: START B seen from its last element
    {0x90, 0x90, 0x90}, // 110: START C seen from its last element
    {0, 0, 0}, // 111: no symbol
};

namespace {

// Rows 0 to 95: set A is ASCII 32 to 95 and then the control characters 0 to
// 31, set B ASCII 32 to 127, set C the value itself.
constexpr bool CharacterRowsFollowTheCodeSets()
{
    for (int v = 0; v < 96; ++v) {
        const int a = v < 64 ? 32 + v : v - 64;
        if (Code128Table[v][0] != a || Code128Table[v][1] != 32 + v || Code128Table[v][2] != v)
            return false;
    }
    return true;
}

} // namespace

static_assert(kSymbolCount == 111, "107 symbols and 4 far-end patterns");
static_assert(CharacterRowsFollowTheCodeSets(), "character rows of the translation table");
static_assert(sizeof(Code128Table) / sizeof(Code128Table[0]) == kSymbolCount + 1,
              "one translation row per symbol value and one for no symbol");
static_assert(EverySymbolIsElevenModules(), "a Code 128 symbol is six elements of eleven modules");
static_assert(FilledEntries(Code128PatternTable) == kSymbolCount, "two symbols share a pattern");
static_assert(Code128PatternTable[0] == kNoSymbol, "the all-space pattern is no symbol");
static_assert(Code128PatternTable[1720] == kStopFromEnd && Code128PatternTable[1780] == 108
                  && Code128PatternTable[1972] == 109 && Code128PatternTable[1588] == 110,
              "far-end patterns, first module at bit 10");
static_assert(StartsWith(kStopElements, kSymbolElements[kStop]), "the stop symbol without its final bar");
static_assert(IsSeenFromEnd(kSymbolElements[kStopFromEnd], kStopElements, 7), "stop seen from its final bar");
static_assert(IsSeenFromEnd(kSymbolElements[108], kSymbolElements[kStartA], 6)
                  && IsSeenFromEnd(kSymbolElements[109], kSymbolElements[kStartB], 6)
                  && IsSeenFromEnd(kSymbolElements[110], kSymbolElements[kStartC], 6),
              "start symbols seen from their last element");
static_assert(Code128Table[kStartA][0] == 0x89 && Code128Table[kStartB][1] == 0x8A
                  && Code128Table[kStartC][2] == 0x8B,
              "start symbols carry their start codes");

namespace {

constexpr int kSymbolRuns = 6;
constexpr int kStopRuns = 7;         // the stop symbol and its final bar
// Start, one data symbol, check and stop need 25 runs; the search only
// starts where more than 19 remain.
constexpr int kMinLineRuns = 19;
constexpr int kMinValues = 4;        // start, one data symbol, check, stop
constexpr int kCheckModulus = 103;

// The five ways in which six elements of one to four modules make eleven,
// widest first, and the share of the symbol width of 1 to 4 modules.
constexpr int kTemplateModules[5][6] = {
    {2, 2, 2, 2, 2, 1},
    {3, 2, 2, 2, 1, 1},
    {3, 3, 2, 1, 1, 1},
    {4, 2, 2, 1, 1, 1},
    {4, 3, 1, 1, 1, 1},
};
constexpr float kModuleShare[5] = {0.0f, 0.090909f, 0.181818f, 0.272727f, 0.363636f};
// Distance to beat before any template is chosen.
constexpr float kNoTemplateDistance = 300.0f;

constexpr bool EveryTemplateIsElevenModules()
{
    for (const auto& modules : kTemplateModules) {
        int sum = 0;
        for (int k = 0; k < 6; ++k)
            sum += modules[k];
        if (sum != 11)
            return false;
    }
    return true;
}
static_assert(EveryTemplateIsElevenModules(), "templates must fill the 11-bit pattern");

// Proportions that no printed symbol of the chosen template can have; s holds
// the six widths widest first.
bool Implausible(int chosen, const int* s)
{
    switch (chosen) {
    case 0:
        return s[0] - s[4] > s[4] || s[0] > 7 * s[5];
    case 1:
        return s[1] - s[3] > s[4] || s[0] > 8 * s[5] || s[0] - s[1] > s[1] || s[4] > 2 * s[5];
    case 2:
        return s[1] - s[2] > s[2] || s[0] > 8 * s[5] || s[0] - s[1] > s[2] || s[3] > 2 * s[5];
    case 3:
        return s[1] - s[2] > s[3] || s[0] > 8 * s[5] || s[0] - s[1] > 2 * s[2] || s[3] > 2 * s[5];
    default:
        return s[0] > 8 * s[5] || s[0] - s[1] > 2 * s[2] || s[1] > 5 * s[2];
    }
}

bool IsStart(uint8_t value)
{
    return value >= kStartA && value <= kStartC;
}

// Leading quiet zone: the light run before the first symbol read and the dark
// run before that together wider than the symbol. At runs 0 and 2 the line
// itself begins there.
bool LeadingQuietZone(const int16_t* w, int i, int symbolWidth)
{
    return i <= 2 || w[i - 2] + w[i - 1] > symbolWidth;
}

// values: start, data, check, stop. Summed modulo 103 as it goes, so that no
// length of line can overflow it.
bool CheckMatches(const std::vector<uint8_t>& values)
{
    const size_t n = values.size();
    int sum = values[0] % kCheckModulus;
    for (size_t k = 1; k + 2 < n; ++k)
        sum = (sum + static_cast<int>(k % kCheckModulus) * values[k]) % kCheckModulus;
    return sum == values[n - 2];
}

enum CodeSet { SET_A = 0, SET_B = 1, SET_C = 2 };

void AppendPair(std::string& text, int value)
{
    text += static_cast<char>('0' + value / 10);
    text += static_cast<char>('0' + value % 10);
}

// Translates the data values (between start and check) into text. Fails on a
// value that no code set translates: a start or stop symbol or a far-end
// pattern standing inside the data means the line was misread.
bool Translate(const std::vector<uint8_t>& values, std::string& text)
{
    const int first = values[0] - kStartA;
    CodeSet stored = static_cast<CodeSet>(first);
    CodeSet current = stored;
    text.clear();
    for (size_t k = 1; k + 2 < values.size(); ++k) {
        const uint8_t value = values[k];
        if (value > kFnc1)
            return false;
        // Shifts and code changes set the sets themselves; everything else
        // ends a shift.
        switch (value) {
        case kFnc3:
        case kFnc2:
            if (current == SET_C)
                AppendPair(text, value);
            else
                text += value == kFnc3 ? "[FNC3]" : "[FNC2]";
            current = stored;
            break;
        case kShift:
            if (current == SET_C) {
                AppendPair(text, value);
                current = stored;
            } else {
                current = current == SET_A ? SET_B : SET_A;
            }
            break;
        case kCodeC:
            if (current == SET_C) {
                AppendPair(text, value);
                current = stored;
            } else {
                stored = current = SET_C;
            }
            break;
        case kCodeBOrFnc4:
            if (current == SET_B) {
                text += "[FNC4]";
                current = stored;
            } else {
                stored = current = SET_B;
            }
            break;
        case kCodeAOrFnc4:
            if (current == SET_A) {
                text += "[FNC4]";
                current = stored;
            } else {
                stored = current = SET_A;
            }
            break;
        case kFnc1:
            text += "[FNC1]";
            current = stored;
            break;
        default:
            if (current == SET_C) {
                AppendPair(text, value);
            } else {
                // Set A's NUL has no place in the text.
                const uint8_t character = Code128Table[value][current];
                if (character != 0)
                    text += static_cast<char>(character);
            }
            current = stored;
            break;
        }
    }
    return true;
}

} // namespace

void CODE128BarcodeType::Reset()
{
}

uint8_t CODE128BarcodeType::ReadSymbol(const int16_t* runs)
{
    const int width = SumRuns(runs, kSymbolRuns);
    m_symbolWidth = width;
    if (width <= 0)
        return kNoSymbol;

    const int16_t* ranked[kSymbolRuns];
    RankWidths(runs, kSymbolRuns, ranked);
    int s[kSymbolRuns];
    float share[kSymbolRuns];
    for (int k = 0; k < kSymbolRuns; ++k) {
        s[k] = *ranked[k];
        share[k] = static_cast<float>(s[k]) / static_cast<float>(width);
    }

    int chosen = -1;
    float best = kNoTemplateDistance;
    for (int t = 0; t < 5; ++t) {
        float distance = 0.0f;
        for (int k = 0; k < kSymbolRuns; ++k)
            distance += std::fabs(kModuleShare[kTemplateModules[t][k]] - share[k]);
        if (distance < best) {
            best = distance;
            chosen = t;
        }
    }
    // Widths that fit no template, or fit one in proportions no print of it
    // has, are no symbol: guessing one here could agree with a misread
    // neighbour in the check sum.
    if (chosen < 0 || Implausible(chosen, s))
        return kNoSymbol;

    int modules[kSymbolRuns];
    for (int k = 0; k < kSymbolRuns; ++k)
        modules[ranked[k] - runs] = kTemplateModules[chosen][k];

    int pattern = 0;
    for (int e = 0; e < kSymbolRuns; ++e) {
        const int run = m_reversed ? kSymbolRuns - 1 - e : e;
        const int bit = e % 2 == 0 ? 1 : 0; // elements alternate bar, space
        for (int m = 0; m < modules[run]; ++m)
            pattern = (pattern << 1) | bit;
    }
    return Code128PatternTable[pattern];
}

bool CODE128BarcodeType::Decode(const RunLine& line, Result& out)
{
    const int16_t* w = line.widths;
    const int count = line.count;
    if (count - kMinLineRuns <= 0)
        return false;

    std::vector<uint8_t> values; // in reading order; grown once per call
    std::string text;
    for (int i = 0; i < count - kMinLineRuns; i += 2) {
        m_symbolWidth = 0;
        m_reversed = false;
        values.clear();
        bool ended = false;

        uint8_t value = ReadSymbol(w + i);
        int p = i;
        if (IsStart(value)) {
            values.push_back(value);
            if (!LeadingQuietZone(w, i, m_symbolWidth))
                continue;
            p = i + kSymbolRuns;
            for (;;) {
                value = ReadSymbol(w + p);
                values.push_back(value);
                if (value == kNoSymbol)
                    break;
                if (value == kStop) {
                    ended = true;
                    break;
                }
                if (p + 2 * kSymbolRuns > count)
                    break;
                p += kSymbolRuns;
            }
        } else if (value == kStopFromEnd) {
            values.push_back(Code128Table[kStop][0]); // the stop's place
            m_reversed = true;
            if (!LeadingQuietZone(w, i, m_symbolWidth))
                continue;
            p = i + kStopRuns;
            for (;;) {
                value = ReadSymbol(w + p);
                values.push_back(value);
                if (value == kNoSymbol)
                    break;
                if (IsStart(value)) {
                    ended = true;
                    break;
                }
                if (p + 2 * kSymbolRuns > count)
                    break;
                p += kSymbolRuns;
            }
            std::reverse(values.begin(), values.end());
        } else {
            continue;
        }

        // p is the first run of the last symbol read. Forward, the stop's
        // final bar must lie on the line; reversed, one run must follow the
        // start symbol.
        if (count - p < kStopRuns || !ended)
            continue;
        // Trailing quiet zone, compared with the last symbol read. Forward,
        // q is the light run after the final bar; reversed, the light run
        // after the start symbol is skipped and q is the run after it.
        const int q = p + kStopRuns;
        if (count - q >= 2 && w[q] + w[q + 1] <= m_symbolWidth)
            continue;
        if (static_cast<int>(values.size()) < kMinValues || !CheckMatches(values))
            continue;
        // A symbol that spells nothing (code changes only) is no reading.
        if (!Translate(values, text) || text.empty())
            continue;

        out.value = text;
        out.type = TYPE_CODE128;
        return true;
    }
    return false;
}

} // namespace barcode
