#include "v4l2_formats.h"

#include <linux/videodev2.h>

namespace {

struct FormatEntry {
    uint32_t pixelFormat;
    GUID subtype;
    WORD bitCount;
};

// The formats that libv4lconvert reads, in the subtype each one is offered as.
constexpr FormatEntry kFormats[] = {
    {V4L2_PIX_FMT_BGR24, MEDIASUBTYPE_RGB24, 24},                     // blue, green, red
    {V4L2_PIX_FMT_RGB24, FourccGuid(V4L2_PIX_FMT_RGB24), 24},         // red, green, blue
    {V4L2_PIX_FMT_RGB565, MEDIASUBTYPE_RGB565, 16},                   // 5-6-5 little-endian
    {V4L2_PIX_FMT_YUYV, MEDIASUBTYPE_YUY2, 16},                       // packed 4:2:2, Y U Y V
    {V4L2_PIX_FMT_YVYU, MEDIASUBTYPE_YVYU, 16},                       // packed 4:2:2, Y V Y U
    {V4L2_PIX_FMT_UYVY, MEDIASUBTYPE_UYVY, 16},                       // packed 4:2:2, U Y V Y
    {V4L2_PIX_FMT_YUV420, MEDIASUBTYPE_IYUV, 12},                     // planar 4:2:0, Y U V
    {V4L2_PIX_FMT_YVU420, MEDIASUBTYPE_YV12, 12},                     // planar 4:2:0, Y V U
    {V4L2_PIX_FMT_NV12, FourccGuid(V4L2_PIX_FMT_NV12), 12},           // Y plane, interleaved U V
    {V4L2_PIX_FMT_GREY, FourccGuid(V4L2_PIX_FMT_GREY), 8},            // 8-bit luminance
    {V4L2_PIX_FMT_MJPEG, FourccGuid(V4L2_PIX_FMT_MJPEG), 24},         // motion JPEG
    {V4L2_PIX_FMT_JPEG, FourccGuid(V4L2_PIX_FMT_JPEG), 24},           // JPEG frames
};

// Other names under which a subtype asks for one of the formats above.
struct Alias {
    GUID subtype;
    uint32_t pixelFormat;
};
constexpr Alias kAliases[] = {
    {MEDIASUBTYPE_YUYV, V4L2_PIX_FMT_YUYV},
    {FourccGuid(MakeFourcc('I', '4', '2', '0')), V4L2_PIX_FMT_YUV420},
    {FourccGuid(MakeFourcc('Y', '8', '0', '0')), V4L2_PIX_FMT_GREY},
    {GUID{0x38590000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}}, V4L2_PIX_FMT_GREY},
};

}  // namespace

GUID SubtypeOfPixelFormat(uint32_t pixelFormat) {
    for (const FormatEntry& entry : kFormats)
        if (entry.pixelFormat == pixelFormat) return entry.subtype;
    return FourccGuid(pixelFormat);
}

bool PixelFormatOfSubtype(const GUID& subtype, uint32_t* pixelFormat) {
    for (const FormatEntry& entry : kFormats)
        if (entry.subtype == subtype) {
            *pixelFormat = entry.pixelFormat;
            return true;
        }
    for (const Alias& alias : kAliases)
        if (alias.subtype == subtype) {
            *pixelFormat = alias.pixelFormat;
            return true;
        }
    return false;
}

bool IsConvertiblePixelFormat(uint32_t pixelFormat) {
    for (const FormatEntry& entry : kFormats)
        if (entry.pixelFormat == pixelFormat) return true;
    return false;
}

WORD BitCountOfPixelFormat(uint32_t pixelFormat) {
    for (const FormatEntry& entry : kFormats)
        if (entry.pixelFormat == pixelFormat) return entry.bitCount;
    return 24;
}
