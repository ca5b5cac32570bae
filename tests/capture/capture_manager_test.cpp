#include "capture_manager.h"

#include <gtest/gtest.h>

#include <stb_image.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "capture_test_support.h"
#include "virtual_camera.h"

namespace {

std::u16string Name(int slot) { return std::u16string(CaptureManager::deviceNames[slot]); }

std::u16string Repeated(char16_t unit, size_t count) { return std::u16string(count, unit); }

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

TEST(CaptureManagerListing, NoDeviceListsNothingAndOpeningDeviceZeroExplainsWhy) {
    FakeVideoKernel kernel;
    StdoutLines out;
    CaptureManager manager;
    EXPECT_EQ(CaptureManager::EnumerateDevices(), 0);
    EXPECT_FALSE(manager.OpenDevice(0, 640, 480, 3));
    std::string lines = out.Take();
    EXPECT_NE(lines.find("SETUP: 0 Device(s) found\n\n"), std::string::npos);
    EXPECT_NE(lines.find("SETUP: device[0] not found - you have 0 devices available\n"
                         "SETUP: this means that the last device you can use is device[-1] \n"),
              std::string::npos);
    EXPECT_EQ(manager.deviceCount, 0);
}

TEST(CaptureManagerListing, OneDeviceIsNamedInSlotZero) {
    FakeVideoKernel kernel;
    kernel.AddCamera("USB Camera", V4L2_PIX_FMT_YUYV, {Discrete(640, 480)});
    StdoutLines out;
    CaptureManager manager;
    EXPECT_EQ(CaptureManager::EnumerateDevices(), 1);
    std::string lines = out.Take();
    EXPECT_NE(lines.find("\nCAPTURE SPY MODE!\n\nSETUP: Looking For Capture Devices\nSETUP: 0) USB Camera \n"
                         "SETUP: 1 Device(s) found\n\n"),
              std::string::npos);
    EXPECT_EQ(Name(0), u"USB Camera");
    // Listing does not count for opening: that is counted at the open attempt.
    EXPECT_EQ(manager.deviceCount, 0);
}

TEST(CaptureManagerListing, TwentyFiveDevicesAreCountedButOnlyTwentyNamed) {
    FakeVideoKernel kernel;
    for (int i = 0; i < 25; ++i) kernel.AddCamera("Cam " + std::to_string(i), V4L2_PIX_FMT_YUYV, {Discrete(64, 48)});
    std::memset(CaptureManager::deviceNames, 0, sizeof CaptureManager::deviceNames);
    StdoutLines out;
    CaptureManager manager;
    EXPECT_EQ(CaptureManager::EnumerateDevices(), 25);
    std::string lines = out.Take();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(Name(i), Wide("Cam " + std::to_string(i)));
    EXPECT_NE(lines.find("SETUP: 24) Cam 24 \n"), std::string::npos);
    EXPECT_NE(lines.find("SETUP: 25 Device(s) found\n\n"), std::string::npos);
    // Indices past the slots are refused without a word.
    StdoutLines quiet;
    EXPECT_FALSE(manager.OpenDevice(20, 64, 48, 3));
    EXPECT_EQ(quiet.Take(), "");
}

TEST(CaptureManagerListing, NamesAreCutAndDevicesWithoutPropertiesSkipped) {
    CaptureManager manager;
    for (int slot = 0; slot < 4; ++slot) std::memcpy(CaptureManager::deviceNames[slot], u"old", sizeof(u"old"));
    ListedDevices devices({
        {true, u"", Repeated(u'x', 300)},     // cut to 253 units
        {false, u"", u"Hidden"},              // bag does not open: no slot
        {true, u"Only a description", u""},   // the description stands in
        {true, u"", u""},                     // counted, slot keeps what it held
        {true, u"A description", u"Friendly"},  // the friendly name wins
    });
    StdoutLines out;
    EXPECT_EQ(CaptureManager::EnumerateDevices(), 4);
    std::string lines = out.Take();
    EXPECT_EQ(Name(0), Repeated(u'x', 253));
    EXPECT_EQ(CaptureManager::deviceNames[0][253], 0);
    EXPECT_NE(lines.find("SETUP: 0) " + std::string(253, 'x') + " \n"), std::string::npos);
    EXPECT_EQ(Name(1), u"Only a description");
    EXPECT_EQ(Name(2), u"old");
    EXPECT_EQ(Name(3), u"Friendly");
    EXPECT_EQ(Count(lines, "SETUP: 2) "), 0);
    EXPECT_EQ(Count(lines, "SETUP: 3) Friendly \n"), 1);
    EXPECT_EQ(CaptureManager::CountDevices(), 4);
}

TEST(CaptureManagerListing, UnreadableDeviceTakesNoIndexInListingCountingOrBinding) {
    FakeVideoKernel kernel;
    kernel.AddCamera("First", V4L2_PIX_FMT_BGR24, {Discrete(4, 4)});
    FakeNode locked;
    locked.openError = EACCES;
    kernel.AddNode(locked);
    kernel.AddCamera("Third", V4L2_PIX_FMT_BGR24, {Discrete(4, 4)});
    CaptureManager manager;
    EXPECT_EQ(CaptureManager::EnumerateDevices(), 2);
    EXPECT_EQ(Name(1), u"Third");
    EXPECT_EQ(CaptureManager::CountDevices(), 2);
    IBaseFilter* filter = nullptr;
    WCHAR name[255] = {};
    char narrow[255] = {};
    ASSERT_EQ(CaptureManager::BindDeviceFilter(&filter, 1, name, narrow), S_OK);
    EXPECT_EQ(std::string(narrow), "Third");
    filter->Release();
    EXPECT_EQ(CaptureManager::BindDeviceFilter(&filter, 2, name, narrow), VFW_E_NOT_FOUND);
}

TEST(CaptureManagerLifecycle, ComponentLibraryIsReleasedWithTheLastUser) {
    FakeVideoKernel kernel;
    {
        CaptureManager manager;
        EXPECT_EQ(CaptureManager::comUseCount, 1);
        CaptureManager::EnumerateDevices();
        EXPECT_EQ(CaptureManager::comUseCount, 1);
    }
    EXPECT_EQ(CaptureManager::comUseCount, 0);
    // The thread is no longer initialised: the next initialisation is the first.
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
}

TEST(CaptureManagerLifecycle, FrameModeIsFixedByTheFirstChoiceOrSetUp) {
    FakeVideoKernel kernel;
    CaptureManager manager;
    EXPECT_TRUE(manager.callbackMode);
    StdoutLines out;
    manager.setUseCallback(false);
    manager.setUseCallback(true);
    EXPECT_FALSE(manager.callbackMode);
    EXPECT_EQ(out.Take(), "ERROR: setUseCallback can only be called before setup\n");

    CaptureManager other;
    other.OpenDevice(0, 640, 480, 3);  // no device, but the attempt fixes nothing yet
    other.setUseCallback(false);
    EXPECT_FALSE(other.callbackMode);
}

TEST(CaptureManagerLifecycle, NothingAnswersBeforeADeviceIsOpen) {
    FakeVideoKernel kernel;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_BGR24, {Discrete(4, 4)});
    CaptureManager manager;
    BYTE frame[48];
    StdoutLines out;
    for (int id : {-1, 0, 19, 20}) {
        EXPECT_FALSE(manager.HasNewFrame(id));
        EXPECT_FALSE(manager.GetPixels(id, frame));
        manager.ShowDeviceSettings(id);
        manager.CloseDevice(id);
    }
    EXPECT_FALSE(CaptureManager::settingsWindowOpen);
    EXPECT_EQ(out.Take(), "");
}

