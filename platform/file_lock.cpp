#include "file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace {

// flock() cannot wait with a time limit: a busy lock is asked for again
// after this pause.
constexpr std::chrono::milliseconds kRetry(1);

// Whether `path` still names the open file.
bool StillNamed(int fd, const char* path)
{
    struct stat held, named;
    return fstat(fd, &held) == 0 && stat(path, &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

} // namespace

FileLock::FileLock(const char* path, std::chrono::milliseconds wait)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + wait;
    for (;;) {
        // Not blocking: a FIFO in the file's place opens at once.
        const int fd = open(path, O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0) {
            m_error = errno;
            return;
        }
        bool locked = false;
        for (;;) {
            if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
                locked = true;
                break;
            }
            if (errno == EINTR)
                continue;
            if (errno != EWOULDBLOCK || Clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(kRetry);
        }
        if (!locked) {
            m_error = errno;
            close(fd);
            return;
        }
        if (StillNamed(fd, path)) {
            m_fd = fd;
            return;
        }
        close(fd);
        if (Clock::now() >= deadline) {
            m_error = EWOULDBLOCK;
            return;
        }
    }
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        close(m_fd);
}
