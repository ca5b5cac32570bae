// The UPC-E decoder.
#pragma once

#include <array>
#include <cstdint>

#include "ean_family.h"

namespace barcode {

// Check digit by the parity of the six characters, one table per number
// system (0, then 1): bit 5 - k set when character k is from the L set.
// EanNoDigit for the 54 masks of each table that are no published pattern.
extern const std::array<std::array<uint8_t, 64>, 2> UpcEParityTables;

class UPCEBarcodeType : public EanFamilyBarcodeType {
public:
    UPCEBarcodeType() = default;

    bool Decode(const RunLine& line, Result& out) override;

    // Turns the six codes into the text: number system, six digits, check
    // digit. The buffer holds at least 9 bytes; its ninth becomes 0 in any
    // case. On failure the codes are left as they were.
    bool DecodeDigits(unsigned char* codes);

private:
    // The walk for a symbol met start guard first, and the one for a symbol
    // met end guard first. Each leaves the text in buffer on success.
    bool ReadForward(const RunLine& line, unsigned char* buffer);
    bool ReadBackward(const RunLine& line, unsigned char* buffer);
};

} // namespace barcode
