#include "file_lock.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
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

// Opens the file, not blocking (a FIFO in the file's place opens at once);
// `made` tells whether this call created it.
int OpenOrMake(const char* path, bool* made)
{
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    *made = false;
    int fd = open(path, kFlags);
    if (fd < 0 && errno == ENOENT) {
        fd = open(path, kFlags | O_CREAT, 0666);
        *made = fd >= 0;
    }
    return fd;
}

// Removes the file that `fd` holds when it is empty and `path` (through
// any links) still names it. Only a lock holder calls this, so no other
// reader is writing it meanwhile.
void RemoveIfEmpty(int fd, const char* path)
{
    struct stat held, named;
    if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode) || held.st_size != 0)
        return;
    // The name that the links lead to: the link itself stays.
    const std::unique_ptr<char, decltype(&free)> real(realpath(path, nullptr), &free);
    if (real && lstat(real.get(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino)
        unlink(real.get());
}

} // namespace

FileLock::FileLock(const char* path, std::chrono::milliseconds wait) : m_path(path)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + wait;
    bool made = false;
    for (int fd = -1;;) {
        if (fd < 0)
            fd = OpenOrMake(path, &made);
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
            m_made = made;
            return;
        } else if (error != EWOULDBLOCK && error != EINTR) {
            // Locks that the file system does not offer (ENOLCK): no holder
            // uses the file this call made.
            m_error = error;
            if (made)
                RemoveIfEmpty(fd, path);
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
    if (m_fd < 0)
        return;
    if (m_made)
        RemoveIfEmpty(m_fd, m_path.c_str());
    close(m_fd);
}
