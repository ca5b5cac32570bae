#include "fake_video_kernel.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>

#include "virtual_camera_images.h"

namespace {

constexpr off_t kOffsetStep = 1 << 24;
// A node that ignores the index still ends each list after this many answers,
// so that a reader without a bound of its own fails its test instead of
// filling the memory.
constexpr uint64_t kMostAnswersIgnoringIndex = 100000;
// Requests kept in the order they came, per node.
constexpr size_t kMostLoggedRequests = 1 << 20;

bool IsListRequest(unsigned long request) {
    return request == VIDIOC_ENUM_FMT || request == VIDIOC_ENUM_FRAMESIZES || request == VIDIOC_ENUM_FRAMEINTERVALS;
}

// The list entry that a node answers with.
uint32_t EntryAsked(const FakeNode& node, uint32_t index) { return node.ignoresIndex ? 0 : index; }

void CopyText(uint8_t* field, size_t capacity, const std::string& text) {
    std::memset(field, 0, capacity);
    std::memcpy(field, text.data(), std::min(text.size(), capacity - 1));
}

}  // namespace

FakeSize Discrete(uint32_t width, uint32_t height) {
    return {width, width, 1, height, height, 1, V4L2_FRMSIZE_TYPE_DISCRETE, {}};
}

FakeSize Discrete(uint32_t width, uint32_t height, std::vector<v4l2_fract> intervals) {
    FakeSize size = Discrete(width, height);
    size.intervals = std::move(intervals);
    return size;
}

FakeSize Stepwise(uint32_t minWidth, uint32_t maxWidth, uint32_t stepWidth, uint32_t minHeight, uint32_t maxHeight,
                  uint32_t stepHeight) {
    return {minWidth, maxWidth, stepWidth, minHeight, maxHeight, stepHeight, V4L2_FRMSIZE_TYPE_STEPWISE, {}};
}

uint32_t BytesPerLine(uint32_t pixelFormat, uint32_t width) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_XRGB32:
        case V4L2_PIX_FMT_ABGR32: return width * 4;
        case V4L2_PIX_FMT_BGR24:
        case V4L2_PIX_FMT_RGB24: return width * 3;
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_YVYU:
        case V4L2_PIX_FMT_UYVY:
        case V4L2_PIX_FMT_RGB565:
        case V4L2_PIX_FMT_Y16: return width * 2;
        case V4L2_PIX_FMT_GREY:
        case V4L2_PIX_FMT_SBGGR8:
        case V4L2_PIX_FMT_SGBRG8:
        case V4L2_PIX_FMT_SGRBG8:
        case V4L2_PIX_FMT_SRGGB8:
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420:
        case V4L2_PIX_FMT_NV12: return width;
        default: return 0;
    }
}

namespace {

// Bytes that the headers of a JPEG image take, at most, beyond its pixels.
constexpr uint32_t kJpegHeaderRoom = 4096;
// What a driver leaves in the padding of a row.
constexpr uint8_t kPaddingByte = 0xA5;

// The rows of one plane of a frame.
struct Rows {
    uint32_t line;    // bytes of pixels
    uint32_t stride;  // from one row to the next
    uint32_t count;
};

// The planes of an uncompressed frame whose first plane's rows carry padding
// bytes after their pixels; none for a compressed format.
std::vector<Rows> PlanesOf(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t padding) {
    const uint32_t line = BytesPerLine(pixelFormat, width);
    if (line == 0) return {};
    std::vector<Rows> planes = {{line, line + padding, height}};
    if (pixelFormat == V4L2_PIX_FMT_NV12) planes.push_back({line, line + padding, height / 2});
    if (pixelFormat == V4L2_PIX_FMT_YUV420 || pixelFormat == V4L2_PIX_FMT_YVU420)
        for (int chroma = 0; chroma < 2; ++chroma) planes.push_back({line / 2, (line + padding) / 2, height / 2});
    return planes;
}

uint32_t PaddedImageSize(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t padding) {
    std::vector<Rows> planes = PlanesOf(pixelFormat, width, height, padding);
    if (planes.empty()) return width * height * 3 + kJpegHeaderRoom;
    uint32_t size = 0;
    for (const Rows& plane : planes) size += plane.stride * plane.count;
    return size;
}

// A frame with packed rows laid out with padding, as the node states it.
std::vector<uint8_t> PadRows(const std::vector<uint8_t>& packed, uint32_t pixelFormat, uint32_t width,
                             uint32_t height, uint32_t padding) {
    const std::vector<Rows> planes = PlanesOf(pixelFormat, width, height, padding);
    if (padding == 0 || planes.empty() || packed.size() != ImageSize(pixelFormat, width, height)) return packed;
    std::vector<uint8_t> padded;
    size_t from = 0;
    for (const Rows& plane : planes)
        for (uint32_t row = 0; row < plane.count; ++row, from += plane.line) {
            padded.insert(padded.end(), packed.begin() + from, packed.begin() + from + plane.line);
            padded.insert(padded.end(), plane.stride - plane.line, kPaddingByte);
        }
    return padded;
}

}  // namespace

