// One V4L2 capture node: what it is called, which formats and frame sizes it
// offers, and its current format. Every call goes through a VideoKernel.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "v4l2_kernel.h"
#include "win32_types.h"

// A range of frame sizes of one pixel format; a discrete size has its
// minimum equal to its maximum and a step of 1.
struct DeviceCapability {
    uint32_t pixelFormat;
    uint32_t minWidth, maxWidth, stepWidth;
    uint32_t minHeight, maxHeight, stepHeight;
};

// The most entries that one reading takes from each of a driver's lists: a
// driver that ignores the index it is asked for would answer without end.
constexpr uint32_t kMostListedFormats = 256;
constexpr uint32_t kMostListedSizes = 4096;  // of all formats together
constexpr uint32_t kMostListedIntervals = 4096;

// Counts the entries that one reading of a node's lists keeps, and says on
// standard error that a list was cut, once per node and list.
class ListBudget {
public:
    // said: one bit per list whose cut has been said, shared by every
    // reading of the node.
    ListBudget(const std::string& path, unsigned* said) : m_path(path), m_said(said) {}
    // Called with each entry that a list ioctl (VIDIOC_ENUM_FMT,
    // VIDIOC_ENUM_FRAMESIZES, VIDIOC_ENUM_FRAMEINTERVALS) answered; false
    // when its list is already full and the entry is to be left out. Any
    // other request is always kept.
    bool Keep(unsigned long request);

private:
    const std::string& m_path;
    unsigned* m_said;
    uint32_t m_kept[3] = {};
};

enum class NodeKind {
    Capture,     // captures video with streaming I/O
    Other,       // a node of another kind (metadata, output, radio...)
    Unreadable,  // cannot be opened or asked
};

// Whether frames in this field order are whole pictures that can be
// converted: progressive, or both fields interleaved line by line.
bool IsWholeFrameField(uint32_t field);

// Whether a device offers a format at a size, as its lists say.
enum class Offer {
    Listed,    // the driver lists both
    Unlisted,  // the driver lists its formats or sizes, and not these
    Unknown,   // the driver cannot list them: only trying tells
};

// What the driver states is read once and then kept as we change it: a UVC
// camera answers every format or rate change with a USB round trip. Another
// program may still change the format until our buffers are allocated, so a
// stream reads it once more then (ReadFormat).
class V4l2Device {
public:
    // Opens a capture node; null when it cannot be opened (error then holds
    // the errno) or does not capture video with streaming I/O (ENODEV).
    static std::unique_ptr<V4l2Device> Open(VideoKernel& kernel, const std::string& path, int* error);

    // What a node is, and its card name when it captures.
    static NodeKind Probe(VideoKernel& kernel, const std::string& path, std::string* card);

    ~V4l2Device();
    V4l2Device(const V4l2Device&) = delete;
    V4l2Device& operator=(const V4l2Device&) = delete;

    VideoKernel& Kernel() const { return m_kernel; }
    int Fd() const { return m_fd; }
    const std::string& Path() const { return m_path; }
    const std::string& Card() const { return m_card; }

    // The formats that can be converted, each frame size or size range one entry,
    // in the driver's order.
    const std::vector<DeviceCapability>& Capabilities();
    Offer Offers(uint32_t pixelFormat, uint32_t width, uint32_t height);

    bool CurrentFormat(v4l2_format* format);
    // Asks the driver for its format again and keeps the answer: another
    // program may have changed it since we last asked.
    bool ReadFormat(v4l2_format* format);

    // For one reading of the node's lists, by us or by libv4lconvert.
    ListBudget NewListBudget() { return ListBudget(m_path, &m_listsCut); }

    // An ioctl that sets the device up (format, rate, buffers, streaming);
    // answers as the kernel does. EBUSY means that another program holds
    // the camera, which is said on standard error once per device.
    int SetUpIoctl(unsigned long request, void* argument);

    // Sets this format at exactly this size, in whole frames (progressive,
    // else interlaced); answers false, and leaves the device as it was, when
    // the driver would choose anything else. Costs no ioctl when the device
    // has the format already or does not list it.
    bool SetExactFormat(uint32_t pixelFormat, uint32_t width, uint32_t height, v4l2_format* applied);

    // Time per frame in 100 ns units; 0 when the driver does not say.
    LONGLONG FrameInterval();
    // The shortest time per frame that the current format and size offer; 0
    // when the driver does not say.
    LONGLONG FastestFrameInterval();
    // The driver picks the nearest rate it has; nothing happens when the
    // device runs at this rate already or cannot be given one.
    void SetFrameInterval(LONGLONG hundredNanoseconds);

private:
    V4l2Device(VideoKernel& kernel, int fd, std::string path, std::string card);

    int Ioctl(unsigned long request, void* argument);
    void ReadCapabilities();
    // Adds the sizes of one format; false when the driver cannot list them
    // or none of them fits in the budget.
    bool AddSizes(uint32_t pixelFormat, ListBudget& budget);
    bool ReadFrameInterval();

    VideoKernel& m_kernel;
    int m_fd;
    std::string m_path;
    std::string m_card;

    unsigned m_listsCut = 0;  // lists whose cut has been said, one bit each
    bool m_saidBusy = false;
    bool m_capabilitiesRead = false;
    std::vector<DeviceCapability> m_capabilities;
    std::vector<uint32_t> m_formats;          // convertible formats the driver lists
    std::vector<uint32_t> m_formatsWithSizes; // those whose sizes it lists too

    bool m_formatKnown = false;
    v4l2_format m_format{};

    bool m_intervalKnown = false;  // read since the format last changed
    bool m_intervalSettable = false;
    LONGLONG m_interval = 0;
};
