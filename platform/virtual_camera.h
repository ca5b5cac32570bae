// The virtual camera: a video node of our own, served through the kernel seam
// in place of the system's, for tests and for trying the program without a
// camera. It shows one image file, or the images of a folder in turn, at
// whatever size the capture code negotiates; the frames are encoded as YUYV
// or motion JPEG and go through libv4lconvert like those of a real camera.
//
// MORVELIX_VIRTUAL_CAMERA=<image file or folder> selects it; then it is the
// only video input device. MORVELIX_VIRTUAL_CAMERA_HOLD=<n> shows each image
// for n frames (default 30, one second). Frames come at 30 per second, or at
// MORVELIX_VIRTUAL_CAMERA_FPS=<1 to 1000> per second; frame k of a stream
// shows image (k / n) modulo the number of images, so the sequence is the
// same on every run.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "v4l2_kernel.h"

class VirtualCamera final : public VideoKernel {
public:
    static constexpr const char* kNodePath = "/dev/morvelix-virtual-camera";
    static constexpr const char* kCardName = "Morvelix Virtual Camera";
    static constexpr uint32_t kFramesPerSecond = 30; // unless the environment says otherwise
    static constexpr uint32_t kMaxFramesPerSecond = 1000;

    // The sizes offered in YUYV; motion JPEG takes any size within kMaxWidth × kMaxHeight.
    static constexpr uint32_t kSizes[][2] = {{320, 240},   {640, 480},   {800, 600},   {1024, 768},
                                             {1280, 720},  {1280, 960},  {1600, 1200}, {1920, 1080}};
    static constexpr uint32_t kMinWidth = 16, kMinHeight = 16, kMaxWidth = 2560, kMaxHeight = 1920;

    // Reads MORVELIX_VIRTUAL_CAMERA_HOLD for the frames per image and
    // MORVELIX_VIRTUAL_CAMERA_FPS for the frame rate.
    explicit VirtualCamera(std::string source);
    VirtualCamera(std::string source, uint32_t framesPerImage, uint32_t framesPerSecond = kFramesPerSecond);
    ~VirtualCamera() override;

    std::vector<std::string> ListNodes() override;
    int Open(const char* path, int flags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* argument) override;
    void* Mmap(size_t length, int protection, int flags, int fd, off_t offset) override;
    int Munmap(void* address, size_t length) override;
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;
    bool OffersControlPanel() const override { return false; }

private:
    struct Buffer {
        std::vector<uint8_t> memory;
        uint32_t bytesUsed = 0;
        uint32_t sequence = 0;
        bool queued = false;
    };
    struct Handle {
        uint32_t pixelFormat;
        uint32_t width;
        uint32_t height;
        std::vector<Buffer> buffers;
        std::vector<uint32_t> queue;  // indices in the order they were queued
        bool streaming = false;
        uint64_t sequence = 0;
        std::chrono::steady_clock::time_point started;
    };
    using FrameKey = std::tuple<uint32_t, uint32_t, uint32_t, size_t>;  // format, width, height, image

    bool LoadImages();
    int Fail(int error);
    int FormatIoctl(Handle& handle, unsigned long request, void* argument);
    int BufferIoctl(Handle& handle, unsigned long request, void* argument);
    void Adjust(uint32_t* pixelFormat, uint32_t* width, uint32_t* height) const;
    uint32_t ImageBytes(uint32_t pixelFormat, uint32_t width, uint32_t height) const;
    std::chrono::steady_clock::time_point DueTime(const Handle& handle) const;
    const std::vector<uint8_t>& Frame(uint32_t pixelFormat, uint32_t width, uint32_t height, uint64_t sequence);

    std::string m_source;
    uint32_t m_framesPerImage;
    uint32_t m_framesPerSecond;
    std::mutex m_lock;
    bool m_loaded = false;
    std::vector<std::string> m_images;
    std::map<int, Handle> m_handles;
    std::map<FrameKey, std::vector<uint8_t>> m_frames;  // encoded frames, within a memory budget
    size_t m_frameBytes = 0;
};
