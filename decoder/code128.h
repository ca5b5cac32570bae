// Code 128 decoder.
#pragma once

#include <cstdint>

#include "barcode_type.h"

namespace barcode {

class CODE128BarcodeType : public BarcodeType {
public:
    bool Decode(const RunLine& line, Result& out) override;
    void Reset() override;

    // Classifies six runs (in line order) as one symbol: its value 0 to 110,
    // or 255 for none. Reads the group from its last run to its first while
    // m_reversed is set.
    uint8_t ReadSymbol(const int16_t* runs);

    // Scratch of one start position; Decode resets them at each one.
    int32_t m_symbolWidth = 0; // sum of the six runs of the last symbol read
    bool m_reversed = false;   // the read met the stop symbol first
};

} // namespace barcode
