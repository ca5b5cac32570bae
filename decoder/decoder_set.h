// The ordered set of enabled decoders.
#pragma once

#include <vector>

#include "barcode_type.h"

namespace barcode {

class DecoderSet {
public:
    DecoderSet() = default;
    ~DecoderSet();
    DecoderSet(const DecoderSet&) = delete;
    DecoderSet& operator=(const DecoderSet&) = delete;

    // Replaces every decoder by new ones for the given types, in order.
    void SetTypes(std::vector<int> types);
    // The OR of the types, 0 when there are none.
    int GetTypes() const;
    void Clear();
    // Runs every decoder on the line, in creation order, without stopping
    // early; true when at least one accepted a value. When several accept,
    // out holds what the last of them wrote.
    bool Decode(const RunLine& line, Result& out);
    void Reset();

    std::vector<BarcodeType*> m_decoders; // owned
    std::vector<int> m_types;             // type bit of each decoder
};

} // namespace barcode
