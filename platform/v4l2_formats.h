// The V4L2 pixel formats that our capture filter offers, each with the media
// subtype it answers as. Only formats that libv4lconvert turns into BGR24 are
// offered, so every format the capture code can choose also streams.
#pragma once

#include <cstdint>

#include "dshow.h"

// The media subtype of a V4L2 pixel format; formats without a name of their
// own answer as the four-character-code subtype of the same code.
GUID SubtypeOfPixelFormat(uint32_t pixelFormat);

// The V4L2 pixel format of a media subtype; false when there is none.
bool PixelFormatOfSubtype(const GUID& subtype, uint32_t* pixelFormat);

// Whether libv4lconvert can convert frames of this format to BGR24 (RGB,
// YUV, grey, JPEG, Bayer and the vendor formats of older webcams).
bool IsConvertiblePixelFormat(uint32_t pixelFormat);

// Bits per pixel as a bitmap header states them (24 for compressed formats).
WORD BitCountOfPixelFormat(uint32_t pixelFormat);
