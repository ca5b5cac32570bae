#include "v4l2_stream.h"

#include <libv4lconvert.h>
#include <sys/mman.h>

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
    m_queued = m_buffers.size();
    m_saidRequeue = false;
    m_saidConversion = false;
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
    if (kernel.Ioctl(fd, VIDIOC_REQBUFS, &request) != 0) return errno;
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
        std::fprintf(stderr, "%s: the camera has been set to %ux%u by another program; %ux%u was expected\n",
                     m_device.Path().c_str(), source.width, source.height, width, height);
        return EBUSY;
    }
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
        if (kernel.Ioctl(fd, VIDIOC_QUERYBUF, &buffer) != 0) return errno;
        void* start = kernel.Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.m.offset);
        if (start == MAP_FAILED) return errno;
        m_buffers.push_back({start, buffer.length});
        if (kernel.Ioctl(fd, VIDIOC_QBUF, &buffer) != 0) return errno;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (kernel.Ioctl(fd, VIDIOC_STREAMON, &type) != 0) return errno;
    return 0;
}

void V4l2Stream::Stop() {
    if (m_thread.joinable()) {
        m_stop = true;
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
            if (errno == EAGAIN || errno == EINTR || errno == EIO) continue;
            if (DeviceGone(errno)) break;
            continue;
        }
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

bool V4l2Stream::Deliver(const v4l2_buffer& buffer) {
    if (buffer.index >= m_buffers.size()) return false;
    if ((buffer.flags & V4L2_BUF_FLAG_ERROR) != 0 || buffer.bytesused == 0) return false;
    const MappedBuffer& mapped = m_buffers[buffer.index];
    int used = static_cast<int>(buffer.bytesused < mapped.length ? buffer.bytesused : mapped.length);
    int converted = v4lconvert_convert(m_convert, &m_source, &m_target, static_cast<unsigned char*>(mapped.start), used,
                                       m_topDown.data(), static_cast<int>(m_topDown.size()));
    if (converted != static_cast<int>(m_topDown.size())) {
        if (!m_saidConversion) {
            m_saidConversion = true;
            std::string reason = converted < 0 ? v4lconvert_get_error_message(m_convert)
                                               : std::to_string(converted) + " bytes instead of " +
                                                     std::to_string(m_topDown.size());
            while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
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
