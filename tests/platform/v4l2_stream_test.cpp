#include "v4l2_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "fake_video_kernel.h"

namespace {

// Collects what a stream delivers.
struct Received {
    std::mutex lock;
    std::vector<uint8_t> last;
    std::atomic<int> frames{0};
    std::atomic<int> losses{0};

    V4l2Stream::FrameSink Frames() {
        return [this](BYTE* data, LONG length, double) {
            std::lock_guard<std::mutex> hold(lock);
            last.assign(data, data + length);
            ++frames;
        };
    }
    V4l2Stream::LossSink Loss() {
        return [this] { ++losses; };
    }
    bool WaitFor(const std::atomic<int>& counter, int count) {
        return WaitUntil([&] { return counter >= count; });
    }
    // The limit is only a safety net against a hang: it leaves room for
    // ThreadSanitizer on a busy machine.
    static bool WaitUntil(const std::function<bool()>& done) {
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return done();
    }
};

std::unique_ptr<V4l2Device> OpenFirst(FakeVideoKernel& kernel) {
    int error = 0;
    return V4l2Device::Open(kernel, "/dev/video0", &error);
}

}  // namespace

TEST(V4l2Stream, FrameArrivesBottomUpInBlueGreenRed) {
    FakeVideoKernel kernel;
    FakeNode& node = kernel.AddCamera("Cam", V4L2_PIX_FMT_BGR24, {Discrete(2, 2)});
    // Top row 7..12, bottom row 1..6, as the device sends them (top-down BGR).
    node.frame = [](uint64_t, uint32_t, uint32_t, uint32_t) {
        return std::vector<uint8_t>{7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6};
    };
    auto device = OpenFirst(kernel);
    Received received;  // outlives the stream's thread
    V4l2Stream stream(*device);
    ASSERT_EQ(stream.Start(2, 2, received.Frames(), received.Loss()), 0);
    ASSERT_TRUE(received.WaitFor(received.frames, 1));
    stream.Stop();
    std::vector<uint8_t> expected{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(received.last, expected);
    EXPECT_EQ(kernel.MappedBuffers(), 0);
}

TEST(V4l2Stream, YuyvGreyLevelsComeOutUnchanged) {
    FakeVideoKernel kernel;
    FakeNode& node = kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(4, 2)});
    const uint8_t levels[8] = {0, 255, 16, 235, 128, 64, 200, 1};
    node.frame = [&levels](uint64_t, uint32_t, uint32_t, uint32_t) {
        std::vector<uint8_t> yuyv;
        for (uint8_t level : levels) {
            yuyv.push_back(level);
            yuyv.push_back(128);
        }
        return yuyv;
    };
    auto device = OpenFirst(kernel);
    Received received;  // outlives the stream's thread
    V4l2Stream stream(*device);
    ASSERT_EQ(stream.Start(4, 2, received.Frames(), received.Loss()), 0);
    ASSERT_TRUE(received.WaitFor(received.frames, 1));
    stream.Stop();
    ASSERT_EQ(received.last.size(), 4u * 2 * 3);
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 4; ++column) {
            // Sample row 0 is the bottom row of the picture.
            const uint8_t* pixel = &received.last[((1 - row) * 4 + column) * 3];
            uint8_t level = levels[row * 4 + column];
            EXPECT_EQ(pixel[0], level);
            EXPECT_EQ(pixel[1], level);
            EXPECT_EQ(pixel[2], level);
        }
}

