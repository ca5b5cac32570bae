// The EAN-13 decoder, which also reads UPC-A.
#pragma once

#include <cstdint>

#include "ean_family.h"

namespace barcode {

// Leading digit of an EAN-13 symbol by the parity of its left half: bit k set
// when left character k (k = 0 next to the start guard) is from the L set.
// EanNoDigit for the 54 masks that are no published pattern.
extern const std::array<uint8_t, 64> Ean13ParityTable;

class EAN13BarcodeType : public EanFamilyBarcodeType {
public:
    EAN13BarcodeType() = default;

    bool Decode(const RunLine& line, Result& out) override;

    // Turns the twelve codes (left half, then right half) into the text and
    // checks the check digit. On success the buffer (14 bytes at least) holds
    // the text and m_type its type; on failure the codes are left as they were.
    bool DecodeDigits(unsigned char* codes);

    int m_type = TYPE_EAN13; // TYPE_UPCA or TYPE_EAN13, set by DecodeDigits
};

} // namespace barcode
