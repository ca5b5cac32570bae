// A stand-in for the image decoder program that answers as the file it is
// given orders: a sound picture, or one of the ways a decoder gone wrong
// could answer. The reader must take the first and refuse the others, in
// time, and leave nothing of this program behind.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>

#include "helper_process.h"
#include "image_decoder_reply.h"
#include "regular_file.h"

namespace {

using namespace decoder_reply;

void Write(int fd, const std::string& bytes)
{
    WriteAll(fd, bytes.data(), bytes.size());
}

std::string Bytes(const void* data, size_t size)
{
    return std::string(static_cast<const char*>(data), size);
}

std::string Record(uint32_t level, const std::string& text)
{
    const uint32_t length = static_cast<uint32_t>(text.size());
    return Bytes(&level, sizeof level) + Bytes(&length, sizeof length) + text;
}

// A reply of a picture of `width` × `height` with these log records, and
// `pictureBytes` in the shared memory.
void Reply(uint32_t outcome, uint32_t width, uint32_t height, size_t pictureBytes,
           const std::string& log = std::string(), uint32_t magic = kMagic)
{
    const std::string pixels = "\x0a\x14\x1e\x28\x32\x3c"; // (10, 20, 30), (40, 50, 60)
    std::string picture(pictureBytes, '\0');
    std::memcpy(&picture[0], pixels.data(), std::min(pixels.size(), pictureBytes));
    Write(kHelperOutputFd, picture);
    const Header header = {magic, outcome, width, height, static_cast<uint32_t>(log.size())};
    Write(kHelperReplyFd, Bytes(&header, sizeof header) + log);
}

} // namespace

int main()
{
    // Started ahead of its file, it waits for it as the real one does.
    if (!TakeHelperDescriptors())
        return 5;
    std::string order;
    std::cin >> order;
    if (order == "picture") {
        const std::string decoder = "(decoder " + std::to_string(getpid()) + ")";
        Reply(kDecoded, 2, 1, 6, Record(2, "two pixels " + decoder));
    } else if (order == "status") {
        return 3;
    } else if (order == "magic") {
        Reply(kDecoded, 2, 1, 6, std::string(), kMagic + 1);
    } else if (order == "oversize") {
        Reply(kDecoded, 65536, 65536, 6);
    } else if (order == "short") {
        Reply(kDecoded, 2, 1, 5);
    } else if (order == "long") {
        Reply(kDecoded, 2, 1, 7);
    } else if (order == "log-length") {
        Reply(kDecoded, 2, 1, 6, Record(2, "cut").substr(0, 9));
    } else if (order == "fatal-log") {
        Reply(kNotDecoded, 0, 0, 0, Record(0, "the end of the reader"));
    } else if (order == "flood") {
        for (;;)
            Write(kHelperReplyFd, std::string(65536, 'x'));
    } else if (order == "sleep") {
        pause();
    } else if (order == "dark") {
        // A picture the scanner lays lines over, in which it finds nothing.
        Reply(kDecoded, 64, 48, 64 * 48 * 3);
    } else if (order == "wait") {
        // Waits until the test writes a byte to the FIFO the file names,
        // then answers with the two pixels; its pid goes to standard error.
        std::string go;
        std::cin >> go;
        std::cerr << "rogue decoder " << getpid() << " waits\n";
        const int fd = open(go.c_str(), O_RDONLY);
        char byte = 0;
        if (fd < 0 || read(fd, &byte, 1) != 1)
            return 6;
        close(fd);
        Reply(kDecoded, 2, 1, 6, Record(2, "two pixels, at last"));
    } else if (order == "orphan") {
        // A child of its own keeps the reply's pipe open, and runs on.
        const pid_t child = fork();
        if (child == 0) {
            pause();
            return 0;
        }
        Reply(kDecoded, 2, 1, 6, Record(3, "grandchild " + std::to_string(child)));
    }
    // "silent": no reply at all.
    return 0;
}
