// The abstract decoder of one symbology and its factory.
#pragma once

#include "barcode.h"
#include "run_line.h"

namespace barcode {

class BarcodeType {
public:
    BarcodeType() = default;
    BarcodeType(const BarcodeType&) = delete;
    BarcodeType& operator=(const BarcodeType&) = delete;

    // Looks for one symbol on the line. Writes out only when it accepts a
    // value, and then returns true.
    virtual bool Decode(const RunLine& line, Result& out) = 0;
    virtual ~BarcodeType() = default;
    // Forgets whatever the decoder gathered during the last scan.
    virtual void Reset() = 0;

    // Outcome of the last Decode of the EAN/UPC decoders; the others leave it true.
    bool m_found = true;
};

// A new decoder for one type bit (1, 2, 4, 8 or 16), owned by the caller;
// null for any other value.
BarcodeType* CreateBarcodeType(int type);

} // namespace barcode