uint32_t ImageSize(uint32_t pixelFormat, uint32_t width, uint32_t height) {
    return PaddedImageSize(pixelFormat, width, height, 0);
}

std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& rgb, uint32_t pixelFormat, uint32_t width,
                                 uint32_t height) {
    std::vector<uint8_t> out;
    const size_t pixels = static_cast<size_t>(width) * height;
    auto luminance = [&rgb](size_t pixel) { return rgb[pixel * 3 + 1]; };
    switch (pixelFormat) {
        case V4L2_PIX_FMT_XRGB32:
        case V4L2_PIX_FMT_ABGR32:
            // Grey in whichever order the bytes are read.
            out.resize(pixels * 4);
            for (size_t i = 0; i < pixels; ++i) std::memset(&out[i * 4], luminance(i), 4);
            return out;
        case V4L2_PIX_FMT_BGR24:
            out.resize(pixels * 3);
            for (size_t i = 0; i < pixels; ++i) {
                out[i * 3] = rgb[i * 3 + 2];
                out[i * 3 + 1] = rgb[i * 3 + 1];
                out[i * 3 + 2] = rgb[i * 3];
            }
            return out;
        case V4L2_PIX_FMT_RGB24: return rgb;
        case V4L2_PIX_FMT_GREY:
            out.resize(pixels);
            for (size_t i = 0; i < pixels; ++i) out[i] = rgb[i * 3 + 1];
            return out;
        case V4L2_PIX_FMT_Y16:
            out.resize(pixels * 2);
            for (size_t i = 0; i < pixels; ++i) out[i * 2 + 1] = luminance(i);  // little-endian
            return out;
        case V4L2_PIX_FMT_RGB565:
            out.resize(pixels * 2);
            for (size_t i = 0; i < pixels; ++i) {
                const uint8_t* p = &rgb[i * 3];
                const uint16_t value = static_cast<uint16_t>((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | p[2] >> 3);
                out[i * 2] = static_cast<uint8_t>(value & 0xff);  // little-endian
                out[i * 2 + 1] = static_cast<uint8_t>(value >> 8);
            }
            return out;
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_YVYU:
        case V4L2_PIX_FMT_UYVY: {
            // Luminance first, except in U Y V Y.
            const size_t at = pixelFormat == V4L2_PIX_FMT_UYVY ? 1 : 0;
            out.assign(pixels * 2, 128);
            for (size_t i = 0; i < pixels; ++i) out[i * 2 + at] = luminance(i);
            return out;
        }
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420:
        case V4L2_PIX_FMT_NV12:
            // A luminance plane, then chroma for every 2 × 2 pixels.
            out.assign(ImageSize(pixelFormat, width, height), 128);
            for (size_t i = 0; i < pixels; ++i) out[i] = luminance(i);
            return out;
        case V4L2_PIX_FMT_MJPEG: return EncodeJpeg(rgb, width, height);
        case V4L2_PIX_FMT_SBGGR8:
        case V4L2_PIX_FMT_SGBRG8:
        case V4L2_PIX_FMT_SGRBG8:
        case V4L2_PIX_FMT_SRGGB8: {
            // One colour per pixel, in 2 × 2 tiles named row by row from the top left.
            const char* tile = pixelFormat == V4L2_PIX_FMT_SBGGR8   ? "BGGR"
                               : pixelFormat == V4L2_PIX_FMT_SGBRG8 ? "GBRG"
                               : pixelFormat == V4L2_PIX_FMT_SGRBG8 ? "GRBG"
                                                                    : "RGGB";
            out.resize(pixels);
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t x = 0; x < width; ++x) {
                    const size_t i = static_cast<size_t>(y) * width + x;
                    const char colour = tile[(y % 2) * 2 + x % 2];
                    out[i] = rgb[i * 3 + (colour == 'R' ? 0 : colour == 'G' ? 1 : 2)];
                }
            return out;
        }
        default: return std::vector<uint8_t>(ImageSize(pixelFormat, width, height), 0);
    }
}

