// Set-up of a device's capture graph and its format negotiation, on cameras
// of the fake kernel interface.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>

#include "capture_manager.h"
#include "capture_test_support.h"

namespace {

std::string Trying(const char* subtype, int width, int height) {
    return std::string("SETUP: trying format ") + subtype + " @ " + std::to_string(width) + " by " +
           std::to_string(height) + "\n";
}

const char* const kSubtypeOrder[] = {"RGB24", "RGB32", "RGB555", "RGB565", "YUY2", "YVYU", "YUYV", "IYUV", "UYVY",
                                     "YV12",  "YVU9",  "Y411",   "Y41P",   "Y211", "AYUV", "Y800", "Y8",   "GREY"};

std::string AllAttempts(int width, int height) {
    std::string lines;
    for (const char* subtype : kSubtypeOrder) lines += Trying(subtype, width, height);
    return lines;
}

// A YUYV camera with the given sizes, currently at the first one.
FakeNode& YuyvCamera(FakeVideoKernel& kernel, std::vector<FakeSize> sizes) {
    return kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, std::move(sizes));
}

// A USB 2 camera as the UVC driver shows it: YUYV up to 1280 × 960 but only
// at 7.5 frames a second there, MJPEG at 30 at every size; plugged in at its
// first format and size.
FakeNode& UsbCamera(FakeVideoKernel& kernel) {
    const v4l2_fract fps30 = {1, 30}, fps15 = {1, 15}, fps7_5 = {2, 15};
    FakeNode node;
    node.card = "USB Camera";
    node.formats = {
        {V4L2_PIX_FMT_YUYV, {Discrete(640, 480, {fps15, fps30}), Discrete(1280, 960, {fps7_5})}},
        {V4L2_PIX_FMT_MJPEG,
         {Discrete(640, 480, {fps30, fps15}), Discrete(800, 600, {fps30, fps15}), Discrete(1280, 960, {fps30, fps15})}},
    };
    node.pixelFormat = V4L2_PIX_FMT_YUYV;
    node.width = 640;
    node.height = 480;
    return kernel.AddNode(node);
}

struct Opened {
    bool result;
    int width;
    int height;
    std::string lines;
};

Opened Open(CaptureManager& manager, int width, int height, int connection = 3) {
    StdoutLines out;
    bool result = manager.OpenDevice(0, width, height, connection);
    return {result, manager.devices[0]->width, manager.devices[0]->height, out.Take()};
}

}  // namespace

TEST(CaptureGraph, OfferedSizeIsTakenInTheFirstSubtypeTheDeviceHas) {
    FakeVideoKernel kernel;
    YuyvCamera(kernel, {Discrete(640, 480)});
    CaptureManager manager;
    manager.setUseCallback(false);
    Opened opened = Open(manager, 640, 480);
    EXPECT_TRUE(opened.result);
    EXPECT_TRUE(manager.devices[0]->ready);
    EXPECT_EQ(opened.width, 640);
    EXPECT_EQ(opened.height, 480);
    EXPECT_EQ(manager.deviceCount, 1);
    EXPECT_EQ(opened.lines,
              "SETUP: Setting up device 0\n"
              "SETUP: Cam\n"
              "SETUP: Couldn't find preview pin using SmartTee\n"
              "SETUP: Checking crossbar\n"
              "SETUP: You are a webcam or snazzy firewire cam! No Crossbar needed\n"
              "SETUP: Default Format is set to 640 by 480 \n" +
                  Trying("RGB24", 640, 480) + Trying("RGB32", 640, 480) + Trying("RGB555", 640, 480) +
                  Trying("RGB565", 640, 480) + Trying("YUY2", 640, 480) +
                  "SETUP: Device is setup and ready to capture.\n\n");
    // A second open of a running device is refused without a word.
    Opened again = Open(manager, 320, 240);
    EXPECT_FALSE(again.result);
    EXPECT_EQ(again.lines, "");
    EXPECT_EQ(manager.devices[0]->width, 640);
    // The frame mode is fixed once a set-up has been attempted.
    StdoutLines out;
    manager.setUseCallback(true);
    EXPECT_EQ(out.Take(), "ERROR: setUseCallback can only be called before setup\n");
}