// Capture cards pad their rows to an alignment of their own; libv4lconvert
// reads most formats as if their rows were packed.
TEST(V4l2Stream, EveryOfferedFormatStreamsItsPictureWithPackedOrPaddedRows) {
    constexpr uint32_t kWidth = 16, kHeight = 8;
    // Grey levels that differ from row to row and column to column, so that
    // a row read from the wrong place shows.
    std::vector<uint8_t> picture(kWidth * kHeight * 3);
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x)
            std::memset(&picture[(y * kWidth + x) * 3], static_cast<int>(16 + y * 26 + x * 3), 3);
    struct Case {
        uint32_t format;
        int tolerance;  // grey levels the format loses
    };
    const Case cases[] = {
        {V4L2_PIX_FMT_BGR24, 0},  {V4L2_PIX_FMT_RGB24, 0},  {V4L2_PIX_FMT_XRGB32, 0}, {V4L2_PIX_FMT_ABGR32, 0},
        {V4L2_PIX_FMT_RGB565, 7}, {V4L2_PIX_FMT_YUYV, 0},   {V4L2_PIX_FMT_YVYU, 0},   {V4L2_PIX_FMT_UYVY, 0},
        {V4L2_PIX_FMT_YUV420, 0}, {V4L2_PIX_FMT_YVU420, 0}, {V4L2_PIX_FMT_NV12, 0},   {V4L2_PIX_FMT_GREY, 0},
        {V4L2_PIX_FMT_Y16, 0},
        // A Bayer picture is made up again from its neighbours.
        {V4L2_PIX_FMT_SBGGR8, 40},
    };
    for (const Case& c : cases) {
        for (uint32_t padding : {0u, 8u, 52u}) {
            SCOPED_TRACE("format " + std::string(reinterpret_cast<const char*>(&c.format), 4) + ", padding " +
                         std::to_string(padding));
            FakeVideoKernel kernel;
            FakeNode& node = kernel.AddCamera("Cam", c.format, {Discrete(kWidth, kHeight)});
            node.linePadding = padding;
            node.frame = [&picture](uint64_t, uint32_t format, uint32_t width, uint32_t height) {
                return EncodeFrame(picture, format, width, height);
            };
            auto device = OpenFirst(kernel);
            Received received;  // outlives the stream's thread
            V4l2Stream stream(*device);
            ASSERT_EQ(stream.Start(kWidth, kHeight, received.Frames(), received.Loss()), 0);
            EXPECT_TRUE(received.WaitFor(received.frames, 2));
            stream.Stop();
            std::lock_guard<std::mutex> hold(received.lock);
            ASSERT_EQ(received.last.size(), picture.size());
            int worst = 0;
            for (uint32_t y = 0; y < kHeight; ++y)
                for (uint32_t x = 0; x < kWidth; ++x)
                    for (int channel = 0; channel < 3; ++channel) {
                        // Sample row 0 is the bottom row of the picture.
                        const int got = received.last[((kHeight - 1 - y) * kWidth + x) * 3 + channel];
                        worst = std::max(worst, std::abs(got - picture[(y * kWidth + x) * 3]));
                    }
            EXPECT_LE(worst, c.tolerance);
        }
    }
}

TEST(V4l2Stream, UnpluggedDeviceEndsTheStreamOnce) {
    FakeVideoKernel kernel;
    FakeNode& node = kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(8, 8)});
    node.framesBeforeVanish = 3;
    auto device = OpenFirst(kernel);
    Received received;  // outlives the stream's thread
    V4l2Stream stream(*device);
    ASSERT_EQ(stream.Start(8, 8, received.Frames(), received.Loss()), 0);
    ASSERT_TRUE(received.WaitFor(received.losses, 1));
    EXPECT_EQ(received.frames, 3);
    stream.Stop();
    EXPECT_EQ(received.losses, 1);
    EXPECT_EQ(kernel.MappedBuffers(), 0);
}

TEST(V4l2Stream, StopJoinsTheThreadAndNothingArrivesAfterIt) {
    FakeVideoKernel kernel;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(8, 8)});
    auto device = OpenFirst(kernel);
    Received received;  // outlives the stream's thread
    V4l2Stream stream(*device);
    ASSERT_EQ(stream.Start(8, 8, received.Frames(), received.Loss()), 0);
    ASSERT_TRUE(received.WaitFor(received.frames, 2));
    stream.Stop();
    EXPECT_FALSE(stream.Running());
    int frames = received.frames;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(received.frames, frames);
    EXPECT_EQ(received.losses, 0);
    // A stopped stream starts again.
    ASSERT_EQ(stream.Start(8, 8, received.Frames(), received.Loss()), 0);
    EXPECT_TRUE(received.WaitFor(received.frames, frames + 1));
}