struct FakeVideoKernel::State {
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<uint32_t> bytesUsed;
    std::vector<uint32_t> queue;
    bool streaming = false;
    bool gone = false;
    uint64_t plugging = 0;  // one more at every unplug: older descriptors are dead
    std::vector<std::vector<std::vector<uint8_t>>> retired;  // buffers of dead descriptors, still mapped
    int owner = -1;  // the descriptor whose request allocated the buffers
    std::map<unsigned long, uint64_t> listAnswers;  // answers per list request while ignoring the index
    uint64_t streamFrames = 0;
    uint64_t totalFrames = 0;
    int opens = 0;
    std::chrono::steady_clock::time_point nextDue;
    std::vector<unsigned long> requests;
    std::map<unsigned long, uint64_t> calls;
};

FakeVideoKernel::FakeVideoKernel() { m_previous = SetVideoKernelForTesting(this); }

FakeVideoKernel::~FakeVideoKernel() {
    SetVideoKernelForTesting(m_previous);
    for (auto& handle : m_handles) ::close(handle.first);
}

FakeNode& FakeVideoKernel::AddCamera(const std::string& card, uint32_t pixelFormat, std::vector<FakeSize> sizes) {
    FakeNode node;
    node.card = card;
    node.pixelFormat = pixelFormat;
    node.width = sizes.empty() ? 0 : sizes[0].maxWidth;
    node.height = sizes.empty() ? 0 : sizes[0].maxHeight;
    node.formats.push_back({pixelFormat, std::move(sizes)});
    return AddNode(std::move(node));
}

FakeNode& FakeVideoKernel::AddNode(FakeNode node) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (node.path.empty()) node.path = "/dev/video" + std::to_string(m_nodes.size());
    m_nodes.push_back(std::make_unique<FakeNode>(std::move(node)));
    m_states.push_back(std::make_unique<State>());
    return *m_nodes.back();
}

void FakeVideoKernel::Unplug(size_t index) {
    std::lock_guard<std::mutex> hold(m_lock);
    State& state = *m_states[index];
    state.gone = true;
    ++state.plugging;
}

void FakeVideoKernel::FailFromNow(size_t index, unsigned long request, int error) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_nodes[index]->failures[request] = error;
}

void FakeVideoKernel::Replug(size_t index) {
    std::lock_guard<std::mutex> hold(m_lock);
    State& state = *m_states[index];
    state.gone = false;
    ReleaseBuffers(state);
    m_nodes[index]->interval = {0, 0};
}

void FakeVideoKernel::ReleaseBuffers(State& state) {
    state.streaming = false;
    state.queue.clear();
    // Mapped memory stays readable until it is unmapped, as the kernel keeps it.
    state.retired.push_back(std::move(state.buffers));
    state.buffers.clear();
    state.owner = -1;
}

int FakeVideoKernel::OpenDescriptors() {
    std::lock_guard<std::mutex> hold(m_lock);
    return static_cast<int>(m_handles.size());
}

int FakeVideoKernel::MappedBuffers() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_mapped;
}

uint64_t FakeVideoKernel::FramesSent(size_t index) {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_states[index]->totalFrames;
}

int FakeVideoKernel::Opens(size_t index) {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_states[index]->opens;
}

std::vector<unsigned long> FakeVideoKernel::Requests(size_t index) {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_states[index]->requests;
}

uint64_t FakeVideoKernel::Calls(size_t index, unsigned long request) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto found = m_states[index]->calls.find(request);
    return found != m_states[index]->calls.end() ? found->second : 0;
}

