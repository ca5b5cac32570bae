// The EAN-8 decoder.
#pragma once

#include "ean_family.h"

namespace barcode {

class EAN8BarcodeType : public EanFamilyBarcodeType {
public:
    EAN8BarcodeType() = default;

    bool Decode(const RunLine& line, Result& out) override;

    // Turns the eight codes (left half, then right half) into the text and
    // checks the check digit. The buffer holds at least 9 bytes; the byte
    // after the codes becomes 0 in any case. On failure the codes are left as
    // they were.
    bool DecodeDigits(unsigned char* codes);
};

} // namespace barcode
