#include "code_runs.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace coderuns {

namespace {

// Code 39 characters, "n" narrow, "w" wide, first element first.
struct Code39Pattern {
    char c;
    const char* elements;
};
const Code39Pattern kCode39[] = {
    {'0', "nnnwwnwnn"}, {'1', "wnnwnnnnw"}, {'2', "nnwwnnnnw"}, {'3', "wnwwnnnnn"},
    {'4', "nnnwwnnnw"}, {'5', "wnnwwnnnn"}, {'6', "nnwwwnnnn"}, {'7', "nnnwnnwnw"},
    {'8', "wnnwnnwnn"}, {'9', "nnwwnnwnn"}, {'A', "wnnnnwnnw"}, {'B', "nnwnnwnnw"},
    {'C', "wnwnnwnnn"}, {'D', "nnnnwwnnw"}, {'E', "wnnnwwnnn"}, {'F', "nnwnwwnnn"},
    {'G', "nnnnnwwnw"}, {'H', "wnnnnwwnn"}, {'I', "nnwnnwwnn"}, {'J', "nnnnwwwnn"},
    {'K', "wnnnnnnww"}, {'L', "nnwnnnnww"}, {'M', "wnwnnnnwn"}, {'N', "nnnnwnnww"},
    {'O', "wnnnwnnwn"}, {'P', "nnwnwnnwn"}, {'Q', "nnnnnnwww"}, {'R', "wnnnnnwwn"},
    {'S', "nnwnnnwwn"}, {'T', "nnnnwnwwn"}, {'U', "wwnnnnnnw"}, {'V', "nwwnnnnnw"},
    {'W', "wwwnnnnnn"}, {'X', "nwnnwnnnw"}, {'Y', "wwnnwnnnn"}, {'Z', "nwwnwnnnn"},
    {'-', "nwnnnnwnw"}, {'.', "wwnnnnwnn"}, {' ', "nwwnnnwnn"}, {'*', "nwnnwnwnn"},
    {'$', "nwnwnwnnn"}, {'/', "nwnwnnnwn"}, {'+', "nwnnnwnwn"}, {'%', "nnnwnwnwn"},
};

// Code 128 element widths by value; 106 is the stop symbol without its final
// bar; 107 to 110 are the stop and START A to C seen from their far end.
const char* const kCode128[] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212", "221213",
    "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221", "223211", "221132",
    "221231", "213212", "223112", "312131", "311222", "321122", "321221", "312212", "322112", "322211",
    "212123", "212321", "232121", "111323", "131123", "131321", "112313", "132113", "132311", "211313",
    "231113", "231311", "112133", "112331", "132131", "113123", "113321", "133121", "313121", "211331",
    "231131", "213113", "213311", "213131", "311123", "311321", "331121", "312113", "312311", "332111",
    "314111", "221411", "431111", "111224", "111422", "121124", "121421", "141122", "141221", "112214",
    "112412", "122114", "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111",
    "111242", "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311", "113141",
    "114131", "311141", "411131", "211412", "211214", "211232", "233111",
    "211133", "214112", "412112", "232112",
};
constexpr int kStop = 106;
constexpr int kFinalBarModules = 2;

enum Set { A, B, C };

bool FitsA(int c) { return c >= 0 && c < 96; }
bool FitsB(int c) { return c >= 32 && c < 128; }
int CodeIn(Set set, int c) { return set == A && c < 32 ? c + 64 : c - 32; }
bool IsDigit(int token) { return token >= '0' && token <= '9'; }

size_t DigitRun(const std::vector<int>& tokens, size_t i)
{
    size_t n = 0;
    while (i + n < tokens.size() && IsDigit(tokens[i + n]))
        ++n;
    return n;
}

} // namespace

Elements Code39Character(char c, double wide)
{
    for (const Code39Pattern& pattern : kCode39) {
        if (pattern.c == c) {
            Elements elements;
            for (int k = 0; k < 9; ++k)
                elements.push_back(pattern.elements[k] == 'w' ? wide : 1.0);
            return elements;
        }
    }
    throw std::invalid_argument("no Code 39 character");
}

Elements Code39Elements(const std::string& data, double wide, double gap)
{
    Elements elements;
    const std::string text = "*" + data + "*";
    for (size_t k = 0; k < text.size(); ++k) {
        if (k > 0)
            elements.push_back(gap);
        const Elements character = Code39Character(text[k], wide);
        elements.insert(elements.end(), character.begin(), character.end());
    }
    return elements;
}

Elements Code128Symbol(int value)
{
    if (value < 0 || value > 110)
        throw std::invalid_argument("no Code 128 value");
    Elements elements;
    for (const char* e = kCode128[value]; *e != '\0'; ++e)
        elements.push_back(*e - '0');
    return elements;
}

int Code128Check(const std::vector<int>& values)
{
    long sum = values.at(0);
    for (size_t k = 1; k < values.size(); ++k)
        sum += static_cast<long>(k) * values[k];
    return static_cast<int>(sum % 103);
}