TEST(CaptureGraph, NearestSizeIsSearchedWhenNoSubtypeHasTheRequestedOne) {
    struct Case {
        const char* what;
        std::vector<FakeSize> sizes;
        int requestedWidth, requestedHeight;
        int width, height;
    };
    const Case cases[] = {
        {"smaller device", {Discrete(320, 240)}, 640, 480, 320, 240},
        {"range with steps", {Stepwise(160, 1280, 160, 120, 960, 120)}, 1000, 700, 960, 720},
        {"equal distance: earlier capability", {Discrete(630, 480), Discrete(650, 480)}, 640, 480, 630, 480},
        {"equal distance: smaller width", {Stepwise(630, 650, 20, 480, 480, 1)}, 640, 480, 630, 480},
        {"no step: capability ignored", {Discrete(320, 240), Stepwise(640, 640, 0, 480, 480, 0)}, 640, 480, 320, 240},
    };
    for (const Case& c : cases) {
        FakeVideoKernel kernel;
        YuyvCamera(kernel, c.sizes);
        CaptureManager manager;
        manager.setUseCallback(false);
        Opened opened = Open(manager, c.requestedWidth, c.requestedHeight);
        EXPECT_TRUE(opened.result) << c.what;
        EXPECT_EQ(opened.width, c.width) << c.what;
        EXPECT_EQ(opened.height, c.height) << c.what;
        EXPECT_NE(opened.lines.find(AllAttempts(c.requestedWidth, c.requestedHeight) +
                                    "SETUP: couldn't find requested size - searching for closest matching size\n"
                                    "SETUP: closest supported size is YUY2 @ " +
                                    std::to_string(c.width) + " " + std::to_string(c.height) + "\n"),
                  std::string::npos)
            << c.what << "\n" << opened.lines;
        std::vector<BYTE> frame(static_cast<size_t>(c.width) * c.height * 3 + 16, 0xEE);
        ASSERT_TRUE(manager.GetPixels(0, frame.data())) << c.what;
        EXPECT_EQ(frame[frame.size() - 16], 0xEE) << c.what << ": wrote past the frame";
    }
}

TEST(CaptureGraph, DeviceThatRefusesEveryFormatOpensAtItsDefaultSize) {
    FakeVideoKernel kernel;
    FakeNode& node = YuyvCamera(kernel, {Discrete(640, 480)});
    node.failures[VIDIOC_S_FMT] = EBUSY;
    CaptureManager manager;
    manager.setUseCallback(false);
    Opened opened = Open(manager, 320, 240);
    EXPECT_TRUE(opened.result);
    EXPECT_EQ(opened.width, 640);
    EXPECT_EQ(opened.height, 480);
    EXPECT_NE(opened.lines.find("SETUP: closest supported size is YUY2 @ 640 480\n"
                                "SETUP: Device is setup and ready to capture.\n\n"),
              std::string::npos);
}

TEST(CaptureGraph, UnusableDefaultFormatFailsAtReadingIt) {
    struct Case {
        const char* what;
        uint32_t width, height;
    };
    const Case cases[] = {{"zero size", 0, 0}, {"negative height", 640, 0x80000000u}, {"too large", 100000, 100000}};
    for (const Case& c : cases) {
        FakeVideoKernel kernel;
        FakeNode& node = YuyvCamera(kernel, {Discrete(640, 480)});
        node.width = c.width;
        node.height = c.height;
        CaptureManager manager;
        manager.setUseCallback(false);
        Opened opened = Open(manager, 640, 480);
        EXPECT_FALSE(opened.result) << c.what;
        EXPECT_NE(opened.lines.find("ERROR: Couldn't getFormat for pAmMediaType!\n\nSETUP: Disconnecting device 0\n"),
                  std::string::npos)
            << c.what << "\n" << opened.lines;
        EXPECT_FALSE(manager.devices[0]->graphStarted) << c.what;
        EXPECT_EQ(kernel.OpenDescriptors(), 0) << c.what;
    }
}

