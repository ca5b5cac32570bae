// What the tests of our capture-graph classes share: listing the video inputs
// and building the graph that the capture library builds.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dshow.h"

template <class T>
inline void** Out(T** pointer) {
    return reinterpret_cast<void**>(pointer);
}

struct ComThread {
    ComThread() { CoInitialize(nullptr); }
    ~ComThread() { CoUninitialize(); }
};

inline std::vector<IMoniker*> VideoInputs(HRESULT* result) {
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

inline std::u16string FriendlyName(IMoniker* moniker) {
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

