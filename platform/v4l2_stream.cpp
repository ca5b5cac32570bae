#include "v4l2_stream.h"

#include <libv4lconvert.h>
#include <sys/mman.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "v4l2_converter.h"

namespace {

constexpr unsigned kBufferCount = 4;
// How long the streaming thread waits for a frame before it looks at its stop flag.
constexpr int kPollMilliseconds = 50;

bool DeviceGone(int error) { return error == ENODEV || error == ENXIO || error == EBADF || error == ENOENT; }

// A pixel format's four characters, as its code spells them.
std::string FourccText(uint32_t pixelFormat) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        char c = static_cast<char>((pixelFormat >> shift) & 0x7f);
        text += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if ((pixelFormat & (1u << 31)) != 0) text += " (big-endian)";
    return text;
}

// What a buffer holds in a field order that is not whole frames.
std::string FieldsText(uint32_t field) {
    switch (field) {
        case V4L2_FIELD_TOP: return "top fields only";
        case V4L2_FIELD_BOTTOM: return "bottom fields only";
        case V4L2_FIELD_ALTERNATE: return "alternate fields";
        case V4L2_FIELD_SEQ_TB:
        case V4L2_FIELD_SEQ_BT: return "one field after the other";
        default: return "fields in order " + std::to_string(field);
    }
}

// Whether a JPEG image ends with its end marker, after the 00 or FF bytes
// that some cameras fill their buffers with.
bool EndsWithJpegEnd(const BYTE* data, size_t length) {
    while (length > 0 && (data[length - 1] == 0x00 || data[length - 1] == 0xff)) --length;
    return length >= 2 && data[length - 2] == 0xff && data[length - 1] == 0xd9;
}

// libv4lconvert's error message as one line a user can read. What it keeps
// from libjpeg is the last text libjpeg gave, often a trace of a marker it
// read, not the error.
std::string ConversionReason(const char* message) {
    std::string reason = message != nullptr ? message : "";
    reason = reason.substr(0, reason.find('\n'));
    for (const char* prefix : {"v4l-convert: ", "error "})
        if (reason.compare(0, std::strlen(prefix), prefix) == 0) reason.erase(0, std::strlen(prefix));
    if (reason.compare(0, 15, "libjpeg error: ") == 0) return "the JPEG data cannot be decoded";
    for (char& c : reason)
        if (!std::isprint(static_cast<unsigned char>(c))) c = '?';
    while (!reason.empty() && reason.back() == ' ') reason.pop_back();
    return reason.empty() ? "the converter gives no reason" : reason;
}

}  // namespace

// libv4lconvert asks the device through the kernel seam, and reads the
// driver's lists within the same bounds as we do.
struct ConverterSeam {
    VideoKernel& kernel;
    ListBudget lists;
};

namespace {

int SeamIoctl(void* context, int fd, unsigned long request, void* argument) {
    ConverterSeam& seam = *static_cast<ConverterSeam*>(context);
    if (seam.kernel.Ioctl(fd, request, argument) != 0) return -1;
    if (seam.lists.Keep(request)) return 0;
    // The end of the list, as a driver says it.
    errno = EINVAL;
    return -1;
}

const libv4l_dev_ops kSeamOps = IoctlOnlyDevOps(SeamIoctl);

}  // namespace

V4l2Stream::V4l2Stream(V4l2Device& device) : m_device(device) {}

V4l2Stream::~V4l2Stream() { Stop(); }

int V4l2Stream::Start(uint32_t width, uint32_t height, FrameSink frames, LossSink lost) {
    if (Running()) return EBUSY;
    const int error = Prepare(width, height);
    if (error != 0) {
        ReleaseBuffers();
        return error;
    }
    m_topDown.resize(m_target.fmt.pix.sizeimage);
    m_bottomUp.resize(m_target.fmt.pix.sizeimage);
    m_packed.resize(m_layout.Padded() ? m_layout.PackedBytes() : 0);
    m_queued = m_buffers.size();
    m_saidRequeue = false;
    m_saidConversion = false;
    m_saidDamaged = false;
    m_saidEmpty = false;
    m_saidCut = false;
    m_frames = std::move(frames);
    m_lost = std::move(lost);
    m_stop = false;
    m_thread = std::thread(&V4l2Stream::Run, this);
    return 0;
}

