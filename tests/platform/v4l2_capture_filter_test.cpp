// A V4L2 node as a capture filter: its formats and what connects.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "fake_video_kernel.h"
#include "graph_test_support.h"

TEST(CaptureFilter, CapabilitiesAreRecordsOf128BytesWithTheDeviceSizes) {
    FakeVideoKernel kernel;
    ComThread com;
    FakeNode node;
    node.card = "Cam";
    node.formats = {{V4L2_PIX_FMT_YUYV, {Discrete(640, 480)}}, {V4L2_PIX_FMT_MJPEG, {Stepwise(160, 1280, 160, 120, 960, 120)}}};
    node.pixelFormat = V4L2_PIX_FMT_YUYV;
    node.width = 640;
    node.height = 480;
    kernel.AddNode(node);
    HRESULT result;
    std::vector<IMoniker*> inputs = VideoInputs(&result);
    Graph graph(inputs[0]);
    ASSERT_NE(graph.config, nullptr);
    int count = 0, size = 0;
    ASSERT_EQ(graph.config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(size, 128);
    AM_MEDIA_TYPE* type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(graph.config->GetStreamCaps(1, &type, reinterpret_cast<BYTE*>(&caps)), S_OK);
    EXPECT_EQ(type->subtype, FourccGuid(V4L2_PIX_FMT_MJPEG));
    EXPECT_EQ(caps.MinOutputSize.cx, 160);
    EXPECT_EQ(caps.MaxOutputSize.cy, 960);
    EXPECT_EQ(caps.OutputGranularityX, 160);
    EXPECT_EQ(caps.OutputGranularityY, 120);
    CoTaskMemFree(type->pbFormat);
    CoTaskMemFree(type);

    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(graph.config->GetFormat(&current), S_OK);
    EXPECT_EQ(current->subtype, MEDIASUBTYPE_YUY2);
    ASSERT_EQ(current->formattype, FORMAT_VideoInfo);
    auto* video = reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat);
    EXPECT_EQ(video->bmiHeader.biWidth, 640);
    EXPECT_EQ(video->bmiHeader.biHeight, 480);

    // An offered size in an offered format is taken; anything else refused.
    video->bmiHeader.biWidth = 800;
    video->bmiHeader.biHeight = 600;
    current->subtype = FourccGuid(V4L2_PIX_FMT_MJPEG);
    EXPECT_EQ(graph.config->SetFormat(current), S_OK);
    current->subtype = MEDIASUBTYPE_YUY2;
    EXPECT_NE(graph.config->SetFormat(current), S_OK);
    current->subtype = MEDIASUBTYPE_RGB24;
    video->bmiHeader.biWidth = 640;
    video->bmiHeader.biHeight = 480;
    EXPECT_NE(graph.config->SetFormat(current), S_OK);
    video->bmiHeader.biHeight = -480;
    current->subtype = MEDIASUBTYPE_YUY2;
    EXPECT_NE(graph.config->SetFormat(current), S_OK);
    CoTaskMemFree(current->pbFormat);
    CoTaskMemFree(current);
    for (IMoniker* moniker : inputs) moniker->Release();
}

TEST(CaptureFilter, FormatThatCannotBeConvertedDoesNotConnect) {
    FakeVideoKernel kernel;
    ComThread com;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_H264, {Discrete(640, 480)});
    HRESULT result;
    std::vector<IMoniker*> inputs = VideoInputs(&result);
    {
        Graph graph(inputs[0]);
        EXPECT_EQ(graph.Render(), VFW_E_CANNOT_CONNECT);
    }
    for (IMoniker* moniker : inputs) moniker->Release();
}
