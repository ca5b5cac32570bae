#include "virtual_camera.h"

#include <linux/videodev2.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "virtual_camera_images.h"

namespace {

constexpr uint32_t kMaxBuffers = 8;
// Each buffer is mapped at its own offset, as a driver hands them out.
constexpr off_t kBufferOffsetStep = 1 << 24;
// Encoded frames kept for reuse; beyond this they are made again when shown.
constexpr size_t kFrameBudgetBytes = 64u << 20;

// A whole number from 1 to limit in the environment variable, else fallback.
uint32_t NumberFromEnvironment(const char* name, uint32_t fallback, long limit) {
    const char* text = std::getenv(name);
    if (text == nullptr || text[0] == '\0') return fallback;
    char* end = nullptr;
    long number = std::strtol(text, &end, 10);
    return *end == '\0' && number > 0 && number <= limit ? static_cast<uint32_t>(number) : fallback;
}

void CopyText(uint8_t* field, size_t capacity, const char* text) {
    std::strncpy(reinterpret_cast<char*>(field), text, capacity - 1);
    field[capacity - 1] = 0;
}

}  // namespace

VirtualCamera::VirtualCamera(std::string source)
    : VirtualCamera(std::move(source), NumberFromEnvironment("MORVELIX_VIRTUAL_CAMERA_HOLD", 30, 1L << 30),
                    NumberFromEnvironment("MORVELIX_VIRTUAL_CAMERA_FPS", kFramesPerSecond, kMaxFramesPerSecond)) {}

VirtualCamera::VirtualCamera(std::string source, uint32_t framesPerImage, uint32_t framesPerSecond)
    : m_source(std::move(source)),
      m_framesPerImage(framesPerImage == 0 ? 1 : framesPerImage),
      m_framesPerSecond(framesPerSecond == 0 ? 1 : std::min(framesPerSecond, kMaxFramesPerSecond)) {}

VirtualCamera::~VirtualCamera() {
    for (auto& entry : m_handles) ::close(entry.first);
}

std::vector<std::string> VirtualCamera::ListNodes() { return {kNodePath}; }

bool VirtualCamera::LoadImages() {
    if (!m_loaded) {
        m_images = ListSourceImages(m_source);
        m_loaded = true;
        if (m_images.empty())
            std::fprintf(stderr, "virtual camera: no readable image in %s\n", m_source.c_str());
    }
    return !m_images.empty();
}

int VirtualCamera::Fail(int error) {
    errno = error;
    return -1;
}

int VirtualCamera::Open(const char* path, int) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (path == nullptr || std::strcmp(path, kNodePath) != 0 || !LoadImages()) return Fail(ENOENT);
    // A real descriptor, so that the number is never one the process uses for something else.
    int fd = eventfd(0, EFD_CLOEXEC);
    if (fd < 0) return -1;
    Handle handle;
    handle.pixelFormat = V4L2_PIX_FMT_YUYV;
    handle.width = 640;
    handle.height = 480;
    m_handles[fd] = std::move(handle);
    return fd;
}

int VirtualCamera::Close(int fd) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_handles.erase(fd) == 0) return Fail(EBADF);
    return ::close(fd);
}

void VirtualCamera::Adjust(uint32_t* pixelFormat, uint32_t* width, uint32_t* height) const {
    if (*pixelFormat == V4L2_PIX_FMT_MJPEG) {
        *width = *width < kMinWidth ? kMinWidth : *width > kMaxWidth ? kMaxWidth : *width;
        *height = *height < kMinHeight ? kMinHeight : *height > kMaxHeight ? kMaxHeight : *height;
        return;
    }
    // YUYV comes in the listed sizes only: take the nearest, as a driver does.
    *pixelFormat = V4L2_PIX_FMT_YUYV;
    uint64_t best = UINT64_MAX;
    uint32_t bestWidth = kSizes[0][0], bestHeight = kSizes[0][1];
    for (const auto& size : kSizes) {
        int64_t dw = static_cast<int64_t>(size[0]) - *width, dh = static_cast<int64_t>(size[1]) - *height;
        uint64_t distance = static_cast<uint64_t>(dw * dw + dh * dh);
        if (distance < best) {
            best = distance;
            bestWidth = size[0];
            bestHeight = size[1];
        }
    }
    *width = bestWidth;
    *height = bestHeight;
}

