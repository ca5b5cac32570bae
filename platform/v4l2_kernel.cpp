#include "v4l2_kernel.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "virtual_camera.h"

namespace {

class SystemVideoKernel final : public VideoKernel {
public:
    std::vector<std::string> ListNodes() override {
        std::vector<std::pair<long, std::string>> found;
        DIR* dev = opendir("/dev");
        if (dev == nullptr) return {};
        while (dirent* entry = readdir(dev)) {
            const char* name = entry->d_name;
            if (std::strncmp(name, "video", 5) != 0 || name[5] == '\0') continue;
            char* end = nullptr;
            long number = std::strtol(name + 5, &end, 10);
            if (*end != '\0' || number < 0) continue;
            found.emplace_back(number, std::string("/dev/") + name);
        }
        closedir(dev);
        std::sort(found.begin(), found.end());
        std::vector<std::string> nodes;
        for (auto& node : found) nodes.push_back(node.second);
        return nodes;
    }

    int Open(const char* path, int flags) override { return ::open(path, flags | O_CLOEXEC); }

    int Close(int fd) override { return ::close(fd); }

    int Ioctl(int fd, unsigned long request, void* argument) override {
        int result;
        do {
            result = ::ioctl(fd, request, argument);
        } while (result == -1 && errno == EINTR);
        return result;
    }

    void* Mmap(size_t length, int protection, int flags, int fd, off_t offset) override {
        return ::mmap(nullptr, length, protection, flags, fd, offset);
    }

    int Munmap(void* address, size_t length) override { return ::munmap(address, length); }

    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }
};

std::atomic<VideoKernel*> replacement{nullptr};

}  // namespace

VideoKernel& ActiveVideoKernel() {
    if (VideoKernel* kernel = replacement.load()) return *kernel;
    // Both are made once and live as long as the process: streaming threads
    // and libv4lconvert hold on to the kernel they started with.
    static VideoKernel* chosen = [] () -> VideoKernel* {
        const char* source = std::getenv(kVirtualCameraVariable);
        if (source != nullptr && source[0] != '\0') return new VirtualCamera(source);
        return new SystemVideoKernel;
    }();
    return *chosen;
}

VideoKernel* SetVideoKernelForTesting(VideoKernel* kernel) { return replacement.exchange(kernel); }
