#include "v4l2_device.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "v4l2_formats.h"

namespace {

// The capabilities of the node itself, not of the whole device.
uint32_t NodeCapabilities(const v4l2_capability& capability) {
    return (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? capability.device_caps : capability.capabilities;
}

bool IsCaptureNode(const v4l2_capability& capability) {
    uint32_t caps = NodeCapabilities(capability);
    return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0 && (caps & V4L2_CAP_STREAMING) != 0;
}

std::string CardName(const v4l2_capability& capability) {
    const char* card = reinterpret_cast<const char*>(capability.card);
    return std::string(card, strnlen(card, sizeof(capability.card)));
}

}  // namespace

NodeKind V4l2Device::Probe(VideoKernel& kernel, const std::string& path, std::string* card) {
    int fd = kernel.Open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) return NodeKind::Unreadable;
    v4l2_capability capability;
    std::memset(&capability, 0, sizeof capability);
    NodeKind kind = NodeKind::Unreadable;
    if (kernel.Ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0) {
        kind = IsCaptureNode(capability) ? NodeKind::Capture : NodeKind::Other;
        if (card != nullptr) *card = CardName(capability);
    }
    kernel.Close(fd);
    return kind;
}

std::unique_ptr<V4l2Device> V4l2Device::Open(VideoKernel& kernel, const std::string& path, int* error) {
    int fd = kernel.Open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        *error = errno;
        return nullptr;
    }
    v4l2_capability capability;
    std::memset(&capability, 0, sizeof capability);
    if (kernel.Ioctl(fd, VIDIOC_QUERYCAP, &capability) != 0 || !IsCaptureNode(capability)) {
        *error = errno != 0 ? errno : ENODEV;
        kernel.Close(fd);
        return nullptr;
    }
    return std::unique_ptr<V4l2Device>(new V4l2Device(kernel, fd, path, CardName(capability)));
}

V4l2Device::V4l2Device(VideoKernel& kernel, int fd, std::string path, std::string card)
    : m_kernel(kernel), m_fd(fd), m_path(std::move(path)), m_card(std::move(card)) {}

V4l2Device::~V4l2Device() { m_kernel.Close(m_fd); }

int V4l2Device::Ioctl(unsigned long request, void* argument) { return m_kernel.Ioctl(m_fd, request, argument); }

std::vector<DeviceCapability> V4l2Device::Capabilities() {
    std::vector<DeviceCapability> capabilities;
    for (uint32_t index = 0;; ++index) {
        v4l2_fmtdesc description;
        std::memset(&description, 0, sizeof description);
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (Ioctl(VIDIOC_ENUM_FMT, &description) != 0) break;
        if (IsConvertiblePixelFormat(description.pixelformat)) AddSizes(description.pixelformat, &capabilities);
    }
    return capabilities;
}

void V4l2Device::AddSizes(uint32_t pixelFormat, std::vector<DeviceCapability>* capabilities) {
    for (uint32_t index = 0;; ++index) {
        v4l2_frmsizeenum size;
        std::memset(&size, 0, sizeof size);
        size.index = index;
        size.pixel_format = pixelFormat;
        if (Ioctl(VIDIOC_ENUM_FRAMESIZES, &size) != 0) {
            if (index > 0) return;
            // A driver that cannot list its sizes still has the size it would
            // pick for this format now.
            v4l2_format current;
            if (!CurrentFormat(&current)) return;
            current.fmt.pix.pixelformat = pixelFormat;
            if (Ioctl(VIDIOC_TRY_FMT, &current) != 0 || current.fmt.pix.pixelformat != pixelFormat) return;
            uint32_t width = current.fmt.pix.width;
            uint32_t height = current.fmt.pix.height;
            capabilities->push_back({pixelFormat, width, width, 1, height, height, 1});
            return;
        }
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            const v4l2_frmsize_discrete& one = size.discrete;
            capabilities->push_back({pixelFormat, one.width, one.width, 1, one.height, one.height, 1});
            continue;
        }
        // Stepwise and continuous ranges come as one entry, so only index 0 exists.
        const v4l2_frmsize_stepwise& range = size.stepwise;
        bool continuous = size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS;
        capabilities->push_back({pixelFormat, range.min_width, range.max_width, continuous ? 1 : range.step_width,
                                 range.min_height, range.max_height, continuous ? 1 : range.step_height});
        return;
    }
}

bool V4l2Device::CurrentFormat(v4l2_format* format) {
    std::memset(format, 0, sizeof *format);
    format->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    return Ioctl(VIDIOC_G_FMT, format) == 0;
}

bool V4l2Device::SetExactFormat(uint32_t pixelFormat, uint32_t width, uint32_t height, v4l2_format* applied) {
    auto matches = [&](const v4l2_format& format) {
        return format.fmt.pix.pixelformat == pixelFormat && format.fmt.pix.width == width &&
               format.fmt.pix.height == height;
    };
    v4l2_format wanted;
    if (!CurrentFormat(&wanted)) std::memset(&wanted, 0, sizeof wanted);
    wanted.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    wanted.fmt.pix.pixelformat = pixelFormat;
    wanted.fmt.pix.width = width;
    wanted.fmt.pix.height = height;
    wanted.fmt.pix.field = V4L2_FIELD_ANY;
    wanted.fmt.pix.bytesperline = 0;
    wanted.fmt.pix.sizeimage = 0;

    // Drivers adjust what they cannot do instead of refusing it: ask first.
    v4l2_format trial = wanted;
    if (Ioctl(VIDIOC_TRY_FMT, &trial) == 0) {
        if (!matches(trial)) return false;
    } else if (errno != ENOTTY && errno != EINVAL) {
        return false;
    }
    v4l2_format previous;
    bool hadPrevious = CurrentFormat(&previous);
    v4l2_format set = wanted;
    if (Ioctl(VIDIOC_S_FMT, &set) != 0) return false;
    if (!matches(set)) {
        if (hadPrevious) Ioctl(VIDIOC_S_FMT, &previous);
        return false;
    }
    *applied = set;
    return true;
}

LONGLONG V4l2Device::FrameInterval() {
    v4l2_streamparm parameters;
    std::memset(&parameters, 0, sizeof parameters);
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_G_PARM, &parameters) != 0) return 0;
    const v4l2_fract& interval = parameters.parm.capture.timeperframe;
    if (interval.denominator == 0) return 0;
    return static_cast<LONGLONG>(interval.numerator) * 10000000 / interval.denominator;
}

void V4l2Device::SetFrameInterval(LONGLONG hundredNanoseconds) {
    if (hundredNanoseconds <= 0) return;
    v4l2_streamparm parameters;
    std::memset(&parameters, 0, sizeof parameters);
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_G_PARM, &parameters) != 0) return;
    if ((parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) == 0) return;
    parameters.parm.capture.timeperframe.numerator = static_cast<uint32_t>(hundredNanoseconds);
    parameters.parm.capture.timeperframe.denominator = 10000000;
    Ioctl(VIDIOC_S_PARM, &parameters);  // the driver picks the nearest rate it has
}