uint32_t VirtualCamera::ImageBytes(uint32_t pixelFormat, uint32_t width, uint32_t height) const {
    // A JPEG frame of ours stays well below three bytes a pixel.
    return pixelFormat == V4L2_PIX_FMT_MJPEG ? width * height * 3 + 4096 : width * height * 2;
}

int VirtualCamera::Ioctl(int fd, unsigned long request, void* argument) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto found = m_handles.find(fd);
    if (found == m_handles.end()) return Fail(EBADF);
    if (argument == nullptr) return Fail(EFAULT);
    Handle& handle = found->second;
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* capability = static_cast<v4l2_capability*>(argument);
            std::memset(capability, 0, sizeof *capability);
            CopyText(capability->driver, sizeof capability->driver, "morvelix");
            CopyText(capability->card, sizeof capability->card, kCardName);
            CopyText(capability->bus_info, sizeof capability->bus_info, "virtual:0");
            capability->version = 0x010000;
            capability->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            capability->capabilities = capability->device_caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* description = static_cast<v4l2_fmtdesc*>(argument);
            if (description->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || description->index > 1) return Fail(EINVAL);
            uint32_t index = description->index;
            std::memset(description, 0, sizeof *description);
            description->index = index;
            description->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            description->pixelformat = index == 0 ? V4L2_PIX_FMT_YUYV : V4L2_PIX_FMT_MJPEG;
            description->flags = index == 0 ? 0 : V4L2_FMT_FLAG_COMPRESSED;
            CopyText(description->description, sizeof description->description, index == 0 ? "YUYV 4:2:2" : "Motion-JPEG");
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* size = static_cast<v4l2_frmsizeenum*>(argument);
            if (size->pixel_format == V4L2_PIX_FMT_YUYV && size->index < sizeof kSizes / sizeof kSizes[0]) {
                size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                size->discrete.width = kSizes[size->index][0];
                size->discrete.height = kSizes[size->index][1];
                return 0;
            }
            if (size->pixel_format == V4L2_PIX_FMT_MJPEG && size->index == 0) {
                size->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                size->stepwise = {kMinWidth, kMaxWidth, 1, kMinHeight, kMaxHeight, 1};
                return 0;
            }
            return Fail(EINVAL);
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto* interval = static_cast<v4l2_frmivalenum*>(argument);
            if (interval->index != 0) return Fail(EINVAL);
            interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            interval->discrete = {1, m_framesPerSecond};
            return 0;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT:
        case VIDIOC_TRY_FMT:
            return FormatIoctl(handle, request, argument);
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM: {
            auto* parameters = static_cast<v4l2_streamparm*>(argument);
            if (parameters->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return Fail(EINVAL);
            std::memset(&parameters->parm, 0, sizeof parameters->parm);
            parameters->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
            parameters->parm.capture.timeperframe = {1, m_framesPerSecond};
            return 0;
        }
        case VIDIOC_REQBUFS:
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF:
        case VIDIOC_DQBUF:
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF:
            return BufferIoctl(handle, request, argument);
        case VIDIOC_QUERYCTRL:
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL:
        case VIDIOC_QUERYMENU:
        case VIDIOC_G_EXT_CTRLS:
        case VIDIOC_S_EXT_CTRLS:
        case VIDIOC_TRY_EXT_CTRLS:
        case VIDIOC_QUERY_EXT_CTRL:
            return Fail(EINVAL);  // no controls
        default:
            return Fail(ENOTTY);
    }
}

