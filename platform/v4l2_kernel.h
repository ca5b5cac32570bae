// The seam between our V4L2 code and the kernel: every open, close, ioctl,
// mmap, munmap and poll on a video node goes through the active VideoKernel.
// The real one calls the system; the virtual camera and the tests' scripted
// fake answer in its place.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <string>
#include <vector>

class VideoKernel {
public:
    virtual ~VideoKernel() = default;

    // The video nodes to look at, in numeric order (/dev/video0, /dev/video1, ...).
    virtual std::vector<std::string> ListNodes() = 0;

    // Each call answers as the system call of that name does: -1 and errno on failure.
    virtual int Open(const char* path, int flags) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void* Mmap(size_t length, int protection, int flags, int fd, off_t offset) = 0;
    virtual int Munmap(void* address, size_t length) = 0;
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;

    // Whether a device control panel program can work on these nodes.
    virtual bool OffersControlPanel() const { return true; }
};

// The environment variable that selects the virtual camera: an image file or
// a folder of images (see virtual_camera.h).
constexpr const char* kVirtualCameraVariable = "MORVELIX_VIRTUAL_CAMERA";

// The kernel in use: a test's, else the virtual camera when the variable is
// set and not empty, else the system.
VideoKernel& ActiveVideoKernel();

// Puts a kernel in place of the system's (null restores it); returns the
// previous replacement.
VideoKernel* SetVideoKernelForTesting(VideoKernel* kernel);
