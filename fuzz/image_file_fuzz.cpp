// Opens arbitrary bytes as an image file as the reader does, through
// LoadImageFile and the image decoder program it starts. Whatever the bytes
// make the decoder do, the loader must come back with a picture within the
// budget or with none, and leave no process and no descriptor behind.
#include <dirent.h>
#include <errno.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

#include "image_loading.h"

namespace {

size_t OpenDescriptors()
{
    size_t count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static wxInitializer toolkit;
    wxInitAllImageHandlers();
    SetImageDecoder(MORVELIX_IMAGE_DECODER);
    // The message for a file that does not load, a few thousand times a minute.
    wxLog::EnableLogging(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The file lives in memory; the reader opens it by the descriptor's name.
    const int file = memfd_create("fuzz-image", MFD_CLOEXEC);
    if (file < 0 || !WriteAll(file, data, size))
        __builtin_trap();
    const size_t descriptors = OpenDescriptors();

    wxImage image;
    const bool loaded = LoadImageFile(image, wxString::Format("/proc/self/fd/%d", file));
    if (loaded != image.IsOk())
        __builtin_trap();
    if (loaded &&
        uint64_t(image.GetWidth()) * static_cast<uint64_t>(image.GetHeight()) > kPixelBudget)
        __builtin_trap();
    // No decoder left running or unreaped, no descriptor left open.
    if (waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD)
        __builtin_trap();
    if (OpenDescriptors() != descriptors)
        __builtin_trap();
    close(file);
    return 0;
}
