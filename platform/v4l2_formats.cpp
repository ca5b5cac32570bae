#include "v4l2_formats.h"

#include <libv4lconvert.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "v4l2_converter.h"

namespace {

struct FormatEntry {
    uint32_t pixelFormat;
    GUID subtype;
    WORD bitCount;
};

// Formats with a subtype or a bit count of their own; any other format that
// libv4lconvert reads is offered under its four-character code.
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
    {V4L2_PIX_FMT_SBGGR8, FourccGuid(V4L2_PIX_FMT_SBGGR8), 8},        // Bayer, blue green / green red
    {V4L2_PIX_FMT_SGBRG8, FourccGuid(V4L2_PIX_FMT_SGBRG8), 8},        // Bayer, green blue / red green
    {V4L2_PIX_FMT_SGRBG8, FourccGuid(V4L2_PIX_FMT_SGRBG8), 8},        // Bayer, green red / blue green
    {V4L2_PIX_FMT_SRGGB8, FourccGuid(V4L2_PIX_FMT_SRGGB8), 8},        // Bayer, red green / green blue
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

// How the rows of an uncompressed format lie: the bytes that n pixels of
// its first plane take, and the planes that follow it.
enum class Planes {
    One,              // packed pixels
    ChromaQuarters,   // then U and V (or V and U), each half as wide and high
    ChromaHalfHigh,   // then U and V interleaved, as wide and half as high
    ChromaFullHigh,   // then U and V interleaved, as wide and as high
};

struct RowLayout {
    uint32_t pixelFormat;
    uint32_t bytesPer;   // bytes that pixelsPer pixels take
    uint32_t pixelsPer;
    Planes planes;
};

constexpr RowLayout kRowLayouts[] = {
    {V4L2_PIX_FMT_BGR24, 3, 1, Planes::One},
    {V4L2_PIX_FMT_RGB24, 3, 1, Planes::One},
    {V4L2_PIX_FMT_HSV24, 3, 1, Planes::One},
    {V4L2_PIX_FMT_RGB32, 4, 1, Planes::One},
    {V4L2_PIX_FMT_BGR32, 4, 1, Planes::One},
    {V4L2_PIX_FMT_ABGR32, 4, 1, Planes::One},
    {V4L2_PIX_FMT_XBGR32, 4, 1, Planes::One},
    {V4L2_PIX_FMT_ARGB32, 4, 1, Planes::One},
    {V4L2_PIX_FMT_XRGB32, 4, 1, Planes::One},
    {V4L2_PIX_FMT_HSV32, 4, 1, Planes::One},
    {V4L2_PIX_FMT_RGB565, 2, 1, Planes::One},
    {V4L2_PIX_FMT_YUYV, 2, 1, Planes::One},
    {V4L2_PIX_FMT_YVYU, 2, 1, Planes::One},
    {V4L2_PIX_FMT_UYVY, 2, 1, Planes::One},
    {V4L2_PIX_FMT_GREY, 1, 1, Planes::One},
    {V4L2_PIX_FMT_Y4, 1, 1, Planes::One},  // a byte each, the level in its high bits
    {V4L2_PIX_FMT_Y6, 1, 1, Planes::One},
    {V4L2_PIX_FMT_Y16, 2, 1, Planes::One},
    {V4L2_PIX_FMT_Y16_BE, 2, 1, Planes::One},
    {V4L2_PIX_FMT_SBGGR8, 1, 1, Planes::One},
    {V4L2_PIX_FMT_SGBRG8, 1, 1, Planes::One},
    {V4L2_PIX_FMT_SGRBG8, 1, 1, Planes::One},
    {V4L2_PIX_FMT_SRGGB8, 1, 1, Planes::One},
    {V4L2_PIX_FMT_SBGGR10, 2, 1, Planes::One},  // 10 bits in 16
    {V4L2_PIX_FMT_SGBRG10, 2, 1, Planes::One},
    {V4L2_PIX_FMT_SGRBG10, 2, 1, Planes::One},
    {V4L2_PIX_FMT_SRGGB10, 2, 1, Planes::One},
    {V4L2_PIX_FMT_SBGGR10P, 5, 4, Planes::One},  // four pixels in five bytes
    {V4L2_PIX_FMT_SGBRG10P, 5, 4, Planes::One},
    {V4L2_PIX_FMT_SGRBG10P, 5, 4, Planes::One},
    {V4L2_PIX_FMT_SRGGB10P, 5, 4, Planes::One},
    {V4L2_PIX_FMT_SBGGR16, 2, 1, Planes::One},
    {V4L2_PIX_FMT_SGBRG16, 2, 1, Planes::One},
    {V4L2_PIX_FMT_SGRBG16, 2, 1, Planes::One},
    {V4L2_PIX_FMT_SRGGB16, 2, 1, Planes::One},
    {V4L2_PIX_FMT_YUV420, 1, 1, Planes::ChromaQuarters},
    {V4L2_PIX_FMT_YVU420, 1, 1, Planes::ChromaQuarters},
    {V4L2_PIX_FMT_NV12, 1, 1, Planes::ChromaHalfHigh},
    {V4L2_PIX_FMT_NV16, 1, 1, Planes::ChromaFullHigh},
    {V4L2_PIX_FMT_NV61, 1, 1, Planes::ChromaFullHigh},
};

// Formats whose frames are compressed images of their own length.
constexpr uint32_t kCompressedFormats[] = {
    V4L2_PIX_FMT_MJPEG,   V4L2_PIX_FMT_JPEG,    V4L2_PIX_FMT_PJPG,    V4L2_PIX_FMT_JPGL,
    V4L2_PIX_FMT_CPIA1,   V4L2_PIX_FMT_OV511,   V4L2_PIX_FMT_OV518,   V4L2_PIX_FMT_SPCA561,
    V4L2_PIX_FMT_SN9C10X, V4L2_PIX_FMT_SN9C2028, V4L2_PIX_FMT_PAC207, V4L2_PIX_FMT_MR97310A,
    V4L2_PIX_FMT_JL2005BCD, V4L2_PIX_FMT_SQ905C, V4L2_PIX_FMT_SE401,
};

const RowLayout* RowLayoutOf(uint32_t pixelFormat) {
    for (const RowLayout& layout : kRowLayouts)
        if (layout.pixelFormat == pixelFormat) return &layout;
    return nullptr;
}

// A device of one format and nothing else, in memory, for libv4lconvert to
// look at: it converts a format exactly when it offers BGR24 from it.
int ProbeIoctl(void* format, int, unsigned long request, void* argument) {
    const uint32_t pixelFormat = *static_cast<const uint32_t*>(format);
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* capability = static_cast<v4l2_capability*>(argument);
            std::memset(capability, 0, sizeof *capability);
            std::strcpy(reinterpret_cast<char*>(capability->driver), "morvelix");
            std::strcpy(reinterpret_cast<char*>(capability->card), "format probe");
            capability->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            capability->capabilities = capability->device_caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* description = static_cast<v4l2_fmtdesc*>(argument);
            if (description->index != 0 || description->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) break;
            description->pixelformat = pixelFormat;
            description->flags = 0;
            return 0;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_TRY_FMT:
        case VIDIOC_S_FMT: {
            auto* asked = static_cast<v4l2_format*>(argument);
            if (asked->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) break;
            v4l2_pix_format& pix = asked->fmt.pix;
            pix.pixelformat = pixelFormat;
            if (pix.width == 0 || pix.height == 0) {
                pix.width = 640;
                pix.height = 480;
            }
            pix.field = V4L2_FIELD_NONE;
            return 0;
        }
        default: break;
    }
    errno = EINVAL;
    return -1;
}

