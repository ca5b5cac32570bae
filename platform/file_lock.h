// An exclusive lock on a file that several processes read, change and
// replace by renaming a new file over its name.
#pragma once

#include <chrono>
#include <string>

// Holds flock()'s exclusive lock on the file that `path` names, created
// empty when missing, for as long as the object lives. The lock is on the
// file itself: a file that a holder replaced while this one waited is no
// longer the one the name names, so its lock is let go and the new file's
// is taken. Waits at most `wait` for other holders.
//
// A file that the lock made and that is still empty and still named so
// when the lock ends (or cannot be taken) is removed again: a holder that
// wrote nothing leaves nothing behind.
class FileLock {
public:
    FileLock(const char* path, std::chrono::milliseconds wait);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Held() const { return m_fd >= 0; }
    // The locked file, open for reading; -1 when not held.
    int Fd() const { return m_fd; }
    // Why the lock is not held: an errno value, EWOULDBLOCK when others
    // held it for the whole wait.
    int Error() const { return m_error; }

private:
    std::string m_path;
    int m_fd = -1;
    int m_error = 0;
    // The open file is one that this lock made.
    bool m_made = false;
};
