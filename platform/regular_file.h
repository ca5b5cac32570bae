// Opening a file that must hold data, not stand for something else.
#pragma once

// Opens a file for reading when it is a regular file (a symbolic link to
// one counts); a FIFO, a device or a folder is refused at once, without
// waiting for a writer and without the side effects that opening a device
// can have. Returns the file descriptor, which the caller closes, or -1.
int OpenRegularFile(const char* path);
