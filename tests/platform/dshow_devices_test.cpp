// Listing the video input devices over the fake kernel interface.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "fake_video_kernel.h"
#include "graph_test_support.h"

TEST(DeviceEnumeration, ListsCaptureNodesInOrderAndKeepsUnreadableOnesWithoutProperties) {
    FakeVideoKernel kernel;
    ComThread com;
    kernel.AddCamera("First", V4L2_PIX_FMT_YUYV, {Discrete(640, 480)});
    FakeNode metadata;
    metadata.capabilities = V4L2_CAP_META_CAPTURE;
    kernel.AddNode(metadata);
    FakeNode locked;
    locked.openError = EACCES;
    kernel.AddNode(locked);
    kernel.AddCamera("Caf\xC3\xA9 Cam", V4L2_PIX_FMT_YUYV, {Discrete(640, 480)});

    HRESULT result;
    std::vector<IMoniker*> inputs = VideoInputs(&result);
    EXPECT_EQ(result, S_OK);
    ASSERT_EQ(inputs.size(), 3u);
    EXPECT_EQ(FriendlyName(inputs[0]), u"First");
    EXPECT_EQ(FriendlyName(inputs[1]), u"<no bag>");
    EXPECT_EQ(FriendlyName(inputs[2]), u"Caf\u00e9 Cam");
    for (IMoniker* moniker : inputs) moniker->Release();
    EXPECT_EQ(kernel.OpenDescriptors(), 0);
}

TEST(DeviceEnumeration, NoCaptureNodeMeansAnEmptyCategory) {
    FakeVideoKernel kernel;
    ComThread com;
    HRESULT result;
    EXPECT_TRUE(VideoInputs(&result).empty());
    EXPECT_EQ(result, S_FALSE);
}
