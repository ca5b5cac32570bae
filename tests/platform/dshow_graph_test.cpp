// The filter graph and the capture graph builder, as the capture library uses them.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "fake_video_kernel.h"
#include "graph_test_support.h"

TEST(CaptureGraphBuilder, CaptureFilterWithoutAPreviewPinGetsASmartTee) {
    FakeVideoKernel kernel;
    ComThread com;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(32, 24)});
    HRESULT result;
    std::vector<IMoniker*> inputs = VideoInputs(&result);
    {
        Graph graph(inputs[0]);
        IAMStreamConfig* preview = nullptr;
        EXPECT_FALSE(SUCCEEDED(graph.builder->FindInterface(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, graph.capture,
                                                             IID_IAMStreamConfig, Out(&preview))));
        IAMCrossbar* crossbar = nullptr;
        EXPECT_FALSE(SUCCEEDED(graph.builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, graph.capture,
                                                             IID_IAMCrossbar, Out(&crossbar))));
        IAMAnalogVideoDecoder* decoder = nullptr;
        EXPECT_FALSE(SUCCEEDED(graph.builder->FindInterface(nullptr, &MEDIATYPE_Video, graph.capture,
                                                             IID_IAMAnalogVideoDecoder, Out(&decoder))));
        ASSERT_EQ(graph.Render(), S_OK);
        std::vector<std::string> expected{"Camera", "Sample Grabber", "NullRenderer", "Smart Tee"};
        EXPECT_EQ(graph.FilterNames(), expected);

        graph.grabber->SetBufferSamples(TRUE);
        IMediaControl* control = nullptr;
        graph.graph->QueryInterface(IID_IMediaControl, Out(&control));
        EXPECT_EQ(control->Run(), S_FALSE);
        EXPECT_EQ(graph.graph->RemoveFilter(graph.renderer), VFW_E_NOT_STOPPED);
        LONG size = 0;
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (graph.grabber->GetCurrentBuffer(&size, nullptr) != S_OK && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(size, 32 * 24 * 3);
        EXPECT_EQ(control->Stop(), S_OK);
        EXPECT_EQ(graph.graph->RemoveFilter(graph.renderer), S_OK);
        control->Release();
    }
    for (IMoniker* moniker : inputs) moniker->Release();
    EXPECT_EQ(kernel.OpenDescriptors(), 0);
    EXPECT_EQ(kernel.MappedBuffers(), 0);
}