const libv4l_dev_ops kProbeOps = IoctlOnlyDevOps(ProbeIoctl);

bool ConverterReads(uint32_t pixelFormat) {
    v4lconvert_data* converter = v4lconvert_create_with_dev_ops(-1, &pixelFormat, &kProbeOps);
    if (converter == nullptr) return false;
    v4l2_format wanted;
    v4l2_format source;
    std::memset(&wanted, 0, sizeof wanted);
    std::memset(&source, 0, sizeof source);
    wanted.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    wanted.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    wanted.fmt.pix.width = 640;
    wanted.fmt.pix.height = 480;
    wanted.fmt.pix.field = V4L2_FIELD_ANY;
    // Without a way to BGR24 it answers with the device's own format instead.
    bool reads = v4lconvert_try_format(converter, &wanted, &source) == 0 &&
                 wanted.fmt.pix.pixelformat == V4L2_PIX_FMT_BGR24 && source.fmt.pix.pixelformat == pixelFormat;
    v4lconvert_destroy(converter);
    return reads;
}

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
    if (FourccGuid(subtype.Data1) == subtype) {
        *pixelFormat = subtype.Data1;
        return true;
    }
    return false;
}

bool IsCompressedPixelFormat(uint32_t pixelFormat) {
    for (uint32_t compressed : kCompressedFormats)
        if (compressed == pixelFormat) return true;
    return false;
}