TEST(V4l2Stream, FailedStartLeavesNothingBehind) {
    FakeVideoKernel kernel;
    FakeNode& node = kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(8, 8)});
    node.failures[VIDIOC_STREAMON] = EBUSY;
    auto device = OpenFirst(kernel);
    Received received;  // outlives the stream's thread
    V4l2Stream stream(*device);
    EXPECT_EQ(stream.Start(8, 8, received.Frames(), received.Loss()), EBUSY);
    EXPECT_FALSE(stream.Running());
    EXPECT_EQ(kernel.MappedBuffers(), 0);
}

namespace {

// The camera of the fault cases: four formats at two sizes, at 4 × 2 YUYV.
// Nothing converts H264; a program of its own may still set it.
FakeNode FaultCamera() {
    const v4l2_fract fps30 = {1, 30};
    FakeNode node;
    for (uint32_t format : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_H264})
        node.formats.push_back({format, {Discrete(4, 2, {fps30}), Discrete(8, 4, {fps30})}});
    node.pixelFormat = V4L2_PIX_FMT_YUYV;
    node.width = 4;
    node.height = 2;
    return node;
}

// Whether every pixel of a frame is grey, as every frame of the fake is.
bool Grey(const std::vector<uint8_t>& frame) {
    for (size_t i = 0; i + 2 < frame.size(); i += 3)
        if (std::abs(frame[i] - frame[i + 1]) > 2 || std::abs(frame[i + 2] - frame[i + 1]) > 2) return false;
    return !frame.empty();
}

// Motion JPEG frames of 320 × 240 as the fake makes them, then cut to a
// share of their length. At that size most of a frame is picture, which
// libjpeg makes up with grey when it is cut off.
void MotionJpegCutTo(FakeNode& node, std::function<int(uint64_t sequence)> percent) {
    node.formats = {{V4L2_PIX_FMT_MJPEG, {Discrete(320, 240, {{1, 30}})}}};
    node.pixelFormat = V4L2_PIX_FMT_MJPEG;
    node.width = 320;
    node.height = 240;
    node.tamper = [percent](uint64_t sequence, std::vector<uint8_t>& bytes, uint32_t&) {
        bytes.resize(bytes.size() * static_cast<size_t>(percent(sequence)) / 100);
    };
}

}  // namespace

