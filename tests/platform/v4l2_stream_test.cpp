#include "v4l2_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
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
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (counter < count && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return counter >= count;
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

TEST(V4l2Stream, EveryOfferedFormatStreams) {
    // Offered formats are those libv4lconvert reads: each must give frames.
    const uint32_t formats[] = {V4L2_PIX_FMT_BGR24,  V4L2_PIX_FMT_RGB24,  V4L2_PIX_FMT_RGB565, V4L2_PIX_FMT_YUYV,
                                V4L2_PIX_FMT_YVYU,   V4L2_PIX_FMT_UYVY,   V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420,
                                V4L2_PIX_FMT_NV12,   V4L2_PIX_FMT_GREY};
    for (uint32_t format : formats) {
        FakeVideoKernel kernel;
        kernel.AddCamera("Cam", format, {Discrete(16, 8)});
        auto device = OpenFirst(kernel);
        Received received;
        V4l2Stream stream(*device);
        ASSERT_EQ(stream.Start(16, 8, received.Frames(), received.Loss()), 0);
        EXPECT_TRUE(received.WaitFor(received.frames, 2)) << "format " << std::hex << format;
        stream.Stop();
        EXPECT_EQ(received.last.size(), 16u * 8 * 3);
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