bool IsJpegPixelFormat(uint32_t pixelFormat) {
    return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
}

size_t FrameLayout::NeededBytes() const {
    size_t needed = 0;
    for (size_t i = 0; i < planeCount; ++i) {
        const FramePlane& plane = planes[i];
        if (plane.rows > 0) needed = std::max(needed, plane.offset + (plane.rows - 1) * plane.stride + plane.lineBytes);
    }
    return needed;
}

size_t FrameLayout::PackedBytes() const {
    size_t bytes = 0;
    for (size_t i = 0; i < planeCount; ++i) bytes += planes[i].rows * planes[i].lineBytes;
    return bytes;
}

bool FrameLayout::Padded() const {
    for (size_t i = 0; i < planeCount; ++i)
        if (planes[i].stride != planes[i].lineBytes) return true;
    return false;
}

void FrameLayout::Pack(const uint8_t* frame, uint8_t* packed) const {
    for (size_t i = 0; i < planeCount; ++i) {
        const FramePlane& plane = planes[i];
        for (size_t row = 0; row < plane.rows; ++row, packed += plane.lineBytes)
            std::memcpy(packed, frame + plane.offset + row * plane.stride, plane.lineBytes);
    }
}

bool LayoutOfFrame(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t bytesPerLine,
                   FrameLayout* layout) {
    const RowLayout* rows = RowLayoutOf(pixelFormat);
    if (rows == nullptr) return false;
    const size_t line = (static_cast<size_t>(width) * rows->bytesPer + rows->pixelsPer - 1) / rows->pixelsPer;
    const size_t stride = std::max<size_t>(bytesPerLine, line);
    *layout = FrameLayout();
    layout->planes[0] = {0, stride, line, height};
    layout->planeCount = 1;
    const size_t chromaStart = stride * height;
    switch (rows->planes) {
        case Planes::One: break;
        case Planes::ChromaQuarters:
            layout->planes[1] = {chromaStart, stride / 2, line / 2, height / 2};
            layout->planes[2] = {chromaStart + stride / 2 * (height / 2), stride / 2, line / 2, height / 2};
            layout->planeCount = 3;
            break;
        case Planes::ChromaHalfHigh:
            layout->planes[1] = {chromaStart, stride, line, height / 2};
            layout->planeCount = 2;
            break;
        case Planes::ChromaFullHigh:
            layout->planes[1] = {chromaStart, stride, line, height};
            layout->planeCount = 2;
            break;
    }
    return true;
}

bool IsConvertiblePixelFormat(uint32_t pixelFormat) {
    // Asked once per format and process; capture filters ask from the
    // threads that open them.
    static std::mutex lock;
    static std::map<uint32_t, bool> known;
    std::lock_guard<std::mutex> hold(lock);
    auto found = known.find(pixelFormat);
    if (found == known.end()) {
        // Rows of a layout we do not know might be padded, and would come out sheared.
        const bool readable = (IsCompressedPixelFormat(pixelFormat) || RowLayoutOf(pixelFormat) != nullptr) &&
                              ConverterReads(pixelFormat);
        found = known.emplace(pixelFormat, readable).first;
    }
    return found->second;
}

WORD BitCountOfPixelFormat(uint32_t pixelFormat) {
    for (const FormatEntry& entry : kFormats)
        if (entry.pixelFormat == pixelFormat) return entry.bitCount;
    return 24;
}