TEST(CaptureGraph, FailedLaterStepsTearTheDeviceDownAndFreeEverything) {
    const std::string busy = "/dev/video0: the camera is in use by another program\n";
    struct Case {
        const char* what;
        uint32_t pixelFormat;
        std::function<void(FakeNode&, AnotherProgram&)> script;
        const char* line;
        std::string errors;  // what standard error says
    };
    const Case cases[] = {
        {"format nothing converts", V4L2_PIX_FMT_H264, [](FakeNode&, AnotherProgram&) {},
         "ERROR: Could not connect pins - RenderStream()\n", ""},
        {"device busy", V4L2_PIX_FMT_YUYV,
         [](FakeNode& node, AnotherProgram&) { node.failures[VIDIOC_STREAMON] = EBUSY; },
         "ERROR: Could not start graph\n", busy},
        {"no buffers", V4L2_PIX_FMT_YUYV,
         [](FakeNode& node, AnotherProgram&) { node.failures[VIDIOC_REQBUFS] = EBUSY; },
         "ERROR: Could not start graph\n", busy},
        // Every format and rate the set-up tries is refused, then the buffers.
        {"another program streams at another size", V4L2_PIX_FMT_YUYV,
         [](FakeNode&, AnotherProgram& other) {
             EXPECT_TRUE(other.SetsFormat(V4L2_PIX_FMT_YUYV, 32, 24));
             EXPECT_TRUE(other.HoldsBuffers());
         },
         "ERROR: Could not start graph\n", busy},
    };
    for (const Case& c : cases) {
        FakeVideoKernel kernel;
        const v4l2_fract fps30 = {1, 30}, fps15 = {1, 15};
        FakeNode& node = kernel.AddCamera("Cam", c.pixelFormat,
                                          {Discrete(64, 48, {fps15, fps30}), Discrete(32, 24, {fps15, fps30})});
        AnotherProgram other(kernel);
        c.script(node, other);
        CaptureManager manager;
        manager.setUseCallback(false);
        testing::internal::CaptureStderr();
        Opened opened = Open(manager, 64, 48);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.errors) << c.what;
        EXPECT_FALSE(opened.result) << c.what;
        EXPECT_NE(opened.lines.find(std::string(c.line) + "\nSETUP: Disconnecting device 0\n"), std::string::npos)
            << c.what << "\n" << opened.lines;
        EXPECT_NE(opened.lines.find("SETUP: Device 0 disconnected and freed\n\n"), std::string::npos) << c.what;
        EXPECT_FALSE(manager.devices[0]->graphStarted) << c.what;
        other.LetsGo();
        EXPECT_EQ(kernel.OpenDescriptors(), 0) << c.what;
        EXPECT_EQ(kernel.MappedBuffers(), 0) << c.what;
    }
}

TEST(CaptureGraph, CrossbarIsCheckedOnlyForAConnectionIndexUpToFour) {
    for (int connection : {0, 3, 4, 5, 7}) {
        FakeVideoKernel kernel;
        YuyvCamera(kernel, {Discrete(64, 48)});
        CaptureManager manager;
        manager.setUseCallback(false);
        Opened opened = Open(manager, 64, 48, connection);
        bool checked = connection <= 4;
        EXPECT_EQ(Count(opened.lines, "SETUP: Checking crossbar\n"), checked ? 1 : 0) << connection;
        EXPECT_EQ(Count(opened.lines, "No Crossbar needed\n"), checked ? 1 : 0) << connection;
        EXPECT_EQ(manager.devices[0]->connectionSet, checked) << connection;
    }
}

TEST(CaptureGraph, SubtypeNamesFollowTheTableAndEverythingElseIsOther) {
    CaptureManager manager;
    for (int i = 0; i < CaptureManager::kSubtypeCount; ++i)
        EXPECT_STREQ(manager.MediaSubtypeName(manager.subtypes[i]).text, kSubtypeOrder[i]);
    EXPECT_STREQ(manager.MediaSubtypeName(FourccGuid(MakeFourcc('M', 'J', 'P', 'G'))).text, "OTHER");
    EXPECT_EQ(manager.subtypeY8.Data1, 0x38590000u);
    EXPECT_EQ(manager.analogFormats[8], AnalogVideo_PAL_N_COMBO);
}

TEST(CaptureGraph, AnalogFormatIsRefusedByAWebcam) {
    FakeVideoKernel kernel;
    YuyvCamera(kernel, {Discrete(64, 48)});
    CaptureManager manager;
    manager.setUseCallback(false);
    ASSERT_TRUE(Open(manager, 64, 48).result);
    StdoutLines out;
    EXPECT_FALSE(manager.SetAnalogVideoFormat(0, 1));
    EXPECT_FALSE(manager.SetAnalogVideoFormat(0, 18));
    EXPECT_EQ(out.Take(), "SETUP: couldn't set requested format\n");
    EXPECT_EQ(manager.devices[0]->captureFilter, nullptr);
}

// What one set-up asks of the driver, up to the start of streaming.
struct IoctlCounts {
    int tryFormat = 0, setFormat = 0, getFormat = 0, setRate = 0, total = 0;
};

