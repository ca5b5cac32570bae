// The capture graph calls as the capture library makes them, over the fake
// kernel: device listing, the capture filter's formats, connection and run.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dshow.h"
#include "fake_video_kernel.h"

namespace {

template <class T>
void** Out(T** pointer) {
    return reinterpret_cast<void**>(pointer);
}

struct ComThread {
    ComThread() { CoInitialize(nullptr); }
    ~ComThread() { CoUninitialize(); }
};

std::vector<IMoniker*> VideoInputs(HRESULT* result) {
    ICreateDevEnum* devices = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, Out(&devices)), S_OK);
    IEnumMoniker* monikers = nullptr;
    *result = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    devices->Release();
    std::vector<IMoniker*> all;
    IMoniker* moniker = nullptr;
    while (monikers != nullptr && monikers->Next(1, &moniker, nullptr) == S_OK) all.push_back(moniker);
    if (monikers != nullptr) monikers->Release();
    return all;
}

std::u16string FriendlyName(IMoniker* moniker) {
    IPropertyBag* bag = nullptr;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, Out(&bag)))) return u"<no bag>";
    VARIANT name;
    VariantInit(&name);
    std::u16string text = SUCCEEDED(bag->Read(u"FriendlyName", &name, nullptr)) ? name.bstrVal : u"<no name>";
    VariantClear(&name);
    bag->Release();
    return text;
}

// A graph of the capture filter of /dev/video0, the grabber and a null renderer.
struct Graph {
    ICaptureGraphBuilder2* builder = nullptr;
    IGraphBuilder* graph = nullptr;
    IBaseFilter* capture = nullptr;
    IBaseFilter* grabberFilter = nullptr;
    ISampleGrabber* grabber = nullptr;
    IBaseFilter* renderer = nullptr;
    IAMStreamConfig* config = nullptr;

    explicit Graph(IMoniker* device) {
        CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2, Out(&builder));
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, Out(&graph));
        builder->SetFiltergraph(graph);
        EXPECT_EQ(device->BindToObject(nullptr, nullptr, IID_IBaseFilter, Out(&capture)), S_OK);
        graph->AddFilter(capture, u"Camera");
        builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, capture, IID_IAMStreamConfig, Out(&config));
        CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, Out(&grabberFilter));
        grabberFilter->QueryInterface(IID_ISampleGrabber, Out(&grabber));
        graph->AddFilter(grabberFilter, u"Sample Grabber");
        CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, Out(&renderer));
        graph->AddFilter(renderer, u"NullRenderer");
    }
    HRESULT Render() {
        return builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, capture, grabberFilter, renderer);
    }
    std::vector<std::string> FilterNames() {
        std::vector<std::string> names;
        IEnumFilters* filters = nullptr;
        graph->EnumFilters(&filters);
        IBaseFilter* filter = nullptr;
        while (filters->Next(1, &filter, nullptr) == S_OK) {
            FILTER_INFO info;
            filter->QueryFilterInfo(&info);
            if (info.pGraph != nullptr) info.pGraph->Release();
            std::string name;
            for (int i = 0; info.achName[i] != 0; ++i) name.push_back(static_cast<char>(info.achName[i]));
            names.push_back(name);
            filter->Release();
        }
        filters->Release();
        return names;
    }
    ~Graph() {
        for (IUnknown* reference : std::initializer_list<IUnknown*>{config, renderer, grabber, grabberFilter, capture, graph, builder})
            if (reference != nullptr) reference->Release();
    }
};

}  // namespace

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

TEST(CaptureFilter, OnlyACapturePinSoTheBuilderInsertsASmartTee) {
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
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
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