v4l2_fract FakeVideoKernel::Interval(size_t index) {
    std::lock_guard<std::mutex> hold(m_lock);
    return CurrentInterval(*m_nodes[index]);
}

int FakeVideoKernel::Fail(int error) {
    errno = error;
    return -1;
}

std::vector<std::string> FakeVideoKernel::ListNodes() {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::string> paths;
    for (size_t i = 0; i < m_nodes.size(); ++i)
        if (!m_states[i]->gone) paths.push_back(m_nodes[i]->path);
    return paths;
}

int FakeVideoKernel::Open(const char* path, int) {
    std::lock_guard<std::mutex> hold(m_lock);
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        if (m_nodes[i]->path != path) continue;
        if (m_states[i]->gone) return Fail(ENODEV);
        if (m_nodes[i]->openError != 0) return Fail(m_nodes[i]->openError);
        int fd = eventfd(0, EFD_CLOEXEC);
        m_handles[fd] = {i, m_states[i]->plugging};
        ++m_states[i]->opens;
        return fd;
    }
    return Fail(ENOENT);
}

int FakeVideoKernel::Close(int fd) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto found = m_handles.find(fd);
    if (found == m_handles.end()) return Fail(EBADF);
    // A driver frees the buffers of a descriptor that is closed.
    State& state = *m_states[found->second.node];
    if (state.owner == fd && found->second.plugging == state.plugging) ReleaseBuffers(state);
    m_handles.erase(found);
    return ::close(fd);
}

const FakeSize* FakeVideoKernel::SizeOf(const FakeNode& node, uint32_t pixelFormat, uint32_t width,
                                        uint32_t height) const {
    for (const FakeFormat& format : node.formats) {
        if (format.pixelFormat != pixelFormat) continue;
        for (const FakeSize& size : format.sizes) {
            bool inWidth = width >= size.minWidth && width <= size.maxWidth && size.stepWidth > 0 &&
                           (width - size.minWidth) % size.stepWidth == 0;
            bool inHeight = height >= size.minHeight && height <= size.maxHeight && size.stepHeight > 0 &&
                            (height - size.minHeight) % size.stepHeight == 0;
            if (inWidth && inHeight) return &size;
        }
    }
    return nullptr;
}

bool FakeVideoKernel::Matches(const FakeNode& node, uint32_t pixelFormat, uint32_t width, uint32_t height) const {
    return SizeOf(node, pixelFormat, width, height) != nullptr;
}

v4l2_fract FakeVideoKernel::CurrentInterval(const FakeNode& node) const {
    if (node.interval.denominator != 0) return node.interval;
    const FakeSize* size = SizeOf(node, node.pixelFormat, node.width, node.height);
    return size != nullptr && !size->intervals.empty() ? size->intervals[0] : v4l2_fract{0, 0};
}

