// Feeds every decoder arbitrary run lines, twice each so that the two-line
// vote of the EAN/UPC decoders confirms what it reads. Widths stay within
// what the filter can produce: 0 to 32767 tenths of a pixel.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "barcode.h"
#include "decoder_set.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static barcode::DecoderSet decoders;
    if (decoders.m_decoders.empty())
        decoders.SetTypes({barcode::TYPE_EAN13, barcode::TYPE_EAN8, barcode::TYPE_UPCE,
                           barcode::TYPE_CODE39, barcode::TYPE_CODE128});

    // The first byte picks a scale, so that short inputs still make plausible
    // widths of a few pixels per module.
    if (size < 1)
        return 0;
    const int scale = 1 + data[0] % 40;
    ++data;
    --size;

    std::vector<int16_t> widths(size);
    for (size_t i = 0; i < size; ++i) {
        const int w = (data[i] & 0x7f) == 0x7f ? 32767 : (data[i] & 0x7f) * scale;
        widths[i] = static_cast<int16_t>(w > 32767 ? 32767 : w);
    }

    barcode::RunLine line;
    line.count = static_cast<int>(widths.size());
    line.widths = widths.data();

    decoders.Reset();
    for (int pass = 0; pass < 2; ++pass) {
        barcode::Result result;
        const bool found = decoders.Decode(line, result);
        if (found != (result.type != barcode::TYPE_NONE))
            __builtin_trap();
    }
    return 0;
}
