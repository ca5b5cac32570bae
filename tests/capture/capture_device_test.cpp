// Teardown of a device record.
#include "capture_device.h"

#include <gtest/gtest.h>

#include "capture_manager.h"
#include "capture_test_support.h"

TEST(CaptureDeviceTeardown, SlotThatWasNeverOpenedClosesSilently) {
    FakeVideoKernel kernel;
    CaptureManager manager;
    StdoutLines out;
    manager.CloseDevice(4);
    EXPECT_EQ(out.Take(), "");
    EXPECT_NE(manager.devices[4], nullptr);
    EXPECT_FALSE(manager.devices[4]->graphStarted);
}

TEST(CaptureDeviceTeardown, RunningDeviceIsTakenApartInOrder) {
    FakeVideoKernel kernel;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(64, 48)});
    CaptureManager manager;
    manager.setUseCallback(false);
    ASSERT_TRUE(manager.OpenDevice(0, 64, 48, 3));
    StdoutLines out;
    manager.CloseDevice(0);
    EXPECT_EQ(out.Take(),
              "\nSETUP: Disconnecting device 0\n"
              "SETUP: freeing Grabber Callback\n"
              "SETUP: freeing Grabber  \n"
              "SETUP: freeing Control   \n"
              "SETUP: freeing Media Type  \n"
              "SETUP: removing filter Cam...\n"
              "SETUP: filter removed Cam  \n"
              "SETUP: removing filter Sample Grabber...\n"
              "SETUP: filter removed Sample Grabber  \n"
              "SETUP: removing filter NullRenderer...\n"
              "SETUP: filter removed NullRenderer  \n"
              "SETUP: removing filter Smart Tee...\n"
              "SETUP: filter removed Smart Tee  \n"
              "SETUP: freeing Capture Graph \n"
              "SETUP: freeing Main Graph \n"
              "SETUP: Device 0 disconnected and freed\n\n");
    EXPECT_FALSE(manager.devices[0]->ready);
    EXPECT_EQ(kernel.OpenDescriptors(), 0);
    EXPECT_EQ(kernel.MappedBuffers(), 0);
    // A closed slot opens again, at another size too.
    kernel.Node(0).formats[0].sizes.push_back(Discrete(32, 24));
    EXPECT_TRUE(manager.OpenDevice(0, 32, 24, 3));
    EXPECT_EQ(manager.devices[0]->width, 32);
}

TEST(CaptureDeviceTeardown, ManagerTearsDownOnlyWhatWasOpened) {
    FakeVideoKernel kernel;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(64, 48)});
    StdoutLines out;
    {
        CaptureManager manager;
        manager.setUseCallback(false);
        ASSERT_TRUE(manager.OpenDevice(0, 64, 48, 3));
    }
    std::string lines = out.Take();
    EXPECT_EQ(Count(lines, "SETUP: Disconnecting device"), 1);
    EXPECT_EQ(Count(lines, "disconnected and freed"), 1);
    EXPECT_EQ(kernel.OpenDescriptors(), 0);
}

TEST(CaptureDeviceTeardown, TwoHundredOpenCloseCyclesLeaveNothingBehind) {
    FakeVideoKernel kernel;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(64, 48), Discrete(32, 24)});
    CaptureManager manager;
    manager.setUseCallback(false);
    std::vector<BYTE> frame(64 * 48 * 3);
    StdoutLines out;
    for (int cycle = 0; cycle < 200; ++cycle) {
        int width = cycle % 2 == 0 ? 64 : 32;
        ASSERT_TRUE(manager.OpenDevice(0, width, width * 3 / 4, 3)) << "cycle " << cycle;
        ASSERT_TRUE(manager.GetPixels(0, frame.data())) << "cycle " << cycle;
        manager.CloseDevice(0);
        ASSERT_EQ(kernel.OpenDescriptors(), 0) << "cycle " << cycle;
        ASSERT_EQ(kernel.MappedBuffers(), 0) << "cycle " << cycle;
    }
    std::string lines = out.Take();
    EXPECT_EQ(Count(lines, "SETUP: Device is setup and ready to capture."), 200);
    EXPECT_EQ(Count(lines, "disconnected and freed"), 200);
}

TEST(DestroyMediaType, FreesTheFormatBlockAndTheRecord) {
    AM_MEDIA_TYPE* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    *type = AM_MEDIA_TYPE{};
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    DestroyMediaType(type);  // AddressSanitizer reports anything left
    DestroyMediaType(nullptr);
}