int VirtualCamera::FormatIoctl(Handle& handle, unsigned long request, void* argument) {
    auto* format = static_cast<v4l2_format*>(argument);
    if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return Fail(EINVAL);
    uint32_t pixelFormat = handle.pixelFormat, width = handle.width, height = handle.height;
    if (request != VIDIOC_G_FMT) {
        if (request == VIDIOC_S_FMT && !handle.buffers.empty()) return Fail(EBUSY);
        pixelFormat = format->fmt.pix.pixelformat;
        width = format->fmt.pix.width;
        height = format->fmt.pix.height;
        Adjust(&pixelFormat, &width, &height);
    }
    std::memset(&format->fmt, 0, sizeof format->fmt);
    v4l2_pix_format& pix = format->fmt.pix;
    pix.pixelformat = pixelFormat;
    pix.width = width;
    pix.height = height;
    pix.field = V4L2_FIELD_NONE;
    pix.bytesperline = pixelFormat == V4L2_PIX_FMT_MJPEG ? 0 : width * 2;
    pix.sizeimage = ImageBytes(pixelFormat, width, height);
    pix.colorspace = pixelFormat == V4L2_PIX_FMT_MJPEG ? V4L2_COLORSPACE_JPEG : V4L2_COLORSPACE_SRGB;
    if (request == VIDIOC_S_FMT) {
        handle.pixelFormat = pixelFormat;
        handle.width = width;
        handle.height = height;
        // The stream's first picture is made now, as a camera has its
        // picture at hand when streaming starts: scaling and encoding it
        // can take a slow machine longer than a capture program waits for
        // a first frame.
        Frame(pixelFormat, width, height, 0);
    }
    return 0;
}

int VirtualCamera::BufferIoctl(Handle& handle, unsigned long request, void* argument) {
    if (request == VIDIOC_STREAMON || request == VIDIOC_STREAMOFF) {
        if (*static_cast<int*>(argument) != V4L2_BUF_TYPE_VIDEO_CAPTURE) return Fail(EINVAL);
        if (request == VIDIOC_STREAMON) {
            if (handle.buffers.empty()) return Fail(EINVAL);
            if (!handle.streaming) {
                handle.streaming = true;
                handle.sequence = 0;
                handle.started = std::chrono::steady_clock::now();
            }
        } else {
            handle.streaming = false;
            handle.queue.clear();
            for (Buffer& buffer : handle.buffers) buffer.queued = false;
        }
        return 0;
    }
    if (request == VIDIOC_REQBUFS) {
        auto* buffers = static_cast<v4l2_requestbuffers*>(argument);
        if (buffers->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffers->memory != V4L2_MEMORY_MMAP) return Fail(EINVAL);
        if (handle.streaming) return Fail(EBUSY);
        handle.queue.clear();
        handle.buffers.clear();
        uint32_t count = buffers->count > kMaxBuffers ? kMaxBuffers : buffers->count;
        for (uint32_t i = 0; i < count; ++i) {
            Buffer buffer;
            buffer.memory.resize(ImageBytes(handle.pixelFormat, handle.width, handle.height));
            handle.buffers.push_back(std::move(buffer));
        }
        buffers->count = count;
        return 0;
    }
    auto* buffer = static_cast<v4l2_buffer*>(argument);
    if (buffer->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffer->memory != V4L2_MEMORY_MMAP) return Fail(EINVAL);
    if (request == VIDIOC_DQBUF) {
        if (!handle.streaming || handle.queue.empty() || std::chrono::steady_clock::now() < DueTime(handle))
            return Fail(EAGAIN);
        uint32_t index = handle.queue.front();
        handle.queue.erase(handle.queue.begin());
        Buffer& filled = handle.buffers[index];
        const std::vector<uint8_t>& frame = Frame(handle.pixelFormat, handle.width, handle.height, handle.sequence);
        size_t bytes = frame.size() < filled.memory.size() ? frame.size() : filled.memory.size();
        std::memcpy(filled.memory.data(), frame.data(), bytes);
        filled.bytesUsed = static_cast<uint32_t>(bytes);
        filled.sequence = static_cast<uint32_t>(handle.sequence++);
        filled.queued = false;
        buffer->index = index;
        buffer->bytesused = filled.bytesUsed;
        buffer->sequence = filled.sequence;
        buffer->flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
        buffer->field = V4L2_FIELD_NONE;
        buffer->length = static_cast<uint32_t>(filled.memory.size());
        buffer->m.offset = static_cast<uint32_t>(index * kBufferOffsetStep);
        return 0;
    }
    if (buffer->index >= handle.buffers.size()) return Fail(EINVAL);
    Buffer& target = handle.buffers[buffer->index];
    if (request == VIDIOC_QBUF) {
        if (target.queued) return Fail(EINVAL);
        target.queued = true;
        handle.queue.push_back(buffer->index);
    }
    buffer->length = static_cast<uint32_t>(target.memory.size());
    buffer->m.offset = static_cast<uint32_t>(buffer->index * kBufferOffsetStep);
    buffer->flags = V4L2_BUF_FLAG_MAPPED | (target.queued ? V4L2_BUF_FLAG_QUEUED : 0);
    buffer->bytesused = target.bytesUsed;
    return 0;
}

