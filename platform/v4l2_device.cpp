#include "v4l2_device.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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

bool IsWholeFrameField(uint32_t field) {
    switch (field) {
        // Drivers should never answer "any"; those that do send whole frames.
        case V4L2_FIELD_ANY:
        case V4L2_FIELD_NONE:
        case V4L2_FIELD_INTERLACED:
        case V4L2_FIELD_INTERLACED_TB:
        case V4L2_FIELD_INTERLACED_BT: return true;
        default: return false;
    }
}

bool ListBudget::Keep(unsigned long request) {
    struct List {
        unsigned long request;
        uint32_t most;
        const char* entries;
    };
    static constexpr List kLists[] = {
        {VIDIOC_ENUM_FMT, kMostListedFormats, "formats"},
        {VIDIOC_ENUM_FRAMESIZES, kMostListedSizes, "frame sizes"},
        {VIDIOC_ENUM_FRAMEINTERVALS, kMostListedIntervals, "frame intervals"},
    };
    for (size_t list = 0; list < 3; ++list) {
        if (kLists[list].request != request) continue;
        if (m_kept[list] < kLists[list].most) {
            ++m_kept[list];
            return true;
        }
        if ((*m_said & (1u << list)) == 0) {
            *m_said |= 1u << list;
            std::fprintf(stderr, "%s: the driver lists more than %u %s; the rest are left out\n", m_path.c_str(),
                         kLists[list].most, kLists[list].entries);
        }
        return false;
    }
    return true;
}

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
    const bool asked = kernel.Ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0;
    if (!asked || !IsCaptureNode(capability)) {
        *error = asked || errno == 0 ? ENODEV : errno;
        kernel.Close(fd);
        return nullptr;
    }
    return std::unique_ptr<V4l2Device>(new V4l2Device(kernel, fd, path, CardName(capability)));
}

V4l2Device::V4l2Device(VideoKernel& kernel, int fd, std::string path, std::string card)
    : m_kernel(kernel), m_fd(fd), m_path(std::move(path)), m_card(std::move(card)) {}

V4l2Device::~V4l2Device() { m_kernel.Close(m_fd); }

int V4l2Device::Ioctl(unsigned long request, void* argument) { return m_kernel.Ioctl(m_fd, request, argument); }

int V4l2Device::SetUpIoctl(unsigned long request, void* argument) {
    const int result = Ioctl(request, argument);
    if (result != 0 && errno == EBUSY && !m_saidBusy) {
        m_saidBusy = true;
        std::fprintf(stderr, "%s: the camera is in use by another program\n", m_path.c_str());
        errno = EBUSY;
    }
    return result;
}

const std::vector<DeviceCapability>& V4l2Device::Capabilities() {
    if (!m_capabilitiesRead) ReadCapabilities();
    return m_capabilities;
}

void V4l2Device::ReadCapabilities() {
    m_capabilitiesRead = true;
    ListBudget budget = NewListBudget();
    for (uint32_t index = 0;; ++index) {
        v4l2_fmtdesc description;
        std::memset(&description, 0, sizeof description);
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (Ioctl(VIDIOC_ENUM_FMT, &description) != 0 || !budget.Keep(VIDIOC_ENUM_FMT)) break;
        const uint32_t pixelFormat = description.pixelformat;
        // A format listed twice adds nothing.
        if (std::find(m_formats.begin(), m_formats.end(), pixelFormat) != m_formats.end()) continue;
        if (!IsConvertiblePixelFormat(pixelFormat)) continue;
        m_formats.push_back(pixelFormat);
        if (AddSizes(pixelFormat, budget)) m_formatsWithSizes.push_back(pixelFormat);
    }
}

