#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "dshow.h"
#include "fake_video_kernel.h"

namespace {

template <class T>
void** Out(T** pointer) {
    return reinterpret_cast<void**>(pointer);
}

// A callback that takes its time, to be caught while it runs.
class SlowCallback final : public ISampleGrabberCB {
public:
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = this;
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double, IMediaSample* sample) override {
        running = true;
        lengths.push_back(sample->GetActualDataLength());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        running = false;
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }

    std::atomic<bool> running{false};
    std::vector<LONG> lengths;
};

struct Streaming {
    ICaptureGraphBuilder2* builder = nullptr;
    IGraphBuilder* graph = nullptr;
    IMediaControl* control = nullptr;
    IBaseFilter* capture = nullptr;
    IBaseFilter* grabberFilter = nullptr;
    ISampleGrabber* grabber = nullptr;

    Streaming() {
        CoInitialize(nullptr);
        CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2, Out(&builder));
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, Out(&graph));
        builder->SetFiltergraph(graph);
        graph->QueryInterface(IID_IMediaControl, Out(&control));
        ICreateDevEnum* devices = nullptr;
        CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, Out(&devices));
        IEnumMoniker* monikers = nullptr;
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
        IMoniker* moniker = nullptr;
        monikers->Next(1, &moniker, nullptr);
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, Out(&capture));
        moniker->Release();
        monikers->Release();
        devices->Release();
        graph->AddFilter(capture, u"Camera");
        CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, Out(&grabberFilter));
        grabberFilter->QueryInterface(IID_ISampleGrabber, Out(&grabber));
        graph->AddFilter(grabberFilter, u"Sample Grabber");
    }
    HRESULT Connect() {
        return builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, capture, grabberFilter, nullptr);
    }
    ~Streaming() {
        control->Stop();
        for (IUnknown* reference : std::initializer_list<IUnknown*>{grabber, grabberFilter, capture, control, graph, builder})
            reference->Release();
        CoUninitialize();
    }
};

HRESULT WaitForSample(ISampleGrabber* grabber, LONG* size) {
    HRESULT result = E_FAIL;
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((result = grabber->GetCurrentBuffer(size, nullptr)) != S_OK && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return result;
}

}  // namespace

TEST(SampleGrabber, CurrentBufferAnswersForEachState) {
    FakeVideoKernel kernel;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_BGR24, {Discrete(4, 2)});
    Streaming streaming;
    LONG size = 100;
    std::vector<LONG> buffer(64);
    EXPECT_EQ(streaming.grabber->GetCurrentBuffer(&size, buffer.data()), E_INVALIDARG);  // not buffering
    streaming.grabber->SetBufferSamples(TRUE);
    EXPECT_EQ(streaming.grabber->GetCurrentBuffer(&size, buffer.data()), VFW_E_NOT_CONNECTED);

    AM_MEDIA_TYPE rgb = {};
    rgb.majortype = MEDIATYPE_Video;
    rgb.subtype = MEDIASUBTYPE_RGB24;
    rgb.formattype = FORMAT_VideoInfo;
    streaming.grabber->SetMediaType(&rgb);
    ASSERT_EQ(streaming.Connect(), S_OK);
    EXPECT_EQ(streaming.grabber->GetCurrentBuffer(&size, buffer.data()), VFW_E_WRONG_STATE);  // no sample yet

    streaming.control->Run();
    ASSERT_EQ(WaitForSample(streaming.grabber, &size), S_OK);
    EXPECT_EQ(size, 4 * 2 * 3);
    size = 23;
    EXPECT_EQ(streaming.grabber->GetCurrentBuffer(&size, buffer.data()), E_OUTOFMEMORY);
    size = 256;
    EXPECT_EQ(streaming.grabber->GetCurrentBuffer(&size, buffer.data()), S_OK);
    EXPECT_EQ(size, 24);

    // Once the device is gone the last sample is no picture of anything.
    kernel.Unplug(0);
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (streaming.grabber->GetCurrentBuffer(&size, buffer.data()) == S_OK && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(streaming.grabber->GetCurrentBuffer(&size, buffer.data()), VFW_E_WRONG_STATE);
    LONGLONG number = -1;
    EXPECT_EQ(streaming.grabber->GetCurrentSampleNumber(&number), VFW_E_NO_CAPTURE_HARDWARE);
    EXPECT_EQ(number, 0);
}

TEST(SampleGrabber, GrabberThatWantsAnotherTypeDoesNotConnect) {
    FakeVideoKernel kernel;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(4, 2)});
    Streaming streaming;
    AM_MEDIA_TYPE other = {};
    other.majortype = MEDIATYPE_Video;
    other.subtype = MEDIASUBTYPE_RGB32;
    streaming.grabber->SetMediaType(&other);
    EXPECT_EQ(streaming.Connect(), VFW_E_CANNOT_CONNECT);
}

TEST(SampleGrabber, DetachingTheCallbackWaitsForTheOneRunning) {
    FakeVideoKernel kernel;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(4, 2)});
    Streaming streaming;
    SlowCallback callback;
    ASSERT_EQ(streaming.grabber->SetCallback(&callback, 0), S_OK);
    ASSERT_EQ(streaming.Connect(), S_OK);
    streaming.control->Run();
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!callback.running && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    ASSERT_TRUE(callback.running);
    streaming.grabber->SetCallback(nullptr, 0);
    EXPECT_FALSE(callback.running);
    size_t calls = callback.lengths.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(callback.lengths.size(), calls);
    EXPECT_EQ(callback.lengths.front(), 4 * 2 * 3);
}