int FakeVideoKernel::IntervalIoctl(FakeNode& node, unsigned long request, void* argument) {
    const FakeSize* size = SizeOf(node, node.pixelFormat, node.width, node.height);
    if (request == VIDIOC_ENUM_FRAMEINTERVALS) {
        auto* interval = static_cast<v4l2_frmivalenum*>(argument);
        const FakeSize* asked = SizeOf(node, interval->pixel_format, interval->width, interval->height);
        const uint32_t entry = EntryAsked(node, interval->index);
        if (asked == nullptr || entry >= asked->intervals.size()) return Fail(EINVAL);
        interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        interval->discrete = asked->intervals[entry];
        return 0;
    }
    auto* parameters = static_cast<v4l2_streamparm*>(argument);
    if (size == nullptr || size->intervals.empty() || parameters->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
        return Fail(EINVAL);
    if (request == VIDIOC_S_PARM) {
        // The nearest offered interval, as the UVC driver picks it.
        const v4l2_fract wanted = parameters->parm.capture.timeperframe;
        if (wanted.denominator == 0) return Fail(EINVAL);
        auto away = [&wanted](const v4l2_fract& f) {
            return std::abs(static_cast<double>(f.numerator) / f.denominator -
                            static_cast<double>(wanted.numerator) / wanted.denominator);
        };
        v4l2_fract best = size->intervals[0];
        for (const v4l2_fract& offered : size->intervals)
            if (away(offered) < away(best)) best = offered;
        node.interval = best;
    }
    std::memset(&parameters->parm, 0, sizeof parameters->parm);
    parameters->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
    parameters->parm.capture.timeperframe = CurrentInterval(node);
    return 0;
}

void FakeVideoKernel::Adjust(const FakeNode& node, v4l2_pix_format* pix) const {
    // As drivers do: what the node cannot do is replaced by its first size of
    // the format (or its first format), and by its first field order.
    if (!Matches(node, pix->pixelformat, pix->width, pix->height)) {
        const FakeFormat* format = &node.formats[0];
        for (const FakeFormat& candidate : node.formats)
            if (candidate.pixelFormat == pix->pixelformat) format = &candidate;
        pix->pixelformat = format->pixelFormat;
        pix->width = format->sizes.empty() ? node.width : format->sizes[0].maxWidth;
        pix->height = format->sizes.empty() ? node.height : format->sizes[0].maxHeight;
    }
    const bool canSend = std::find(node.fields.begin(), node.fields.end(), pix->field) != node.fields.end();
    if (pix->field == V4L2_FIELD_ANY || !canSend)
        pix->field = node.fields.empty() ? static_cast<uint32_t>(V4L2_FIELD_NONE) : node.fields[0];
    StateFormat(node, pix);
}

void FakeVideoKernel::StateFormat(const FakeNode& node, v4l2_pix_format* pix) const {
    const uint32_t line = BytesPerLine(pix->pixelformat, pix->width);
    pix->bytesperline = line != 0 ? line + node.linePadding : 0;
    pix->sizeimage = PaddedImageSize(pix->pixelformat, pix->width, pix->height, node.linePadding);
}

int FakeVideoKernel::Ioctl(int fd, unsigned long request, void* argument) {
    if (request == VIDIOC_TRY_FMT || request == VIDIOC_S_FMT || request == VIDIOC_S_PARM ||
        request == VIDIOC_STREAMON || request == VIDIOC_STREAMOFF) {
        std::chrono::milliseconds latency{0};
        {
            std::lock_guard<std::mutex> hold(m_lock);
            auto found = m_handles.find(fd);
            if (found != m_handles.end()) latency = m_nodes[found->second.node]->usbLatency;
        }
        std::this_thread::sleep_for(latency);
    }
    std::lock_guard<std::mutex> hold(m_lock);
    auto found = m_handles.find(fd);
    if (found == m_handles.end()) return Fail(EBADF);
    FakeNode& node = *m_nodes[found->second.node];
    State& state = *m_states[found->second.node];
    if (state.requests.size() < kMostLoggedRequests) state.requests.push_back(request);
    ++state.calls[request];
    if (state.gone || found->second.plugging != state.plugging) return Fail(ENODEV);
    auto failure = node.failures.find(request);
    if (failure != node.failures.end()) return Fail(failure->second);
    if (node.ignoresIndex && IsListRequest(request) && ++state.listAnswers[request] > kMostAnswersIgnoringIndex)
        return Fail(EINVAL);

    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* capability = static_cast<v4l2_capability*>(argument);
            std::memset(capability, 0, sizeof *capability);
            CopyText(capability->driver, sizeof capability->driver, "fake");
            CopyText(capability->card, sizeof capability->card, node.card);
            CopyText(capability->bus_info, sizeof capability->bus_info, "fake:" + node.path);
            capability->device_caps = node.capabilities;
            capability->capabilities = node.capabilities | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* description = static_cast<v4l2_fmtdesc*>(argument);
            const uint32_t entry = EntryAsked(node, description->index);
            if (entry >= node.formats.size()) return Fail(EINVAL);
            description->pixelformat = node.formats[entry].pixelFormat;
            description->flags = 0;
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* size = static_cast<v4l2_frmsizeenum*>(argument);
            if (!node.listsSizes) return Fail(ENOTTY);
            const uint32_t entry = EntryAsked(node, size->index);
            for (const FakeFormat& format : node.formats) {
                if (format.pixelFormat != size->pixel_format || entry >= format.sizes.size()) continue;
                const FakeSize& one = format.sizes[entry];
                size->type = one.type;
                if (one.type == V4L2_FRMSIZE_TYPE_DISCRETE)
                    size->discrete = {one.maxWidth, one.maxHeight};
                else
                    size->stepwise = {one.minWidth, one.maxWidth, one.stepWidth,
                                      one.minHeight, one.maxHeight, one.stepHeight};
                return 0;
            }
            return Fail(EINVAL);
        }
        case VIDIOC_G_FMT: {
            auto* format = static_cast<v4l2_format*>(argument);
            std::memset(&format->fmt, 0, sizeof format->fmt);
            format->fmt.pix.pixelformat = node.pixelFormat;
            format->fmt.pix.width = node.width;
            format->fmt.pix.height = node.height;
            format->fmt.pix.field = node.field;
            StateFormat(node, &format->fmt.pix);
            return 0;
        }
        case VIDIOC_TRY_FMT:
        case VIDIOC_S_FMT: {
            auto* format = static_cast<v4l2_format*>(argument);
            if (request == VIDIOC_S_FMT && !state.buffers.empty()) return Fail(EBUSY);
            Adjust(node, &format->fmt.pix);
            if (request == VIDIOC_S_FMT) {
                node.pixelFormat = format->fmt.pix.pixelformat;
                node.width = format->fmt.pix.width;
                node.height = format->fmt.pix.height;
                node.field = format->fmt.pix.field;
                node.interval = {0, 0};
            }
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* buffers = static_cast<v4l2_requestbuffers*>(argument);
            if (state.streaming) return Fail(EBUSY);
            // Another descriptor's buffers are not ours to free.
            if (!state.buffers.empty() && state.owner != fd) return Fail(EBUSY);
            state.buffers.assign(buffers->count, std::vector<uint8_t>(PaddedImageSize(
                                                     node.pixelFormat, node.width, node.height, node.linePadding)));
            state.bytesUsed.assign(buffers->count, 0);
            state.queue.clear();
            state.owner = buffers->count > 0 ? fd : -1;
            return 0;
        }
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF: {
            auto* buffer = static_cast<v4l2_buffer*>(argument);
            if (buffer->index >= state.buffers.size()) return Fail(EINVAL);
            buffer->length = static_cast<uint32_t>(state.buffers[buffer->index].size());
            buffer->m.offset = static_cast<uint32_t>(buffer->index * kOffsetStep);
            if (request == VIDIOC_QBUF) state.queue.push_back(buffer->index);
            return 0;
        }
        case VIDIOC_DQBUF: {
            auto* buffer = static_cast<v4l2_buffer*>(argument);
            std::chrono::steady_clock::time_point due;
            if (!FrameReady(node, state, &due) || std::chrono::steady_clock::now() < due) return Fail(EAGAIN);
            if (node.framesBeforeVanish >= 0 && static_cast<int64_t>(state.totalFrames) >= node.framesBeforeVanish) {
                state.gone = true;
                ++state.plugging;
                return Fail(ENODEV);
            }
            uint32_t index = state.queue.front();
            state.queue.erase(state.queue.begin());
            std::vector<uint8_t> bytes;
            if (node.frame) {
                bytes = node.frame(state.streamFrames, node.pixelFormat, node.width, node.height);
            } else {
                std::vector<uint8_t> rgb(static_cast<size_t>(node.width) * node.height * 3,
                                         static_cast<uint8_t>(state.streamFrames));
                bytes = EncodeFrame(rgb, node.pixelFormat, node.width, node.height);
            }
            bytes = PadRows(bytes, node.pixelFormat, node.width, node.height, node.linePadding);
            uint32_t flags = V4L2_BUF_FLAG_MAPPED;
            if (node.tamper) node.tamper(state.streamFrames, bytes, flags);
            std::vector<uint8_t>& target = state.buffers[index];
            size_t used = std::min(bytes.size(), target.size());
            std::memcpy(target.data(), bytes.data(), used);
            buffer->index = index;
            buffer->bytesused = static_cast<uint32_t>(used);
            buffer->flags = flags;
            buffer->sequence = static_cast<uint32_t>(state.streamFrames);
            ++state.streamFrames;
            ++state.totalFrames;
            state.nextDue = std::chrono::steady_clock::now() + node.frameInterval;
            return 0;
        }
        case VIDIOC_STREAMON:
            if (state.buffers.empty()) return Fail(EINVAL);
            state.streaming = true;
            state.streamFrames = 0;
            state.nextDue = std::chrono::steady_clock::now();
            return 0;
        case VIDIOC_STREAMOFF:
            state.streaming = false;
            state.queue.clear();
            return 0;
        case VIDIOC_S_PARM:
            // As the UVC driver refuses a handle while another one streams.
            if (!state.buffers.empty() && state.owner != fd) return Fail(EBUSY);
            return IntervalIoctl(node, request, argument);
        case VIDIOC_G_PARM:
        case VIDIOC_ENUM_FRAMEINTERVALS:
            return IntervalIoctl(node, request, argument);
        default:
            return Fail(request == VIDIOC_QUERYCTRL || request == VIDIOC_G_CTRL || request == VIDIOC_S_CTRL ||
                                request == VIDIOC_QUERY_EXT_CTRL
                            ? EINVAL
                            : ENOTTY);
    }
}

