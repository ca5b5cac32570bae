// Types that the decoding engine shares with its callers: the image handed to
// a scan, the result of a scan and the engine's plain integer constants.
#pragma once

#include <cstdint>
#include <string>

namespace barcode {

// Symbology type bits. They are the bits of the enabled-types mask and the
// result types at once; TYPE_UPCA only ever occurs as a result (the EAN-13
// decoder reports a symbol with leading digit 0 as UPC-A).
constexpr int TYPE_EAN8 = 1;
constexpr int TYPE_EAN13 = 2;
constexpr int TYPE_UPCE = 4;
constexpr int TYPE_CODE39 = 8;
constexpr int TYPE_CODE128 = 16;
constexpr int TYPE_UPCA = 64;

// Nothing found. It shares its bits with EAN-8 | Code 128, so results are
// compared with it by equality and it is never used as a mask.
constexpr int TYPE_NONE = 17;

// Scan modes as the application stores them.
constexpr int MODE_BIDIRECTIONAL = 0;   // horizontal lines only
constexpr int MODE_OMNIDIRECTIONAL = 1; // six directions

// Pixel formats. Every value other than 1 and 2 is read as one grey byte.
constexpr int PIXEL_GREY8 = 0;
constexpr int PIXEL_RGB24 = 1;  // red, green, blue
constexpr int PIXEL_XRGB32 = 2; // ignored byte, red, green, blue

// The image given to a scan. Pixel (x, y) begins at
// data + bytesPerPixel * (y * stride + x). The engine only reads it.
struct Image {
    const uint8_t* data; // first byte of the top-left pixel
    uint32_t width;      // pixels per row
    uint32_t height;     // rows
    int32_t stride;      // row length in pixels, not bytes
    int32_t format;      // one of PIXEL_*
};

// The result of a scan: an 8-bit text and the type that produced it.
struct Result {
    std::string value;
    int type = TYPE_NONE;
};

} // namespace barcode
