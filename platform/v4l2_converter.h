// libv4lconvert over our own ioctl functions instead of the system's: a
// stream's converter asks its device through the kernel seam, the format
// probe asks a device that exists only in memory.
#pragma once

#include <libv4l-plugin.h>

using ConverterIoctl = int (*)(void* context, int fd, unsigned long request, void* argument);

// Device calls for v4lconvert_create_with_dev_ops that all go to one ioctl
// function; a converter never reads or writes frames itself.
libv4l_dev_ops IoctlOnlyDevOps(ConverterIoctl ioctl);
