// Opening a file that must hold data, not stand for something else, and
// writing one whole.
#pragma once

#include <cstddef>

// Opens a file for reading when it is a regular file (a symbolic link to
// one counts); a FIFO, a device or a folder is refused at once, without
// waiting for a writer and without the side effects that opening a device
// can have. Returns the file descriptor, which the caller closes, or -1.
int OpenRegularFile(const char* path);

// Writes all `size` bytes, going on after an interrupted or short write;
// false, with errno set, when the file takes no more (a full disk: EIO when
// the system gives no reason).
bool WriteAll(int fd, const void* data, size_t size);