std::chrono::steady_clock::time_point VirtualCamera::DueTime(const Handle& handle) const {
    // A consumer that falls behind gets the next frame at once: no frame is skipped.
    return handle.started + std::chrono::microseconds(handle.sequence * 1000000 / m_framesPerSecond);
}

const std::vector<uint8_t>& VirtualCamera::Frame(uint32_t pixelFormat, uint32_t width, uint32_t height,
                                                 uint64_t sequence) {
    size_t image = static_cast<size_t>((sequence / m_framesPerImage) % m_images.size());
    FrameKey key{pixelFormat, width, height, image};
    auto cached = m_frames.find(key);
    if (cached != m_frames.end()) return cached->second;

    std::vector<uint8_t> rgb;
    if (!RenderImage(m_images[image], width, height, &rgb)) rgb = BlankFrame(width, height);
    std::vector<uint8_t> encoded =
        pixelFormat == V4L2_PIX_FMT_MJPEG ? EncodeJpeg(rgb, width, height) : EncodeYuyv(rgb, width, height);
    if (m_frameBytes + encoded.size() > kFrameBudgetBytes) {
        m_frames.clear();
        m_frameBytes = 0;
    }
    m_frameBytes += encoded.size();
    return m_frames[key] = std::move(encoded);
}

void* VirtualCamera::Mmap(size_t length, int, int, int fd, off_t offset) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto found = m_handles.find(fd);
    if (found == m_handles.end()) {
        errno = EBADF;
        return MAP_FAILED;
    }
    size_t index = static_cast<size_t>(offset / kBufferOffsetStep);
    std::vector<Buffer>& buffers = found->second.buffers;
    if (offset % kBufferOffsetStep != 0 || index >= buffers.size() || length > buffers[index].memory.size()) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    return buffers[index].memory.data();
}

int VirtualCamera::Munmap(void*, size_t) { return 0; }  // the memory belongs to the buffer

int VirtualCamera::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    if (count != 1) return Fail(EINVAL);
    std::chrono::steady_clock::time_point due;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        auto found = m_handles.find(fds[0].fd);
        if (found == m_handles.end()) {
            fds[0].revents = POLLNVAL;
            return 1;
        }
        const Handle& handle = found->second;
        fds[0].revents = 0;
        if (!handle.streaming || handle.queue.empty()) {
            due = std::chrono::steady_clock::time_point::max();
        } else {
            due = DueTime(handle);
        }
    }
    // No caller of ours waits without a limit; a negative one is taken as a second.
    auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 1000 : timeoutMs);
    if (due > limit) {
        std::this_thread::sleep_until(limit);
        return 0;
    }
    std::this_thread::sleep_until(due);
    fds[0].revents = POLLIN;
    return 1;
}
