#include "v4l2_formats.h"

#include <libv4lconvert.h>
#include <linux/videodev2.h>

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

bool IsConvertiblePixelFormat(uint32_t pixelFormat) {
    // Asked once per format and process; capture filters ask from the
    // threads that open them.
    static std::mutex lock;
    static std::map<uint32_t, bool> known;
    std::lock_guard<std::mutex> hold(lock);
    auto found = known.find(pixelFormat);
    if (found == known.end()) found = known.emplace(pixelFormat, ConverterReads(pixelFormat)).first;
    return found->second;
}

WORD BitCountOfPixelFormat(uint32_t pixelFormat) {
    for (const FormatEntry& entry : kFormats)
        if (entry.pixelFormat == pixelFormat) return entry.bitCount;
    return 24;
}
