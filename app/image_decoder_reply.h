// What the image decoder program and the reader agree on: its limits and
// the reply it sends. The decoder program is ours, but what it decodes is
// not: the reader checks every field before it believes any.
#pragma once

#include <cstdint>

#include "image_decoding.h"

namespace decoder_reply {

// The picture takes 3 bytes a pixel, the handlers' working memory about one
// more; the margin is for the program and its libraries (some 50 MB) and
// for a decoder's tables.
constexpr uint64_t kBytesPerPixel = 4;
constexpr uint64_t kMargin = uint64_t{256} << 20;
constexpr uint64_t kAddressSpace = kBytesPerPixel * kPixelBudget + kMargin;
// Seconds of processor time: the largest picture within the budget takes
// a few.
constexpr unsigned kCpuSeconds = 10;
// The reader waits no longer for a picture; a busy machine may give the
// decoder less processor time than it may use.
constexpr int kDeadlineSeconds = 20;

enum Outcome : uint32_t {
    kDecoded = 1,     // the picture is in the shared memory
    kNotDecoded = 2,  // no handler reads the file, or the header is refused
    kOutOfMemory = 3, // a decoder ran out of memory within the limit
};

// The reply: this header, then `logBytes` of log records, each a level
// (uint32_t), a length (uint32_t) and that many bytes of UTF-8 text. The
// picture, when decoded, is `width` × `height` × 3 bytes in the shared
// memory, rows top-down, each pixel red, green, blue.
struct Header {
    uint32_t magic;
    uint32_t outcome;
    uint32_t width;
    uint32_t height;
    uint32_t logBytes;
};
constexpr uint32_t kMagic = 0x4d564931; // "MVI1"
// What the toolkit logs about one file fits with room to spare.
constexpr uint32_t kMaxLogBytes = 16384;
constexpr uint32_t kMaxLogRecords = 64;

} // namespace decoder_reply
