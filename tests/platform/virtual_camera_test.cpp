#include "virtual_camera.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "v4l2_device.h"
#include "v4l2_stream.h"

namespace {

struct TempFolder {
    std::string path;
    TempFolder() {
        char pattern[] = "/tmp/virtual-camera-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempFolder() { std::system(("rm -rf " + path).c_str()); }
};

// Writes a width × height PNG whose pixel at (x, y) is colour(x, y).
template <class Colour>
std::string WritePng(const std::string& file, int width, int height, Colour colour) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto c = colour(x, y);
            for (int k = 0; k < 3; ++k) rgb[(y * width + x) * 3 + k] = c[k];
        }
    stbi_write_png(file.c_str(), width, height, 3, rgb.data(), width * 3);
    return file;
}

// Frames as a capture stream delivers them (bottom-up BGR), read as top-down.
struct Frames {
    std::mutex lock;
    std::vector<std::vector<uint8_t>> frames;
    uint32_t width = 0, height = 0;

    V4l2Stream::FrameSink Sink() {
        return [this](BYTE* data, LONG length, double) {
            std::lock_guard<std::mutex> hold(lock);
            frames.emplace_back(data, data + length);
        };
    }
    bool WaitFor(size_t count) {
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            {
                std::lock_guard<std::mutex> hold(lock);
                if (frames.size() >= count) return true;
            }
            if (std::chrono::steady_clock::now() > limit) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    // Red, green, blue of picture pixel (x, y) of frame n.
    std::array<int, 3> Pixel(size_t n, uint32_t x, uint32_t y) {
        std::lock_guard<std::mutex> hold(lock);
        const uint8_t* p = &frames[n][((height - 1 - y) * width + x) * 3];
        return {p[2], p[1], p[0]};
    }
};

void ExpectNear(std::array<int, 3> actual, std::array<int, 3> expected, int tolerance) {
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(actual[k], expected[k], tolerance) << "channel " << k;
}

}  // namespace

TEST(VirtualCamera, OffersSeveralYuyvSizesAndAnyMjpegSize) {
    TempFolder folder;
    std::string image = WritePng(folder.path + "/one.png", 8, 8, [](int, int) { return std::array<uint8_t, 3>{0, 0, 0}; });
    VirtualCamera camera(image, 30);
    ASSERT_EQ(camera.ListNodes(), std::vector<std::string>{VirtualCamera::kNodePath});
    std::string card;
    EXPECT_EQ(V4l2Device::Probe(camera, VirtualCamera::kNodePath, &card), NodeKind::Capture);
    EXPECT_EQ(card, VirtualCamera::kCardName);
    int error = 0;
    auto device = V4l2Device::Open(camera, VirtualCamera::kNodePath, &error);
    ASSERT_NE(device, nullptr);
    std::vector<DeviceCapability> caps = device->Capabilities();
    ASSERT_EQ(caps.size(), 9u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(caps[i].pixelFormat, V4L2_PIX_FMT_YUYV);
        EXPECT_EQ(caps[i].minWidth, VirtualCamera::kSizes[i][0]);
        EXPECT_EQ(caps[i].maxHeight, VirtualCamera::kSizes[i][1]);
    }
    EXPECT_EQ(caps[8].pixelFormat, V4L2_PIX_FMT_MJPEG);
    v4l2_format applied;
    EXPECT_TRUE(device->SetExactFormat(V4L2_PIX_FMT_YUYV, 1280, 960, &applied));
    EXPECT_FALSE(device->SetExactFormat(V4L2_PIX_FMT_YUYV, 1000, 700, &applied));
    EXPECT_TRUE(device->SetExactFormat(V4L2_PIX_FMT_MJPEG, 1000, 700, &applied));
    EXPECT_FALSE(device->Kernel().OffersControlPanel());
}

TEST(VirtualCamera, ImageIsFittedIntoTheFrameOnWhiteAndComesThroughYuyvExactlyForBlackAndWhite) {
    TempFolder folder;
    // 64 × 32: left half black, right half white.
    std::string image = WritePng(folder.path + "/halves.png", 64, 32, [](int x, int) {
        uint8_t v = x < 32 ? 0 : 255;
        return std::array<uint8_t, 3>{v, v, v};
    });
    VirtualCamera camera(image, 30);
    int error = 0;
    auto device = V4l2Device::Open(camera, VirtualCamera::kNodePath, &error);
    v4l2_format applied;
    ASSERT_TRUE(device->SetExactFormat(V4L2_PIX_FMT_YUYV, 640, 480, &applied));
    Frames frames;  // outlives the stream's thread
    V4l2Stream stream(*device);
    frames.width = 640;
    frames.height = 480;
    ASSERT_EQ(stream.Start(frames.width, frames.height, frames.Sink(), [] {}), 0);
    ASSERT_TRUE(frames.WaitFor(1));
    stream.Stop();
    // Fitted to 640 × 320, with 80 white rows above and below.
    ExpectNear(frames.Pixel(0, 320, 20), {255, 255, 255}, 0);
    ExpectNear(frames.Pixel(0, 100, 240), {0, 0, 0}, 0);
    ExpectNear(frames.Pixel(0, 540, 240), {255, 255, 255}, 0);
    ExpectNear(frames.Pixel(0, 100, 470), {255, 255, 255}, 0);
}

