// Feeds Scanner::Scan arbitrary images: any size, stride, pixel format, scan
// mode and set of enabled types, with arbitrary pixel bytes. The image record
// never claims more pixels than the buffer holds, except in the cases the
// engine must refuse on its own (no pixels with a non-zero size, a stride
// shorter than a row).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "scanner.h"

namespace {

struct Header {
    uint16_t width;
    uint16_t height;
    uint16_t strideExtra;
    uint8_t format;
    uint8_t flags; // bit 0 omni, bit 1 null pixels, bit 2 stride short by one
    uint8_t types;
};

int BytesPerPixel(int format)
{
    return format == barcode::PIXEL_RGB24 ? 3 : format == barcode::PIXEL_XRGB32 ? 4 : 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static barcode::Scanner scanner;
    if (size < sizeof(Header))
        return 0;
    Header h;
    std::memcpy(&h, data, sizeof h);
    data += sizeof h;
    size -= sizeof h;

    const uint32_t width = h.width % 1400;
    const uint32_t height = h.height % 1100;
    const int format = h.format % 4; // 3 reads as grey
    const int32_t stride = static_cast<int32_t>(width + h.strideExtra % 8);
    const bool nullPixels = (h.flags & 2) != 0;
    const bool shortStride = (h.flags & 4) != 0 && width > 0;

    // Keep the frames small enough for the fuzzer to run hundreds of them a
    // second: every row length and every height stays possible, but not both
    // at once. Geometry and sampling do not need more; the decoders get
    // arbitrary lines of their own from run_line_fuzz.
    const size_t pixels = static_cast<size_t>(stride) * height;
    if (pixels > 1u << 16)
        return 0;

    std::vector<uint8_t> buffer(pixels * BytesPerPixel(format));
    for (size_t i = 0; i < buffer.size() && size > 0; ++i)
        buffer[i] = data[i % size];

    barcode::Image image;
    image.data = nullPixels ? nullptr : buffer.data();
    image.width = width;
    image.height = height;
    image.stride = shortStride ? static_cast<int32_t>(width) - 1 : stride;
    image.format = format;

    scanner.SetMode((h.flags & 1) != 0);
    scanner.SetTypes(h.types);
    const barcode::Result result = scanner.Scan(&image);
    if ((nullPixels || shortStride) && result.type != barcode::TYPE_NONE)
        __builtin_trap();
    if (result.type == barcode::TYPE_NONE && !result.value.empty())
        __builtin_trap();
    return 0;
}
