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
    for (int fd = -1;;) {
        // Not blocking: a FIFO in the file's place opens at once.
        if (fd < 0)
            fd = open(path, O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0) {
            m_error = errno;
            return;
        }
        const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
        const int error = locked ? 0 : errno;
        if (!StillNamed(fd, path)) {
            // Replaced meanwhile, by a holder that is done with it: the lock
            // to take is the new file's, which may well be free.
            close(fd);
            fd = -1;
        } else if (locked) {
            m_fd = fd;
            return;
        } else if (error != EWOULDBLOCK && error != EINTR) {
            m_error = error;
            close(fd);
            return;
        }
        if (Clock::now() >= deadline) {
            if (fd >= 0)
                close(fd);
            m_error = EWOULDBLOCK;
            return;
        }
        if (fd >= 0)
            std::this_thread::sleep_for(kRetry);
    }
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        close(m_fd);
}