int V4l2Stream::Prepare(uint32_t width, uint32_t height) {
    VideoKernel& kernel = m_device.Kernel();
    const int fd = m_device.Fd();
    m_seam.reset(new ConverterSeam{kernel, m_device.NewListBudget()});
    m_convert = v4lconvert_create_with_dev_ops(fd, m_seam.get(), &kSeamOps);
    if (m_convert == nullptr) return ENOMEM;

    v4l2_requestbuffers request;
    std::memset(&request, 0, sizeof request);
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (m_device.SetUpIoctl(VIDIOC_REQBUFS, &request) != 0) return errno;
    m_buffersRequested = true;
    if (request.count == 0) return ENOMEM;

    // With buffers allocated the driver refuses every other format: what it
    // states now is what its frames will be.
    if (!m_device.ReadFormat(&m_source)) return errno != 0 ? errno : EIO;
    const v4l2_pix_format& source = m_source.fmt.pix;
    // A frame must fit the 32-bit lengths that samples are measured in.
    if (source.width == 0 || source.height == 0) return EINVAL;
    if (static_cast<uint64_t>(source.width) * source.height * 3 > 0x7fffffffu) return EINVAL;
    if (source.width != width || source.height != height) {
        // Another program, or the driver itself, has changed it.
        std::fprintf(stderr, "%s: the frame size changed from %ux%u to %ux%u before streaming began\n",
                     m_device.Path().c_str(), width, height, source.width, source.height);
        return EBUSY;
    }
    const int refused = AcceptSource();
    if (refused != 0) return refused;
    m_target = m_source;
    m_target.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    m_target.fmt.pix.bytesperline = source.width * 3;
    m_target.fmt.pix.sizeimage = source.width * source.height * 3;
    m_target.fmt.pix.field = V4L2_FIELD_NONE;

    for (unsigned index = 0; index < request.count; ++index) {
        v4l2_buffer buffer;
        std::memset(&buffer, 0, sizeof buffer);
        buffer.index = index;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (m_device.SetUpIoctl(VIDIOC_QUERYBUF, &buffer) != 0) return errno;
        void* start = kernel.Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.m.offset);
        if (start == MAP_FAILED) return errno;
        m_buffers.push_back({start, buffer.length});
        if (m_device.SetUpIoctl(VIDIOC_QBUF, &buffer) != 0) return errno;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (m_device.SetUpIoctl(VIDIOC_STREAMON, &type) != 0) return errno;
    return 0;
}

int V4l2Stream::AcceptSource() {
    const v4l2_pix_format& source = m_source.fmt.pix;
    const char* path = m_device.Path().c_str();
    // Another program may have set a format of its own before our buffers
    // locked it.
    if (!IsConvertiblePixelFormat(source.pixelformat)) {
        std::fprintf(stderr, "%s: the camera sends %s frames, which cannot be converted\n", path,
                     FourccText(source.pixelformat).c_str());
        return EINVAL;
    }
    if (!IsWholeFrameField(source.field)) {
        std::fprintf(stderr, "%s: the camera sends %s, which cannot be converted\n", path,
                     FieldsText(source.field).c_str());
        return EINVAL;
    }
    m_converted = m_source;
    m_compressed = IsCompressedPixelFormat(source.pixelformat);
    m_layout = FrameLayout();
    if (!m_compressed) {
        // Convertible formats that are not compressed all have a layout.
        if (!LayoutOfFrame(source.pixelformat, source.width, source.height, source.bytesperline, &m_layout))
            return EINVAL;
        m_converted.fmt.pix.bytesperline = static_cast<uint32_t>(m_layout.planes[0].lineBytes);
        m_converted.fmt.pix.sizeimage = static_cast<uint32_t>(m_layout.PackedBytes());
    }
    return 0;
}

void V4l2Stream::Stop() {
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> hold(m_stopLock);
            m_stop = true;
        }
        m_stopped.notify_all();
        m_thread.join();
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        m_device.Kernel().Ioctl(m_device.Fd(), VIDIOC_STREAMOFF, &type);
    }
    ReleaseBuffers();
}

void V4l2Stream::ReleaseBuffers() {
    VideoKernel& kernel = m_device.Kernel();
    for (const MappedBuffer& buffer : m_buffers) kernel.Munmap(buffer.start, buffer.length);
    m_buffers.clear();
    // Until then the driver refuses any other format on this descriptor.
    if (m_buffersRequested) {
        v4l2_requestbuffers request;
        std::memset(&request, 0, sizeof request);
        request.count = 0;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        kernel.Ioctl(m_device.Fd(), VIDIOC_REQBUFS, &request);
        m_buffersRequested = false;
    }
    if (m_convert != nullptr) {
        v4lconvert_destroy(m_convert);
        m_convert = nullptr;
    }
    m_seam.reset();
}

