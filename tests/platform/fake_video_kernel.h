// A scripted stand-in for the kernel's video interface: nodes with the
// formats, sizes, frames and failures a test gives them, answering the ioctl,
// mmap and poll calls of our V4L2 code as a driver would.
#pragma once

#include <linux/videodev2.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "v4l2_kernel.h"

struct FakeSize {
    uint32_t minWidth, maxWidth, stepWidth;
    uint32_t minHeight, maxHeight, stepHeight;
    uint32_t type;  // V4L2_FRMSIZE_TYPE_*
    // Frame intervals the size offers, the driver's default first; none: the
    // node answers no interval ioctl at this size.
    std::vector<v4l2_fract> intervals = {};
};
FakeSize Discrete(uint32_t width, uint32_t height);
FakeSize Discrete(uint32_t width, uint32_t height, std::vector<v4l2_fract> intervals);
FakeSize Stepwise(uint32_t minWidth, uint32_t maxWidth, uint32_t stepWidth, uint32_t minHeight, uint32_t maxHeight,
                  uint32_t stepHeight);

struct FakeFormat {
    uint32_t pixelFormat;
    std::vector<FakeSize> sizes;
};

// The bytes of frame number sequence in the node's current format, with its
// rows packed (the node pads them as it states).
using FrameMaker = std::function<std::vector<uint8_t>(uint64_t sequence, uint32_t pixelFormat, uint32_t width,
                                                      uint32_t height)>;
// Changes frame number sequence as a faulty camera or bus would, on its way
// into the buffer: bytes as the buffer will hold them (bytesused is their
// count, cut to the buffer), flags as the buffer will carry them.
using FrameTamper = std::function<void(uint64_t sequence, std::vector<uint8_t>& bytes, uint32_t& flags)>;

struct FakeNode {
    std::string path;
    std::string card = "Fake Camera";
    int openError = 0;  // errno that Open answers with; 0 opens
    uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::vector<FakeFormat> formats;
    bool listsSizes = true;  // answers VIDIOC_ENUM_FRAMESIZES
    // Answers every VIDIOC_ENUM_FMT, VIDIOC_ENUM_FRAMESIZES and
    // VIDIOC_ENUM_FRAMEINTERVALS as if asked for index 0, as some drivers do.
    bool ignoresIndex = false;
    // The current format; a test may put any size here, sane or not.
    uint32_t pixelFormat = 0, width = 0, height = 0;
    uint32_t field = V4L2_FIELD_NONE;
    // The field orders the node can send; the first is its choice when asked
    // for any or for one it cannot.
    std::vector<uint32_t> fields = {V4L2_FIELD_NONE};
    // Bytes after the pixels of each row of an uncompressed format, as
    // capture cards align their rows; the rows of chroma planes get as much
    // in proportion.
    uint32_t linePadding = 0;
    std::map<unsigned long, int> failures;  // ioctl request → errno it fails with
    int mmapError = 0;                      // errno that Mmap answers with; 0 maps
    FrameMaker frame;                       // default: a pattern of the sequence number
    FrameTamper tamper;                     // default: frames arrive whole
    int64_t framesBeforeStall = -1;         // frames per stream before it stops sending; -1 never stops
    int64_t framesBeforeVanish = -1;        // frames in all before the device goes away; -1 stays
    std::chrono::milliseconds frameInterval{5};
    // The frame interval as a UVC driver keeps it: S_FMT puts the new size's
    // default, S_PARM the nearest offered one, and it outlives every close
    // until the device is unplugged. {0, 0}: the current size's default.
    v4l2_fract interval{0, 0};
    // Time that each ioctl which is a USB round trip on a UVC camera takes
    // (TRY_FMT, S_FMT, S_PARM, STREAMON, STREAMOFF).
    std::chrono::milliseconds usbLatency{0};
};

class FakeVideoKernel final : public VideoKernel {
public:
    FakeVideoKernel();
    ~FakeVideoKernel() override;

