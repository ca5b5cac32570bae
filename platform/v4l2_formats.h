// The V4L2 pixel formats that our capture filter offers, each with the media
// subtype it answers as, and how a frame of each lies in a driver's buffer.
// Only formats that libv4lconvert turns into BGR24, and whose frames we can
// hand it with their rows packed, are offered, so every format the capture
// code can choose also streams.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dshow.h"

// The media subtype of a V4L2 pixel format; formats without a name of their
// own answer as the four-character-code subtype of the same code.
GUID SubtypeOfPixelFormat(uint32_t pixelFormat);

// The V4L2 pixel format of a media subtype; false when there is none.
bool PixelFormatOfSubtype(const GUID& subtype, uint32_t* pixelFormat);

// Whether frames of this format can be converted to BGR24: libv4lconvert
// reads it (RGB, YUV, grey, JPEG, Bayer and the compressed formats of older
// webcams), and its frames are either compressed or rows of pixels whose
// padding we know how to take out.
bool IsConvertiblePixelFormat(uint32_t pixelFormat);

// Whether each frame of this format is a compressed image of its own length,
// in which rows and bytesperline mean nothing.
bool IsCompressedPixelFormat(uint32_t pixelFormat);

// Whether each frame of this format is a JPEG image, which ends with its end
// marker (FF D9).
bool IsJpegPixelFormat(uint32_t pixelFormat);

// One plane of an uncompressed frame in a driver's buffer.
struct FramePlane {
    size_t offset;     // where its first row starts
    size_t stride;     // from the start of one row to the next
    size_t lineBytes;  // what the pixels of one row take
    size_t rows;
};

// Where the rows of an uncompressed frame lie. libv4lconvert reads the rows
// of most formats as if they were packed, so padded ones are packed first.
struct FrameLayout {
    FramePlane planes[3];
    size_t planeCount = 0;

    // Bytes a frame must hold: up to the last pixel of its last row.
    size_t NeededBytes() const;
    // Bytes of the frame with its rows packed.
    size_t PackedBytes() const;
    bool Padded() const;
    // Copies the pixels of every row of a frame, without the padding.
    void Pack(const uint8_t* frame, uint8_t* packed) const;
};

// The layout of a frame of an uncompressed format whose first plane's rows
// lie bytesPerLine apart, as the driver states it (a value below what the
// pixels take, such as 0, is read as packed); the rows of further planes lie
// as far apart as their pixels need in proportion. False for a compressed
// format and for one whose layout we do not know.
bool LayoutOfFrame(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t bytesPerLine,
                   FrameLayout* layout);

// Bits per pixel as a bitmap header states them (24 for compressed formats).
WORD BitCountOfPixelFormat(uint32_t pixelFormat);