bool V4l2Device::AddSizes(uint32_t pixelFormat, ListBudget& budget) {
    for (uint32_t index = 0;; ++index) {
        v4l2_frmsizeenum size;
        std::memset(&size, 0, sizeof size);
        size.index = index;
        size.pixel_format = pixelFormat;
        if (Ioctl(VIDIOC_ENUM_FRAMESIZES, &size) != 0) {
            if (index > 0) return true;
            // A driver that cannot list its sizes still has the size it would
            // pick for this format now.
            v4l2_format current;
            if (!CurrentFormat(&current)) return false;
            current.fmt.pix.pixelformat = pixelFormat;
            if (Ioctl(VIDIOC_TRY_FMT, &current) != 0 || current.fmt.pix.pixelformat != pixelFormat) return false;
            uint32_t width = current.fmt.pix.width;
            uint32_t height = current.fmt.pix.height;
            m_capabilities.push_back({pixelFormat, width, width, 1, height, height, 1});
            return false;
        }
        // A list cut before this format's first size leaves its sizes unknown.
        if (!budget.Keep(VIDIOC_ENUM_FRAMESIZES)) return index > 0;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            const v4l2_frmsize_discrete& one = size.discrete;
            m_capabilities.push_back({pixelFormat, one.width, one.width, 1, one.height, one.height, 1});
            continue;
        }
        // Stepwise and continuous ranges come as one entry, so only index 0 exists.
        const v4l2_frmsize_stepwise& range = size.stepwise;
        bool continuous = size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS;
        m_capabilities.push_back({pixelFormat, range.min_width, range.max_width, continuous ? 1 : range.step_width,
                                  range.min_height, range.max_height, continuous ? 1 : range.step_height});
        return true;
    }
}

Offer V4l2Device::Offers(uint32_t pixelFormat, uint32_t width, uint32_t height) {
    Capabilities();
    auto has = [](const std::vector<uint32_t>& formats, uint32_t format) {
        return std::find(formats.begin(), formats.end(), format) != formats.end();
    };
    // A driver that lists no format at all may still take some.
    if (m_formats.empty()) return Offer::Unknown;
    if (!has(m_formats, pixelFormat)) return Offer::Unlisted;
    if (!has(m_formatsWithSizes, pixelFormat)) return Offer::Unknown;
    auto within = [](uint32_t value, uint32_t minimum, uint32_t maximum, uint32_t step) {
        return value >= minimum && value <= maximum && step > 0 && (value - minimum) % step == 0;
    };
    for (const DeviceCapability& capability : m_capabilities)
        if (capability.pixelFormat == pixelFormat &&
            within(width, capability.minWidth, capability.maxWidth, capability.stepWidth) &&
            within(height, capability.minHeight, capability.maxHeight, capability.stepHeight))
            return Offer::Listed;
    return Offer::Unlisted;
}

bool V4l2Device::CurrentFormat(v4l2_format* format) {
    if (!m_formatKnown) return ReadFormat(format);
    *format = m_format;
    return true;
}

bool V4l2Device::ReadFormat(v4l2_format* format) {
    m_formatKnown = false;
    std::memset(&m_format, 0, sizeof m_format);
    m_format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_G_FMT, &m_format) != 0) return false;
    m_formatKnown = true;
    *format = m_format;
    return true;
}

