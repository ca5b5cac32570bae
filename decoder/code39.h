// Code 39 decoder.
#pragma once

#include <cstdint>
#include <string>

#include "barcode_type.h"

namespace barcode {

class CODE39BarcodeType : public BarcodeType {
public:
    bool Decode(const RunLine& line, Result& out) override;
    void Reset() override;

    // Classifies nine runs (bar, space, ..., bar in line order) as one
    // character; 0 when they are none. The first call of a read also decides
    // the reading direction.
    char ReadCharacter(const int16_t* runs);

    // Scratch of one start position; Decode resets them at each one.
    int32_t m_narrowWidth = 0; // running narrow-element reference, 0 = not yet set
    int32_t m_charWidth = 0;   // width of the last accepted character, 0 = next is the first
    bool m_reversed = false;   // the read met the stop character first
};

// The characters of s in reverse order.
std::string ReverseString(const std::string& s);

// Orders run widths widest first.
bool GreaterWidth(const int16_t* a, const int16_t* b);

// Fills ranked with pointers to the n runs (at most 9), widest first; equal
// widths keep their line order.
void RankWidths(const int16_t* runs, int n, const int16_t** ranked);

} // namespace barcode