TEST(VirtualCamera, ColoursSurviveMotionJpegAtAnyNegotiatedSize) {
    TempFolder folder;
    // Three bands: red, green, blue.
    std::string image = WritePng(folder.path + "/bands.png", 300, 210, [](int x, int) {
        return x < 100 ? std::array<uint8_t, 3>{220, 20, 20}
                       : x < 200 ? std::array<uint8_t, 3>{20, 220, 20} : std::array<uint8_t, 3>{20, 20, 220};
    });
    VirtualCamera camera(image, 30);
    int error = 0;
    auto device = V4l2Device::Open(camera, VirtualCamera::kNodePath, &error);
    v4l2_format applied;
    ASSERT_TRUE(device->SetExactFormat(V4L2_PIX_FMT_MJPEG, 1000, 700, &applied));
    Frames frames;  // outlives the stream's thread
    V4l2Stream stream(*device);
    frames.width = 1000;
    frames.height = 700;
    ASSERT_EQ(stream.Start(frames.width, frames.height, frames.Sink(), [] {}), 0);
    ASSERT_TRUE(frames.WaitFor(1));
    stream.Stop();
    ExpectNear(frames.Pixel(0, 150, 350), {220, 20, 20}, 12);
    ExpectNear(frames.Pixel(0, 500, 350), {20, 220, 20}, 12);
    ExpectNear(frames.Pixel(0, 850, 350), {20, 20, 220}, 12);
}

TEST(VirtualCamera, FolderImagesFollowInNameOrderForTheHoldCount) {
    TempFolder folder;
    auto plain = [](uint8_t level) {
        return [level](int, int) { return std::array<uint8_t, 3>{level, level, level}; };
    };
    WritePng(folder.path + "/b.png", 16, 16, plain(255));
    WritePng(folder.path + "/a.png", 16, 16, plain(0));
    WritePng(folder.path + "/c.png", 16, 16, plain(128));
    std::ofstream(folder.path + "/notes.txt") << "not an image";
    std::ofstream(folder.path + "/broken.png") << "not a png either";
    VirtualCamera camera(folder.path, 2);
    int error = 0;
    auto device = V4l2Device::Open(camera, VirtualCamera::kNodePath, &error);
    v4l2_format applied;
    ASSERT_TRUE(device->SetExactFormat(V4L2_PIX_FMT_YUYV, 320, 240, &applied));
    Frames frames;  // outlives the stream's thread
    V4l2Stream stream(*device);
    frames.width = 320;
    frames.height = 240;
    ASSERT_EQ(stream.Start(frames.width, frames.height, frames.Sink(), [] {}), 0);
    ASSERT_TRUE(frames.WaitFor(7));
    stream.Stop();
    const int expected[] = {0, 0, 255, 255, 128, 128, 0};
    for (size_t n = 0; n < 7; ++n) EXPECT_EQ(frames.Pixel(n, 160, 120)[1], expected[n]) << "frame " << n;
}

TEST(VirtualCamera, SourceWithoutImagesOpensNothing) {
    TempFolder folder;
    VirtualCamera empty(folder.path, 30);
    int error = 0;
    EXPECT_EQ(V4l2Device::Open(empty, VirtualCamera::kNodePath, &error), nullptr);
    EXPECT_EQ(error, ENOENT);
    VirtualCamera missing(folder.path + "/nothing.png", 30);
    EXPECT_EQ(V4l2Device::Probe(missing, VirtualCamera::kNodePath, nullptr), NodeKind::Unreadable);
}

TEST(VirtualCamera, HoldIsReadFromTheEnvironment) {
    TempFolder folder;
    WritePng(folder.path + "/a.png", 16, 16, [](int, int) { return std::array<uint8_t, 3>{0, 0, 0}; });
    WritePng(folder.path + "/b.png", 16, 16, [](int, int) { return std::array<uint8_t, 3>{255, 255, 255}; });
    setenv("MORVELIX_VIRTUAL_CAMERA_HOLD", "1", 1);
    VirtualCamera camera(folder.path);
    unsetenv("MORVELIX_VIRTUAL_CAMERA_HOLD");
    int error = 0;
    auto device = V4l2Device::Open(camera, VirtualCamera::kNodePath, &error);
    v4l2_format applied;
    ASSERT_TRUE(device->SetExactFormat(V4L2_PIX_FMT_YUYV, 320, 240, &applied));
    Frames frames;  // outlives the stream's thread
    V4l2Stream stream(*device);
    frames.width = 320;
    frames.height = 240;
    ASSERT_EQ(stream.Start(frames.width, frames.height, frames.Sink(), [] {}), 0);
    ASSERT_TRUE(frames.WaitFor(2));
    stream.Stop();
    EXPECT_EQ(frames.Pixel(0, 160, 120)[1], 0);
    EXPECT_EQ(frames.Pixel(1, 160, 120)[1], 255);
}