TEST(FlipAndSwapPixels, TurnsBottomUpBlueGreenRedIntoTopDownRedGreenBlue) {
    const BYTE source[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    BYTE target[12] = {};
    FlipAndSwapPixels(target, 2, source, 2);
    const BYTE expected[] = {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4};
    EXPECT_EQ(std::memcmp(target, expected, sizeof expected), 0);

    // Three rows of one pixel; nothing at all for an empty size.
    const BYTE column[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    BYTE flipped[9] = {};
    FlipAndSwapPixels(flipped, 3, column, 1);
    const BYTE columnExpected[] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(std::memcmp(flipped, columnExpected, sizeof columnExpected), 0);
    BYTE untouched[3] = {42, 42, 42};
    FlipAndSwapPixels(untouched, 0, column, 1);
    FlipAndSwapPixels(untouched, 1, column, -1);
    EXPECT_EQ(untouched[0], 42);
}

TEST(CaptureManagerFrames, SmallFrameComesOutTopDownRedGreenBlue) {
    FakeVideoKernel kernel;
    FakeNode& node = kernel.AddCamera("Cam", V4L2_PIX_FMT_BGR24, {Discrete(2, 2)});
    // The device sends its top row 7..12 first: the grabber's sample then
    // holds 1..6 and 7..12 in memory order, bottom-up.
    node.frame = [](uint64_t, uint32_t, uint32_t, uint32_t) {
        return std::vector<uint8_t>{7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6};
    };
    CaptureManager manager;
    manager.setUseCallback(false);
    ASSERT_TRUE(manager.OpenDevice(0, 2, 2, 3));
    ASSERT_TRUE(manager.HasNewFrame(0));
    std::vector<BYTE> frame(12, 0);
    ASSERT_TRUE(manager.GetPixels(0, frame.data()));
    std::vector<BYTE> expected{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4};
    EXPECT_EQ(frame, expected);
}

// Bayer is what many simple sensors send; libv4lconvert fills in the two
// colours each pixel lacks.
TEST(CaptureManagerFrames, BayerCameraOpensAndGivesTopDownRedGreenBlue) {
    constexpr int kWidth = 64, kHeight = 48;
    // Red, green, blue and grey quarters, from the top left, row by row.
    const std::vector<std::vector<int>> quarters = {{200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {128, 128, 128}};
    std::vector<uint8_t> picture(kWidth * kHeight * 3);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c)
                picture[(y * kWidth + x) * 3 + c] =
                    static_cast<uint8_t>(quarters[(y >= kHeight / 2) * 2 + (x >= kWidth / 2)][c]);
    for (uint32_t bayer : {V4L2_PIX_FMT_SBGGR8, V4L2_PIX_FMT_SGBRG8, V4L2_PIX_FMT_SGRBG8, V4L2_PIX_FMT_SRGGB8}) {
        SCOPED_TRACE(std::string(reinterpret_cast<const char*>(&bayer), 4));
        FakeVideoKernel kernel;
        FakeNode& node = kernel.AddCamera("Sensor", bayer, {Discrete(kWidth, kHeight)});
        node.frame = [&](uint64_t, uint32_t format, uint32_t width, uint32_t height) {
            return EncodeFrame(picture, format, width, height);
        };
        CaptureManager manager;
        manager.setUseCallback(false);
        {
            StdoutLines quiet;
            ASSERT_TRUE(manager.OpenDevice(0, 640, 480, 3));
        }
        ASSERT_EQ(manager.devices[0]->width, kWidth);
        ASSERT_TRUE(WaitUntil([&] { return manager.HasNewFrame(0); }));
        std::vector<BYTE> frame(kWidth * kHeight * 3);
        ASSERT_TRUE(manager.GetPixels(0, frame.data()));
        for (int quarter = 0; quarter < 4; ++quarter) {
            const int x = kWidth / 4 + (quarter % 2) * kWidth / 2, y = kHeight / 4 + (quarter / 2) * kHeight / 2;
            const std::vector<int> pixel = PixelAt(frame, kWidth, x, y);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(pixel[c], quarters[quarter][c], 8) << "quarter " << quarter << ", channel " << c;
        }
    }
}

TEST(CaptureManagerFrames, VirtualCameraShowsItsImageAtTheSizesTheApplicationAsksFor) {
    const std::string image = std::string(MORVELIX_CORPUS_DIR) + "/images/ean13_clean_v1.png";
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(image.c_str(), &width, &height, &channels, 3);
    ASSERT_NE(pixels, nullptr) << image;
    ASSERT_EQ(width, 640);
    ASSERT_EQ(height, 480);
    std::vector<BYTE> expected(pixels, pixels + width * height * 3);
    stbi_image_free(pixels);

    VirtualCamera camera(image, 30);
    VideoKernel* previous = SetVideoKernelForTesting(&camera);
    {
        CaptureManager manager;
        ASSERT_EQ(CaptureManager::EnumerateDevices(), 1);
        EXPECT_EQ(Name(0), u"Morvelix Virtual Camera");
        manager.setUseCallback(false);

        ASSERT_TRUE(manager.OpenDevice(0, 640, 480, 3));
        std::vector<BYTE> frame(640 * 480 * 3);
        ASSERT_TRUE(manager.GetPixels(0, frame.data()));
        // YUYV keeps each pixel's luminance and shares colour between two
        // pixels: the picture comes back with its brightness nearly intact.
        auto luma = [](const BYTE* p) { return (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000; };
        long total = 0;
        int worst = 0;
        for (size_t i = 0; i < frame.size(); i += 3) {
            int difference = std::abs(luma(&frame[i]) - luma(&expected[i]));
            total += difference;
            worst = std::max(worst, difference);
        }
        EXPECT_LT(static_cast<double>(total) / (640 * 480), 1.5);
        EXPECT_LE(worst, 2);
        manager.CloseDevice(0);

        for (auto size : {std::make_pair(800, 600), std::make_pair(1280, 960)}) {
            ASSERT_TRUE(manager.OpenDevice(0, size.first, size.second, 3));
            EXPECT_EQ(manager.devices[0]->width, size.first);
            EXPECT_EQ(manager.devices[0]->height, size.second);
            manager.CloseDevice(0);
        }
        // A size outside the YUYV list comes as motion JPEG, found by the nearest-size search.
        StdoutLines out;
        ASSERT_TRUE(manager.OpenDevice(0, 1000, 700, 3));
        EXPECT_NE(out.Take().find("SETUP: closest supported size is OTHER @ 1000 700\n"), std::string::npos);
        std::vector<BYTE> large(1000 * 700 * 3);
        ASSERT_TRUE(manager.GetPixels(0, large.data()));
        // The image is fitted on white: its black bars reach the middle row.
        int dark = 0;
        for (int x = 0; x < 1000; ++x) dark += PixelAt(large, 1000, x, 350)[1] < 64 ? 1 : 0;
        EXPECT_GT(dark, 50);
    }
    SetVideoKernelForTesting(previous);
}