bool V4l2Device::SetExactFormat(uint32_t pixelFormat, uint32_t width, uint32_t height, v4l2_format* applied) {
    auto matches = [&](const v4l2_format& format) {
        return format.fmt.pix.pixelformat == pixelFormat && format.fmt.pix.width == width &&
               format.fmt.pix.height == height;
    };
    const Offer offer = Offers(pixelFormat, width, height);
    if (offer == Offer::Unlisted) return false;
    v4l2_format previous;
    const bool hadPrevious = CurrentFormat(&previous);
    if (hadPrevious && matches(previous) && IsWholeFrameField(previous.fmt.pix.field)) {
        *applied = previous;
        return true;
    }
    v4l2_format wanted;
    if (hadPrevious)
        wanted = previous;
    else
        std::memset(&wanted, 0, sizeof wanted);
    wanted.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    wanted.fmt.pix.pixelformat = pixelFormat;
    wanted.fmt.pix.width = width;
    wanted.fmt.pix.height = height;
    wanted.fmt.pix.bytesperline = 0;
    wanted.fmt.pix.sizeimage = 0;

    // Left to choose, an interlaced capture card may send one field per
    // buffer at half the height: whole frames are asked for, progressive
    // where the driver has them, else both fields line by line.
    bool changed = false;
    for (uint32_t field : {V4L2_FIELD_NONE, V4L2_FIELD_INTERLACED}) {
        wanted.fmt.pix.field = field;
        // Drivers adjust what they cannot do instead of refusing it: a
        // format that their lists do not vouch for is asked about first.
        if (offer == Offer::Unknown) {
            v4l2_format trial = wanted;
            if (Ioctl(VIDIOC_TRY_FMT, &trial) == 0) {
                if (!matches(trial)) break;
                if (!IsWholeFrameField(trial.fmt.pix.field)) continue;
            } else if (errno != ENOTTY && errno != EINVAL) {
                break;
            }
        }
        v4l2_format set = wanted;
        if (SetUpIoctl(VIDIOC_S_FMT, &set) != 0) break;
        changed = true;
        // The driver has put the new format's default rate in place.
        m_intervalKnown = false;
        m_formatKnown = false;
        if (!matches(set)) break;
        if (!IsWholeFrameField(set.fmt.pix.field)) continue;
        m_format = set;
        m_formatKnown = true;
        *applied = set;
        return true;
    }
    if (changed && hadPrevious) {
        v4l2_format back = previous;
        if (Ioctl(VIDIOC_S_FMT, &back) == 0) {
            m_format = back;
            m_formatKnown = true;
        }
    }
    return false;
}

bool V4l2Device::ReadFrameInterval() {
    if (m_intervalKnown) return true;
    v4l2_streamparm parameters;
    std::memset(&parameters, 0, sizeof parameters);
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_G_PARM, &parameters) != 0) return false;
    const v4l2_fract& interval = parameters.parm.capture.timeperframe;
    m_interval = interval.denominator == 0
                     ? 0
                     : static_cast<LONGLONG>(interval.numerator) * 10000000 / interval.denominator;
    m_intervalSettable = (parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) != 0;
    m_intervalKnown = true;
    return true;
}

LONGLONG V4l2Device::FrameInterval() { return ReadFrameInterval() ? m_interval : 0; }

LONGLONG V4l2Device::FastestFrameInterval() {
    v4l2_format current;
    if (!CurrentFormat(&current)) return 0;
    LONGLONG fastest = 0;
    auto consider = [&fastest](const v4l2_fract& interval) {
        if (interval.denominator == 0 || interval.numerator == 0) return;
        LONGLONG time = static_cast<LONGLONG>(interval.numerator) * 10000000 / interval.denominator;
        if (time > 0 && (fastest == 0 || time < fastest)) fastest = time;
    };
    ListBudget budget = NewListBudget();
    for (uint32_t index = 0;; ++index) {
        v4l2_frmivalenum interval;
        std::memset(&interval, 0, sizeof interval);
        interval.index = index;
        interval.pixel_format = current.fmt.pix.pixelformat;
        interval.width = current.fmt.pix.width;
        interval.height = current.fmt.pix.height;
        if (Ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0 || !budget.Keep(VIDIOC_ENUM_FRAMEINTERVALS)) break;
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            consider(interval.discrete);
            continue;
        }
        // Stepwise and continuous ranges come as one entry.
        consider(interval.stepwise.min);
        break;
    }
    return fastest;
}

void V4l2Device::SetFrameInterval(LONGLONG hundredNanoseconds) {
    if (hundredNanoseconds <= 0 || !ReadFrameInterval()) return;
    if (!m_intervalSettable || hundredNanoseconds == m_interval) return;
    v4l2_streamparm parameters;
    std::memset(&parameters, 0, sizeof parameters);
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parameters.parm.capture.timeperframe.numerator = static_cast<uint32_t>(hundredNanoseconds);
    parameters.parm.capture.timeperframe.denominator = 10000000;
    if (SetUpIoctl(VIDIOC_S_PARM, &parameters) != 0) return;
    // The driver answers with the rate it took.
    const v4l2_fract& taken = parameters.parm.capture.timeperframe;
    if (taken.denominator != 0)
        m_interval = static_cast<LONGLONG>(taken.numerator) * 10000000 / taken.denominator;
    else
        m_intervalKnown = false;
}
