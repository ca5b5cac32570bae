// A small EAN/UPC encoder for decoder tests: the module widths (1 to 4) of a
// symbol's runs, guards included, from its first bar to its last.
#pragma once

#include <string>
#include <vector>

namespace testing_runs {

// The check digit that completes a string of data digits (weights 3 and 1
// from the right).
int CheckDigit(const std::string& data);

// Runs of one character: code as seven '0'/'1' module characters.
std::vector<int> CodeRuns(const std::string& modules);

// The seven modules of digit d in set 'L', 'G' or 'R'.
std::string DigitModules(char set, int digit);

// 13 digits, the leading one in the left half's parity: 59 runs.
std::vector<int> Ean13Modules(const std::string& digits);
// 12 digits as EAN-13 with leading 0.
std::vector<int> UpcAModules(const std::string& digits);
// 13 digits with an explicit parity for the left half (six of 'L'/'G').
std::vector<int> Ean13ModulesWithParity(const std::string& digits, const std::string& parity);
// 8 digits: 43 runs.
std::vector<int> Ean8Modules(const std::string& digits);
// Number system, six digits and check digit, as reported: 33 runs.
std::vector<int> UpcEModules(const std::string& text);
// The six characters with an explicit parity (six of 'L'/'G').
std::vector<int> UpcEModulesWithParity(const std::string& digits6, const std::string& parity);

// The UPC-E text (8 characters) for a number system and six digits.
std::string UpcEText(int numberSystem, const std::string& digits6);
// Its parity pattern as six of 'L'/'G'.
std::string UpcEParity(int numberSystem, int checkDigit);

} // namespace testing_runs