    // Adds a capture node /dev/videoN (N = number of nodes so far) with one format.
    FakeNode& AddCamera(const std::string& card, uint32_t pixelFormat, std::vector<FakeSize> sizes);
    FakeNode& AddNode(FakeNode node);
    FakeNode& Node(size_t index) { return *m_nodes[index]; }

    // Takes a node away as if it were unplugged: every call on it fails.
    void Unplug(size_t index);
    // Makes an ioctl of a node fail from now on, also while a stream runs.
    void FailFromNow(size_t index, unsigned long request, int error);
    // Brings an unplugged node back with its default frame interval; what was
    // opened before stays dead, as the old descriptors of a real device do.
    void Replug(size_t index);

    int OpenDescriptors();
    int MappedBuffers();
    uint64_t FramesSent(size_t index);
    int Opens(size_t index);
    // The first ioctls of a node in the order they came (a reader that asks
    // in a loop is not followed further), and how many of one kind came in all.
    std::vector<unsigned long> Requests(size_t index);
    uint64_t Calls(size_t index, unsigned long request);
    v4l2_fract Interval(size_t index);                  // the frame interval the node runs at

    std::vector<std::string> ListNodes() override;
    int Open(const char* path, int flags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* argument) override;
    void* Mmap(size_t length, int protection, int flags, int fd, off_t offset) override;
    int Munmap(void* address, size_t length) override;
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;

private:
    struct Handle;
    struct State;

    int Fail(int error);
    void ReleaseBuffers(State& state);
    bool Matches(const FakeNode& node, uint32_t pixelFormat, uint32_t width, uint32_t height) const;
    const FakeSize* SizeOf(const FakeNode& node, uint32_t pixelFormat, uint32_t width, uint32_t height) const;
    v4l2_fract CurrentInterval(const FakeNode& node) const;
    int IntervalIoctl(FakeNode& node, unsigned long request, void* argument);
    void Adjust(const FakeNode& node, v4l2_pix_format* pix) const;
    void StateFormat(const FakeNode& node, v4l2_pix_format* pix) const;
    bool FrameReady(const FakeNode& node, State& state, std::chrono::steady_clock::time_point* due);

    std::mutex m_lock;
    std::vector<std::unique_ptr<FakeNode>> m_nodes;
    std::vector<std::unique_ptr<State>> m_states;
    struct Opened {
        size_t node;
        uint64_t plugging;  // the node's plugging when it was opened
    };
    std::map<int, Opened> m_handles;  // fd → what it opened
    int m_mapped = 0;
    VideoKernel* m_previous;
};

// Another program with a node open, as a video call holds a webcam.
class AnotherProgram {
public:
    explicit AnotherProgram(FakeVideoKernel& kernel, const std::string& path = "/dev/video0");
    ~AnotherProgram();
    AnotherProgram(const AnotherProgram&) = delete;
    AnotherProgram& operator=(const AnotherProgram&) = delete;

    // Sets a format; false when the driver refuses.
    bool SetsFormat(uint32_t pixelFormat, uint32_t width, uint32_t height);
    // Takes buffers: until it lets go, the driver refuses other formats,
    // rates and buffers to everyone else.
    bool HoldsBuffers();
    // Closes the node, which frees what it held.
    void LetsGo();

private:
    FakeVideoKernel& m_kernel;
    int m_fd;
};

// Pixel bytes of one frame in a format, rows packed, from RGB (the fake's
// frames are built so). Colour formats of the YUV family carry the green
// byte as luminance with neutral chroma, so grey pictures come back as they
// were.
std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& rgb, uint32_t pixelFormat, uint32_t width,
                                 uint32_t height);
// Line length and image size that a driver states for a format with packed
// rows (line length 0 for a compressed format).
uint32_t BytesPerLine(uint32_t pixelFormat, uint32_t width);
uint32_t ImageSize(uint32_t pixelFormat, uint32_t width, uint32_t height);
