#include "v4l2_converter.h"

#include <cerrno>

namespace {

ssize_t NoRead(void*, int, void*, size_t) {
    errno = EINVAL;
    return -1;
}

ssize_t NoWrite(void*, int, const void*, size_t) {
    errno = EINVAL;
    return -1;
}

}  // namespace

libv4l_dev_ops IoctlOnlyDevOps(ConverterIoctl ioctl) {
    return {nullptr, nullptr, ioctl, NoRead, NoWrite, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
}
