#include "v4l2_stream.h"

#include <libv4lconvert.h>
#include <sys/mman.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "v4l2_converter.h"

namespace {

constexpr unsigned kBufferCount = 4;
// How long the streaming thread waits for a frame before it looks at its stop flag.
constexpr int kPollMilliseconds = 50;

int SeamIoctl(void* kernel, int fd, unsigned long request, void* argument) {
    return static_cast<VideoKernel*>(kernel)->Ioctl(fd, request, argument);
}

const libv4l_dev_ops kSeamOps = IoctlOnlyDevOps(SeamIoctl);

bool DeviceGone(int error) { return error == ENODEV || error == ENXIO || error == EBADF || error == ENOENT; }

}  // namespace

v4lconvert_data* CreateConverter(V4l2Device& device) {
    return v4lconvert_create_with_dev_ops(device.Fd(), &device.Kernel(), &kSeamOps);
}

int V4l2Stream::Start(FrameSink frames, LossSink lost) {
    if (Running()) return EBUSY;
    VideoKernel& kernel = m_device.Kernel();
    if (!m_device.CurrentFormat(&m_source)) return errno != 0 ? errno : EIO;
    const v4l2_pix_format& source = m_source.fmt.pix;
    // A frame must fit the 32-bit lengths that samples are measured in.
    if (source.width == 0 || source.height == 0) return EINVAL;
    if (static_cast<uint64_t>(source.width) * source.height * 3 > 0x7fffffffu) return EINVAL;

    m_target = m_source;
    m_target.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    m_target.fmt.pix.bytesperline = source.width * 3;
    m_target.fmt.pix.sizeimage = source.width * source.height * 3;
    m_target.fmt.pix.field = V4L2_FIELD_NONE;

    m_convert = CreateConverter(m_device);
    if (m_convert == nullptr) return ENOMEM;

    v4l2_requestbuffers request;
    std::memset(&request, 0, sizeof request);
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (kernel.Ioctl(m_device.Fd(), VIDIOC_REQBUFS, &request) != 0 || request.count == 0) {
        int error = request.count == 0 ? ENOMEM : errno;
        ReleaseBuffers();
        return error;
    }
    for (unsigned index = 0; index < request.count; ++index) {
        v4l2_buffer buffer;
        std::memset(&buffer, 0, sizeof buffer);
        buffer.index = index;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (kernel.Ioctl(m_device.Fd(), VIDIOC_QUERYBUF, &buffer) != 0) {
            int error = errno;
            ReleaseBuffers();
            return error;
        }
        void* start = kernel.Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_device.Fd(), buffer.m.offset);
        if (start == MAP_FAILED) {
            int error = errno;
            ReleaseBuffers();
            return error;
        }
        m_buffers.push_back({start, buffer.length});
        if (kernel.Ioctl(m_device.Fd(), VIDIOC_QBUF, &buffer) != 0) {
            int error = errno;
            ReleaseBuffers();
            return error;
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (kernel.Ioctl(m_device.Fd(), VIDIOC_STREAMON, &type) != 0) {
        int error = errno;
        ReleaseBuffers();
        return error;
    }
    m_topDown.resize(m_target.fmt.pix.sizeimage);
    m_bottomUp.resize(m_target.fmt.pix.sizeimage);
    m_frames = std::move(frames);
    m_lost = std::move(lost);
    m_stop = false;
    m_thread = std::thread(&V4l2Stream::Run, this);
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
    if (!m_buffers.empty()) {
        v4l2_requestbuffers request;
        std::memset(&request, 0, sizeof request);
        request.count = 0;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        kernel.Ioctl(m_device.Fd(), VIDIOC_REQBUFS, &request);
    }
    m_buffers.clear();
    if (m_convert != nullptr) {
        v4lconvert_destroy(m_convert);
        m_convert = nullptr;
    }
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
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (Deliver(buffer)) m_frames(m_bottomUp.data(), static_cast<LONG>(m_bottomUp.size()), seconds);
        if (kernel.Ioctl(m_device.Fd(), VIDIOC_QBUF, &buffer) != 0 && DeviceGone(errno)) break;
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
    if (converted != static_cast<int>(m_topDown.size())) return false;
    // A DirectShow RGB24 sample starts with the bottom row.
    const size_t rowBytes = m_target.fmt.pix.bytesperline;
    const size_t rows = m_target.fmt.pix.height;
    for (size_t row = 0; row < rows; ++row)
        std::memcpy(&m_bottomUp[(rows - 1 - row) * rowBytes], &m_topDown[row * rowBytes], rowBytes);
    return true;
}