// Faults of a driver, or of another program, that once went unnoticed. Each
// case runs one stream as the capture filter does (the lists read, the format
// and rate asked, then the start at that format's size) and checks that it
// ends, that the driver gets its buffers back, so that the same descriptor
// takes a new format, that the driver is not asked for frames in a loop, and
// that what went wrong is said once.
TEST(V4l2Stream, DriverFaultsEndWithTheBuffersBackAndAreSaidOnce) {
    enum class Outcome {
        Frames,   // grey frames arrive
        Refused,  // the start fails
        Lost,     // the stream ends as an unplug ends it
        Dropped,  // the driver sends frames and none arrives
    };
    struct Case {
        const char* what;
        std::function<void(FakeNode&)> script;            // before the node is opened
        std::function<void(AnotherProgram&)> meanwhile;   // between reading the format and the start
        std::function<void(FakeVideoKernel&)> streaming;  // right after the start
        Outcome outcome;
        int startError;
        std::vector<std::string> said;  // each on standard error exactly once
    };
    const auto nothing = [](auto&) {};
    const std::string busy = "/dev/video0: the camera is in use by another program\n";
    const std::string cut = "/dev/video0: frames cut short are dropped\n";
    const Case cases[] = {
        {"another program sets another format before the buffers", nothing,
         [](AnotherProgram& other) { EXPECT_TRUE(other.SetsFormat(V4L2_PIX_FMT_BGR24, 4, 2)); }, nothing,
         Outcome::Frames, 0, {}},
        {"another program sets another size before the buffers", nothing,
         [](AnotherProgram& other) { EXPECT_TRUE(other.SetsFormat(V4L2_PIX_FMT_YUYV, 8, 4)); }, nothing,
         Outcome::Refused, EBUSY, {"/dev/video0: the frame size changed from 4x2 to 8x4 before streaming began\n"}},
        {"another program sets a format nothing converts before the buffers", nothing,
         [](AnotherProgram& other) { EXPECT_TRUE(other.SetsFormat(V4L2_PIX_FMT_H264, 4, 2)); }, nothing,
         Outcome::Refused, EINVAL, {"/dev/video0: the camera sends H264 frames, which cannot be converted\n"}},
        {"another program holds the camera's buffers", nothing,
         [](AnotherProgram& other) { EXPECT_TRUE(other.HoldsBuffers()); }, nothing, Outcome::Refused, EBUSY, {busy}},
        {"streaming is refused as busy", [](FakeNode& node) { node.failures[VIDIOC_STREAMON] = EBUSY; }, nothing,
         nothing, Outcome::Refused, EBUSY, {busy}},
        {"driver sends one field per buffer",
         [](FakeNode& node) {
             node.fields = {V4L2_FIELD_ALTERNATE};
             node.field = V4L2_FIELD_ALTERNATE;
         },
         nothing, nothing, Outcome::Refused, EINVAL,
         {"/dev/video0: the camera sends alternate fields, which cannot be converted\n"}},
        {"driver ignores the index of its lists", [](FakeNode& node) { node.ignoresIndex = true; }, nothing, nothing,
         Outcome::Frames, 0,
         {"/dev/video0: the driver lists more than 256 formats; the rest are left out\n",
          "/dev/video0: the driver lists more than 4096 frame sizes; the rest are left out\n",
          "/dev/video0: the driver lists more than 4096 frame intervals; the rest are left out\n"}},
        {"QUERYBUF fails on the first buffer", [](FakeNode& node) { node.failures[VIDIOC_QUERYBUF] = EIO; }, nothing,
         nothing, Outcome::Refused, EIO, {}},
        {"mmap fails on the first buffer", [](FakeNode& node) { node.mmapError = ENOMEM; }, nothing, nothing,
         Outcome::Refused, ENOMEM, {}},
        {"QBUF fails with EIO until no buffer is left", nothing, nothing,
         [](FakeVideoKernel& kernel) { kernel.FailFromNow(0, VIDIOC_QBUF, EIO); }, Outcome::Lost, 0,
         {"/dev/video0: a buffer could not be queued again and is lost: Input/output error\n"}},
        {"DQBUF fails with EIO while poll says a frame is ready", nothing, nothing,
         [](FakeVideoKernel& kernel) { kernel.FailFromNow(0, VIDIOC_DQBUF, EIO); }, Outcome::Lost, 0,
         {"/dev/video0: the driver keeps failing to hand over frames (Input/output error); the camera is given "
          "up\n"}},
        {"frames the driver flags as damaged",
         [](FakeNode& node) {
             node.tamper = [](uint64_t, std::vector<uint8_t>&, uint32_t& flags) { flags |= V4L2_BUF_FLAG_ERROR; };
         },
         nothing, nothing, Outcome::Dropped, 0, {"/dev/video0: frames that the driver marks as damaged are dropped\n"}},
        {"empty frames",
         [](FakeNode& node) { node.tamper = [](uint64_t, std::vector<uint8_t>& bytes, uint32_t&) { bytes.clear(); }; },
         nothing, nothing, Outcome::Dropped, 0, {"/dev/video0: empty frames are dropped\n"}},
        {"motion JPEG frames cut short",
         [](FakeNode& node) {
             MotionJpegCutTo(node, [](uint64_t sequence) {
                 const int percents[] = {98, 90, 70, 60, 20};
                 return percents[sequence % 5];
             });
         },
         nothing, nothing, Outcome::Dropped, 0, {cut}},
        {"motion JPEG frames with fill after their end, every other one cut short",
         [](FakeNode& node) {
             MotionJpegCutTo(node, [](uint64_t sequence) { return sequence % 2 == 0 ? 100 : 95; });
             auto cutShort = node.tamper;
             node.tamper = [cutShort](uint64_t sequence, std::vector<uint8_t>& bytes, uint32_t& flags) {
                 cutShort(sequence, bytes, flags);
                 bytes.insert(bytes.end(), {0x00, 0x00, 0xff, 0x00, 0xff, 0xff});
             };
         },
         nothing, nothing, Outcome::Frames, 0, {cut}},
        {"raw frames cut short",
         [](FakeNode& node) {
             node.tamper = [](uint64_t, std::vector<uint8_t>& bytes, uint32_t&) { bytes.pop_back(); };
         },
         nothing, nothing, Outcome::Dropped, 0, {cut}},
        {"whole frames that cannot be converted",
         [](FakeNode& node) {
             node.pixelFormat = V4L2_PIX_FMT_MJPEG;
             node.frame = [](uint64_t, uint32_t, uint32_t, uint32_t) {
                 std::vector<uint8_t> bytes(64, 0x5a);
                 bytes.insert(bytes.end(), {0xff, 0xd9});
                 return bytes;
             };
         },
         nothing, nothing, Outcome::Dropped, 0,
         {"/dev/video0: frames that cannot be converted are dropped: the JPEG data cannot be decoded\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeVideoKernel kernel;
        FakeNode& node = kernel.AddNode(FaultCamera());
        c.script(node);
        auto device = OpenFirst(kernel);
        ASSERT_NE(device, nullptr);
        Received received;  // outlives the stream's thread
        V4l2Stream stream(*device);
        AnotherProgram other(kernel);
        testing::internal::CaptureStderr();
        EXPECT_LE(device->Capabilities().size(), kMostListedSizes);
        v4l2_format format;
        ASSERT_TRUE(device->CurrentFormat(&format));
        device->SetFrameInterval(device->FastestFrameInterval());
        c.meanwhile(other);
        const int started =
            stream.Start(format.fmt.pix.width, format.fmt.pix.height, received.Frames(), received.Loss());
        c.streaming(kernel);
        EXPECT_EQ(started, c.startError);
        switch (c.outcome) {
            case Outcome::Frames: EXPECT_TRUE(received.WaitFor(received.frames, 2)); break;
            case Outcome::Refused: break;
            case Outcome::Lost: EXPECT_TRUE(received.WaitFor(received.losses, 1)); break;
            case Outcome::Dropped:
                EXPECT_TRUE(Received::WaitUntil([&] { return kernel.FramesSent(0) >= 8; }));
                break;
        }
        stream.Stop();
        const std::string errors = testing::internal::GetCapturedStderr();

        EXPECT_EQ(stream.Running(), false);
        EXPECT_EQ(received.losses, c.outcome == Outcome::Lost ? 1 : 0);
        if (c.outcome == Outcome::Frames) {
            std::lock_guard<std::mutex> hold(received.lock);
            EXPECT_TRUE(Grey(received.last));
        } else if (c.outcome != Outcome::Lost) {
            EXPECT_EQ(received.frames, 0);
        }
        for (const std::string& line : c.said) {
            size_t at = errors.find(line);
            EXPECT_NE(at, std::string::npos) << line << "\nin:\n" << errors;
            if (at != std::string::npos) {
                EXPECT_EQ(errors.find(line, at + 1), std::string::npos) << "said twice: " << line;
            }
        }
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), static_cast<long>(c.said.size())) << errors;
        // Each frame asked for is one sent, but for the failures that end a stream.
        EXPECT_LE(kernel.Calls(0, VIDIOC_DQBUF), kernel.FramesSent(0) + V4l2Stream::kMostFailedDequeues);
        // Every buffer is back with the driver: the descriptor takes a new format.
        other.LetsGo();
        EXPECT_EQ(kernel.MappedBuffers(), 0);
        v4l2_format next;
        std::memset(&next, 0, sizeof next);
        next.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        next.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
        next.fmt.pix.width = 8;
        next.fmt.pix.height = 4;
        EXPECT_EQ(kernel.Ioctl(device->Fd(), VIDIOC_S_FMT, &next), 0) << std::strerror(errno);
    }
}
