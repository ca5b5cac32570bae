#include "ean_encoder.h"

#include <stdexcept>

namespace testing_runs {

namespace {

// The published L set (odd parity); R is its complement, G the mirror of R.
const char* const LPatterns[10] = {
    "0001101", "0011001", "0010011", "0111101", "0100011",
    "0110001", "0101111", "0111011", "0110111", "0001011",
};

// Left-half parity of EAN-13 by leading digit.
const char* const Ean13Parity[10] = {
    "LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
    "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL",
};

// UPC-E parity for number system 0 by check digit; number system 1 is the
// complement.
const char* const UpcEParity0[10] = {
    "GGGLLL", "GGLGLL", "GGLLGL", "GGLLLG", "GLGGLL",
    "GLLGGL", "GLLLGG", "GLGLGL", "GLGLLG", "GLLGLG",
};

int Digit(char c)
{
    if (c < '0' || c > '9')
        throw std::invalid_argument("not a digit");
    return c - '0';
}

void Append(std::vector<int>& runs, const std::vector<int>& more)
{
    runs.insert(runs.end(), more.begin(), more.end());
}

// UPC-A data digits (11) of a UPC-E symbol.
std::string Expand(int numberSystem, const std::string& d)
{
    const std::string n(1, static_cast<char>('0' + numberSystem));
    switch (d[5]) {
    case '0':
    case '1':
    case '2':
        return n + d.substr(0, 2) + d[5] + "0000" + d.substr(2, 3);
    case '3':
        return n + d.substr(0, 3) + "00000" + d.substr(3, 2);
    case '4':
        return n + d.substr(0, 4) + "00000" + d[4];
    default:
        return n + d.substr(0, 5) + "0000" + d[5];
    }
}

} // namespace

int CheckDigit(const std::string& data)
{
    int sum = 0;
    int weight = 3;
    for (auto it = data.rbegin(); it != data.rend(); ++it) {
        sum += weight * Digit(*it);
        weight = 4 - weight;
    }
    return (10 - sum % 10) % 10;
}

std::vector<int> CodeRuns(const std::string& modules)
{
    std::vector<int> runs;
    for (std::size_t k = 0; k < modules.size(); ++k) {
        if (k > 0 && modules[k] == modules[k - 1])
            ++runs.back();
        else
            runs.push_back(1);
    }
    return runs;
}

std::string DigitModules(char set, int digit)
{
    std::string l = LPatterns[digit];
    if (set == 'L')
        return l;
    std::string r = l;
    for (char& c : r)
        c = (c == '0') ? '1' : '0';
    if (set == 'R')
        return r;
    return std::string(r.rbegin(), r.rend());
}

std::vector<int> Ean13ModulesWithParity(const std::string& digits, const std::string& parity)
{
    if (digits.size() != 13 || parity.size() != 6)
        throw std::invalid_argument("EAN-13 needs 13 digits");
    std::vector<int> runs = {1, 1, 1};
    for (int k = 0; k < 6; ++k)
        Append(runs, CodeRuns(DigitModules(parity[k], Digit(digits[1 + k]))));
    Append(runs, {1, 1, 1, 1, 1});
    for (int k = 0; k < 6; ++k)
        Append(runs, CodeRuns(DigitModules('R', Digit(digits[7 + k]))));
    Append(runs, {1, 1, 1});
    return runs;
}

std::vector<int> Ean13Modules(const std::string& digits)
{
    return Ean13ModulesWithParity(digits, Ean13Parity[Digit(digits.at(0))]);
}

std::vector<int> UpcAModules(const std::string& digits)
{
    return Ean13Modules("0" + digits);
}

std::vector<int> Ean8Modules(const std::string& digits)
{
    if (digits.size() != 8)
        throw std::invalid_argument("EAN-8 needs 8 digits");
    std::vector<int> runs = {1, 1, 1};
    for (int k = 0; k < 4; ++k)
        Append(runs, CodeRuns(DigitModules('L', Digit(digits[k]))));
    Append(runs, {1, 1, 1, 1, 1});
    for (int k = 0; k < 4; ++k)
        Append(runs, CodeRuns(DigitModules('R', Digit(digits[4 + k]))));
    Append(runs, {1, 1, 1});
    return runs;
}

std::string UpcEText(int numberSystem, const std::string& digits6)
{
    const std::string expanded = Expand(numberSystem, digits6);
    return std::string(1, static_cast<char>('0' + numberSystem)) + digits6 +
           static_cast<char>('0' + CheckDigit(expanded));
}

std::string UpcEParity(int numberSystem, int checkDigit)
{
    std::string parity = UpcEParity0[checkDigit];
    if (numberSystem == 1) {
        for (char& c : parity)
            c = (c == 'L') ? 'G' : 'L';
    }
    return parity;
}

std::vector<int> UpcEModulesWithParity(const std::string& digits6, const std::string& parity)
{
    std::vector<int> runs = {1, 1, 1};
    for (int k = 0; k < 6; ++k)
        Append(runs, CodeRuns(DigitModules(parity[k], Digit(digits6[k]))));
    Append(runs, {1, 1, 1, 1, 1, 1});
    return runs;
}

std::vector<int> UpcEModules(const std::string& text)
{
    if (text.size() != 8)
        throw std::invalid_argument("UPC-E text is 8 characters");
    return UpcEModulesWithParity(text.substr(1, 6), UpcEParity(Digit(text[0]), Digit(text[7])));
}

} // namespace testing_runs