bool FakeVideoKernel::FrameReady(const FakeNode& node, State& state, std::chrono::steady_clock::time_point* due) {
    *due = state.nextDue;
    bool stalled = node.framesBeforeStall >= 0 && static_cast<int64_t>(state.streamFrames) >= node.framesBeforeStall;
    return state.streaming && !state.queue.empty() && !stalled;
}

void* FakeVideoKernel::Mmap(size_t length, int, int, int fd, off_t offset) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto found = m_handles.find(fd);
    if (found == m_handles.end()) {
        errno = EBADF;
        return MAP_FAILED;
    }
    if (m_nodes[found->second.node]->mmapError != 0) {
        errno = m_nodes[found->second.node]->mmapError;
        return MAP_FAILED;
    }
    State& state = *m_states[found->second.node];
    size_t index = static_cast<size_t>(offset / kOffsetStep);
    if (index >= state.buffers.size() || length > state.buffers[index].size()) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    ++m_mapped;
    return state.buffers[index].data();
}

int FakeVideoKernel::Munmap(void*, size_t) {
    std::lock_guard<std::mutex> hold(m_lock);
    --m_mapped;
    return 0;
}

int FakeVideoKernel::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    if (count != 1) return Fail(EINVAL);
    std::chrono::steady_clock::time_point due = std::chrono::steady_clock::time_point::max();
    {
        std::lock_guard<std::mutex> hold(m_lock);
        fds[0].revents = 0;
        auto found = m_handles.find(fds[0].fd);
        if (found == m_handles.end()) {
            fds[0].revents = POLLNVAL;
            return 1;
        }
        const FakeNode& node = *m_nodes[found->second.node];
        State& state = *m_states[found->second.node];
        if (state.gone || found->second.plugging != state.plugging) {
            fds[0].revents = POLLERR;
            return 1;
        }
        std::chrono::steady_clock::time_point next;
        if (FrameReady(node, state, &next)) due = next;
    }
    auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (due > limit) {
        std::this_thread::sleep_until(limit);
        return 0;
    }
    std::this_thread::sleep_until(due);
    fds[0].revents = POLLIN;
    return 1;
}

AnotherProgram::AnotherProgram(FakeVideoKernel& kernel, const std::string& path)
    : m_kernel(kernel), m_fd(kernel.Open(path.c_str(), O_RDWR)) {}

AnotherProgram::~AnotherProgram() { LetsGo(); }

bool AnotherProgram::SetsFormat(uint32_t pixelFormat, uint32_t width, uint32_t height) {
    v4l2_format format;
    std::memset(&format, 0, sizeof format);
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.pixelformat = pixelFormat;
    format.fmt.pix.width = width;
    format.fmt.pix.height = height;
    return m_fd >= 0 && m_kernel.Ioctl(m_fd, VIDIOC_S_FMT, &format) == 0;
}

bool AnotherProgram::HoldsBuffers() {
    v4l2_requestbuffers request;
    std::memset(&request, 0, sizeof request);
    request.count = 2;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    return m_fd >= 0 && m_kernel.Ioctl(m_fd, VIDIOC_REQBUFS, &request) == 0;
}

void AnotherProgram::LetsGo() {
    if (m_fd >= 0) m_kernel.Close(m_fd);
    m_fd = -1;
}