Elements Code128ElementsWithCheck(const std::vector<int>& values, int check)
{
    Elements elements;
    std::vector<int> all = values;
    all.push_back(check);
    all.push_back(kStop);
    for (int value : all) {
        const Elements symbol = Code128Symbol(value);
        elements.insert(elements.end(), symbol.begin(), symbol.end());
    }
    elements.push_back(kFinalBarModules);
    return elements;
}

Elements Code128Elements(const std::vector<int>& values)
{
    return Code128ElementsWithCheck(values, Code128Check(values));
}

std::vector<int> Code128Encode(const std::vector<int>& tokens)
{
    std::vector<int> values;
    Set set;
    if (DigitRun(tokens, 0) >= 4)
        set = C;
    else if (!tokens.empty() && tokens[0] != kFnc1Token && !FitsB(tokens[0]))
        set = A;
    else
        set = B;
    values.push_back(103 + set);

    size_t i = 0;
    while (i < tokens.size()) {
        const int token = tokens[i];
        if (token == kFnc1Token) {
            values.push_back(102);
            ++i;
            continue;
        }
        if (set == C) {
            if (DigitRun(tokens, i) >= 2) {
                values.push_back((token - '0') * 10 + (tokens[i + 1] - '0'));
                i += 2;
                continue;
            }
            set = FitsB(token) ? B : A;
            values.push_back(set == B ? 100 : 101);
            continue;
        }
        const size_t digits = DigitRun(tokens, i);
        if (digits >= 4 && digits % 2 == 0) {
            values.push_back(99);
            set = C;
            continue;
        }
        const bool fits = set == A ? FitsA(token) : FitsB(token);
        if (fits) {
            values.push_back(CodeIn(set, token));
            ++i;
            continue;
        }
        const Set other = set == A ? B : A;
        const bool nextFits = i + 1 >= tokens.size() || tokens[i + 1] == kFnc1Token
            || (set == A ? FitsA(tokens[i + 1]) : FitsB(tokens[i + 1]));
        if (nextFits) {
            values.push_back(98); // shift for this one character
            values.push_back(CodeIn(other, token));
            ++i;
        } else {
            values.push_back(other == A ? 101 : 100);
            set = other;
        }
    }
    return values;
}

std::string Code128Text(const std::vector<int>& tokens)
{
    std::string text;
    for (int token : tokens) {
        if (token == kFnc1Token)
            text += "[FNC1]";
        else
            text += static_cast<char>(token);
    }
    return text;
}

std::vector<int> Code128RandomTokens(std::mt19937& random)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    std::vector<int> tokens;
    for (int segment = pick(1, 5); segment > 0; --segment) {
        const int kind = pick(0, 5);
        const int length = pick(1, 8);
        for (int k = 0; k < (kind == 4 ? 1 : length); ++k) {
            switch (kind) {
            case 0: tokens.push_back(pick('0', '9')); break;
            case 1: tokens.push_back(pick(32, 95)); break;
            case 2: tokens.push_back(pick(96, 127)); break;
            case 3: tokens.push_back(pick(1, 31)); break;
            case 4: tokens.push_back(kFnc1Token); break;
            default: tokens.push_back(pick(1, 127)); break;
            }
        }
    }
    return tokens;
}

LineBuilder& LineBuilder::Add(bool dark, double tenths)
{
    if (!m_runs.empty() && m_runs.back().dark == dark)
        m_runs.back().width += tenths;
    else
        m_runs.push_back(Run{dark, tenths});
    return *this;
}

LineBuilder& LineBuilder::Dark(double tenths)
{
    return Add(true, tenths);
}

LineBuilder& LineBuilder::Light(double tenths)
{
    return Add(false, tenths);
}

LineBuilder& LineBuilder::Symbol(const Elements& elements, double moduleTenths)
{
    for (size_t k = 0; k < elements.size(); ++k)
        Add(k % 2 == 0, elements[k] * moduleTenths);
    return *this;
}

LineBuilder& LineBuilder::Reverse()
{
    std::reverse(m_runs.begin(), m_runs.end());
    return *this;
}

LineBuilder& LineBuilder::Distort(double growTenths, const std::vector<double>& factors)
{
    for (size_t k = 0; k < m_runs.size(); ++k) {
        Run& run = m_runs[k];
        run.width += run.dark ? growTenths : -growTenths;
        if (!factors.empty())
            run.width *= factors[k % factors.size()];
        run.width = std::max(run.width, 1.0);
    }
    return *this;
}

std::vector<int16_t> LineBuilder::Widths() const
{
    std::vector<int16_t> widths;
    if (!m_runs.empty() && !m_runs.front().dark)
        widths.push_back(0);
    for (const Run& run : m_runs)
        widths.push_back(static_cast<int16_t>(std::lround(run.width)));
    return widths;
}

} // namespace coderuns