IoctlCounts CountUntilStreaming(const std::vector<unsigned long>& requests) {
    IoctlCounts counts;
    for (unsigned long request : requests) {
        ++counts.total;
        counts.tryFormat += request == VIDIOC_TRY_FMT;
        counts.setFormat += request == VIDIOC_S_FMT;
        counts.getFormat += request == VIDIOC_G_FMT;
        counts.setRate += request == VIDIOC_S_PARM;
        if (request == VIDIOC_STREAMON) break;
    }
    return counts;
}

// Every format or rate ioctl is a USB round trip of a UVC camera, on the GUI
// thread. The attempts need at most one format and one rate set, the device's
// rate read once and its format twice: before the attempts and once the
// buffers lock it; the rest of an open is the lists read once by us and once
// by libv4lconvert, the node's look-ups and the buffers.
TEST(CaptureGraph, OnePlayAsksTheDriverOnlyWhatItsAttemptsNeed) {
    constexpr int kMostIoctls = 45;
    struct Case {
        const char* what;
        int width, height;
        const char* success;  // the lines of the attempt that succeeds
    };
    const Case cases[] = {
        {"a size YUYV has", 640, 480, "SETUP: trying format YUY2 @ 640 by 480\nSETUP: Device is setup"},
        {"a size only MJPEG has", 800, 600, "SETUP: closest supported size is OTHER @ 800 600\nSETUP: Device is setup"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeVideoKernel kernel;
        UsbCamera(kernel).usbLatency = std::chrono::milliseconds(20);
        CaptureManager manager;
        manager.setUseCallback(false);
        const auto started = std::chrono::steady_clock::now();
        Opened opened = Open(manager, c.width, c.height);
        const auto took = std::chrono::steady_clock::now() - started;
        ASSERT_TRUE(opened.result) << opened.lines;
        EXPECT_NE(opened.lines.find(c.success), std::string::npos) << opened.lines;
        EXPECT_EQ(opened.width, c.width);
        const IoctlCounts counts = CountUntilStreaming(kernel.Requests(0));
        EXPECT_EQ(counts.tryFormat, 0);
        EXPECT_LE(counts.setFormat, 1);
        EXPECT_LE(counts.getFormat, 2);
        EXPECT_LE(counts.setRate, 1);
        EXPECT_LE(counts.total, kMostIoctls);
        RecordProperty(std::string(c.what) + ": TRY_FMT, S_FMT, G_FMT, S_PARM, all, ms",
                       std::to_string(counts.tryFormat) + ", " + std::to_string(counts.setFormat) + ", " +
                           std::to_string(counts.getFormat) + ", " + std::to_string(counts.setRate) + ", " +
                           std::to_string(counts.total) + ", " +
                           std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    }
}

TEST(CaptureGraph, StreamRunsAtTheFastestRateOfItsSizeUnlessARateWasAsked) {
    struct Case {
        const char* what;
        int frameTime;             // -1: no rate asked
        v4l2_fract expected;
    };
    const Case cases[] = {
        {"no rate asked", -1, {1, 30}},
        {"15 frames a second asked", 666666, {1, 15}},
    };
    for (const Case& c : cases) {
        struct Before {
            const char* what;
            std::function<void(CaptureManager&, FakeNode&)> leave;
        };
        const Before befores[] = {
            {"after a run at 1280 × 960",
             [](CaptureManager& manager, FakeNode&) {
                 StdoutLines quiet;
                 manager.OpenDevice(0, 1280, 960, 3);
                 manager.CloseDevice(0);
             }},
            {"after another program left 15 frames a second",
             [](CaptureManager&, FakeNode& node) { node.interval = {1, 15}; }},
        };
        for (const Before& before : befores) {
            SCOPED_TRACE(std::string(c.what) + ", " + before.what);
            FakeVideoKernel kernel;
            FakeNode& node = UsbCamera(kernel);
            CaptureManager manager;
            manager.setUseCallback(false);
            before.leave(manager, node);
            manager.devices[0]->frameTime = c.frameTime;
            ASSERT_TRUE(Open(manager, 640, 480).result);
            EXPECT_EQ(node.pixelFormat, V4L2_PIX_FMT_YUYV);
            const v4l2_fract interval = kernel.Interval(0);
            EXPECT_EQ(interval.numerator, c.expected.numerator);
            EXPECT_EQ(interval.denominator, c.expected.denominator);
        }
    }
}