void V4l2Stream::Run() {
    VideoKernel& kernel = m_device.Kernel();
    const auto started = std::chrono::steady_clock::now();
    int failedDequeues = 0;
    while (!m_stop) {
        pollfd wait = {m_device.Fd(), POLLIN, 0};
        int ready = kernel.Poll(&wait, 1, kPollMilliseconds);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready == 0) continue;
        if ((wait.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;

        v4l2_buffer buffer;
        std::memset(&buffer, 0, sizeof buffer);
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (kernel.Ioctl(m_device.Fd(), VIDIOC_DQBUF, &buffer) != 0) {
            const int error = errno;
            if (error == EAGAIN) continue;
            if (DeviceGone(error)) break;
            // Poll keeps saying that a frame is ready: asking again at once
            // would take a whole core and hand over nothing.
            if (++failedDequeues >= kMostFailedDequeues) {
                std::fprintf(stderr, "%s: the driver keeps failing to hand over frames (%s); the camera is given up\n",
                             m_device.Path().c_str(), std::strerror(error));
                break;
            }
            Rest();
            continue;
        }
        failedDequeues = 0;
        --m_queued;
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (Deliver(buffer)) m_frames(m_bottomUp.data(), static_cast<LONG>(m_bottomUp.size()), seconds);
        if (kernel.Ioctl(m_device.Fd(), VIDIOC_QBUF, &buffer) == 0) {
            ++m_queued;
            continue;
        }
        if (DeviceGone(errno)) break;
        if (!m_saidRequeue) {
            m_saidRequeue = true;
            std::fprintf(stderr, "%s: a buffer could not be queued again and is lost: %s\n", m_device.Path().c_str(),
                         std::strerror(errno));
        }
        // With no buffer left to fill, no frame can come: as if unplugged.
        if (m_queued == 0) break;
    }
    if (!m_stop && m_lost) m_lost();
}

void V4l2Stream::Rest() {
    std::unique_lock<std::mutex> hold(m_stopLock);
    m_stopped.wait_for(hold, std::chrono::milliseconds(kPollMilliseconds), [this] { return m_stop.load(); });
}

void V4l2Stream::SayDropped(bool* said, const char* kind) {
    if (*said) return;
    *said = true;
    std::fprintf(stderr, "%s: %s are dropped\n", m_device.Path().c_str(), kind);
}

BYTE* V4l2Stream::Readable(const v4l2_buffer& buffer, int* length) {
    if (buffer.index >= m_buffers.size()) return nullptr;
    if ((buffer.flags & V4L2_BUF_FLAG_ERROR) != 0) {
        SayDropped(&m_saidDamaged, "frames that the driver marks as damaged");
        return nullptr;
    }
    if (buffer.bytesused == 0) {
        SayDropped(&m_saidEmpty, "empty frames");
        return nullptr;
    }
    const MappedBuffer& mapped = m_buffers[buffer.index];
    BYTE* data = static_cast<BYTE*>(mapped.start);
    const size_t used = buffer.bytesused < mapped.length ? buffer.bytesused : mapped.length;
    if (m_compressed) {
        // libjpeg fills what a cut image lacks with grey and calls it a picture.
        if (IsJpegPixelFormat(m_source.fmt.pix.pixelformat) && !EndsWithJpegEnd(data, used)) {
            SayDropped(&m_saidCut, "frames cut short");
            return nullptr;
        }
        *length = static_cast<int>(used);
        return data;
    }
    if (used < m_layout.NeededBytes()) {
        SayDropped(&m_saidCut, "frames cut short");
        return nullptr;
    }
    if (m_layout.Padded()) {
        m_layout.Pack(data, m_packed.data());
        *length = static_cast<int>(m_packed.size());
        return m_packed.data();
    }
    *length = static_cast<int>(m_layout.PackedBytes());
    return data;
}

bool V4l2Stream::Deliver(const v4l2_buffer& buffer) {
    int length = 0;
    BYTE* frame = Readable(buffer, &length);
    if (frame == nullptr) return false;
    int converted = v4lconvert_convert(m_convert, &m_converted, &m_target, frame, length,
                                       m_topDown.data(), static_cast<int>(m_topDown.size()));
    if (converted != static_cast<int>(m_topDown.size())) {
        if (!m_saidConversion) {
            m_saidConversion = true;
            std::string reason = converted < 0 ? ConversionReason(v4lconvert_get_error_message(m_convert))
                                               : std::to_string(converted) + " bytes instead of " +
                                                     std::to_string(m_topDown.size());
            std::fprintf(stderr, "%s: frames that cannot be converted are dropped: %s\n", m_device.Path().c_str(),
                         reason.c_str());
        }
        return false;
    }
    // A DirectShow RGB24 sample starts with the bottom row.
    const size_t rowBytes = m_target.fmt.pix.bytesperline;
    const size_t rows = m_target.fmt.pix.height;
    for (size_t row = 0; row < rows; ++row)
        std::memcpy(&m_bottomUp[(rows - 1 - row) * rowBytes], &m_topDown[row * rowBytes], rowBytes);
    return true;
}
