#include "capture_device.h"

#include <cstdio>
#include <cstring>

#include "sample_grabber_callback.h"

CaptureDevice::CaptureDevice()
    : frameBytes(0),
      width(0),
      height(0),
      requestedWidth(0),
      requestedHeight(0),
      captureBuilder(nullptr),
      graph(nullptr),
      control(nullptr),
      captureFilter(nullptr),
      grabberFilter(nullptr),
      nullRenderer(nullptr),
      streamConfig(nullptr),
      grabber(nullptr),
      mediaType(nullptr),
      analogFormat(0),
      callback(new SampleGrabberCallback),
      tryRequestedSize(false),
      connectionSet(false),
      ready(false),
      buffersAllocated(false),
      graphStarted(false),
      analogFormatSet(false),
      reopenWhenFrozen(false),
      freezeThreshold(10000),
      pollCount(0),
      lastSampleTaken(0),
      connectionType(PhysConn_Video_Composite),
      connectionIndex(0),
      deviceId(-1),
      frameTime(-1),
      frameBuffer(nullptr) {
    std::memset(nameNarrow, 0, sizeof nameNarrow);
    std::memset(name, 0, sizeof name);
}

void CaptureDevice::SetSize(int w, int h) {
    if (buffersAllocated) {
        std::printf("SETUP: Error device size should not be set more than once \n");
        return;
    }
    width = w;
    height = h;
    frameBytes = width * height * 3;
    buffersAllocated = true;
    frameBuffer = new BYTE[frameBytes];
    callback->AllocateBuffer(frameBytes);
}

namespace {

template <class Interface>
void ReleaseWithLine(Interface*& reference, const char* line) {
    if (reference == nullptr) return;
    std::printf("%s", line);
    reference->Release();
    reference = nullptr;
}

void FreeCallback(CaptureDevice* device) {
    if (device->callback == nullptr) return;
    device->callback->Release();
    delete device->callback;
    device->callback = nullptr;
}

void FreeFrameBuffer(CaptureDevice* device) {
    delete[] device->frameBuffer;
    device->frameBuffer = nullptr;
}

}  // namespace

CaptureDevice::~CaptureDevice() {
    if (!graphStarted) {
        FreeCallback(this);
        return;
    }
    std::printf("\nSETUP: Disconnecting device %i\n", deviceId);

    // The callback is detached before the graph stops: once SetCallback has
    // returned, the streaming thread no longer runs it.
    if (callback != nullptr && grabber != nullptr) {
        grabber->SetCallback(nullptr, 1);
        std::printf("SETUP: freeing Grabber Callback\n");
        FreeCallback(this);
        FreeFrameBuffer(this);
    }

    if (control != nullptr) {
        if (FAILED(control->Pause())) std::printf("ERROR - Could not pause pControl\n");
        if (FAILED(control->Stop())) std::printf("ERROR - Could not stop pControl\n");
    }

    if (captureFilter != nullptr) RemoveDownstreamFilters(this, captureFilter);

    ReleaseWithLine(nullRenderer, "SETUP: freeing Renderer \n");
    ReleaseWithLine(captureFilter, "SETUP: freeing Capture Source \n");
    ReleaseWithLine(grabberFilter, "SETUP: freeing Grabber Filter  \n");
    ReleaseWithLine(grabber, "SETUP: freeing Grabber  \n");
    ReleaseWithLine(control, "SETUP: freeing Control   \n");
    ReleaseWithLine(streamConfig, "SETUP: freeing Stream  \n");
    if (mediaType != nullptr) {
        std::printf("SETUP: freeing Media Type  \n");
        DestroyMediaType(mediaType);
        mediaType = nullptr;
    }

    if (graph != nullptr) RemoveAllFilters(this);
    ReleaseWithLine(captureBuilder, "SETUP: freeing Capture Graph \n");
    ReleaseWithLine(graph, "SETUP: freeing Main Graph \n");

    // A set-up that failed before the grabber existed still owns these; the
    // graph has stopped, so nothing can call the callback any more.
    FreeCallback(this);
    FreeFrameBuffer(this);

    std::printf("SETUP: Device %i disconnected and freed\n\n", deviceId);
}

void RemoveDownstreamFilters(CaptureDevice* device, IBaseFilter* filter) {
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins))) return;
    pins->Reset();
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        IPin* peer = nullptr;
        if (FAILED(pin->ConnectedTo(&peer)) || peer == nullptr) {
            pin->Release();
            continue;
        }
        PIN_INFO info;
        std::memset(&info, 0, sizeof info);
        HRESULT queried = peer->QueryPinInfo(&info);
        if (SUCCEEDED(queried) && info.dir == PINDIR_INPUT) {
            RemoveDownstreamFilters(device, info.pFilter);
            device->graph->Disconnect(peer);
            device->graph->Disconnect(pin);
            device->graph->RemoveFilter(info.pFilter);
        }
        if (SUCCEEDED(queried) && info.pFilter != nullptr) info.pFilter->Release();
        peer->Release();
        pin->Release();
        if (FAILED(queried)) break;
    }
    pins->Release();
}

void RemoveAllFilters(CaptureDevice* device) {
    for (;;) {
        IEnumFilters* filters = nullptr;
        if (FAILED(device->graph->EnumFilters(&filters))) {
            std::printf("SETUP: pGraph->EnumFilters() failed. \n");
            return;
        }
        IBaseFilter* filter = nullptr;
        if (filters->Next(1, &filter, nullptr) != S_OK) {
            filters->Release();
            return;
        }
        FILTER_INFO info;
        std::memset(&info, 0, sizeof info);
        filter->QueryFilterInfo(&info);
        if (info.pGraph != nullptr) info.pGraph->Release();
        char narrowName[255];
        std::memset(narrowName, 0, sizeof narrowName);
        for (int i = 0; i < 128 && info.achName[i] != 0; ++i) narrowName[i] = static_cast<char>(info.achName[i]);

        std::printf("SETUP: removing filter %s...\n", narrowName);
        HRESULT removed = device->graph->RemoveFilter(filter);
        if (FAILED(removed)) {
            std::printf("SETUP: pGraph->RemoveFilter() failed. \n");
            filter->Release();
            filters->Release();
            return;
        }
        std::printf("SETUP: filter removed %s  \n", narrowName);
        filter->Release();
        filters->Release();
        if (removed != S_OK) return;
    }
}

void DestroyMediaType(AM_MEDIA_TYPE* mediaType) {
    if (mediaType == nullptr) return;
    if (mediaType->cbFormat != 0) {
        CoTaskMemFree(mediaType->pbFormat);
        mediaType->cbFormat = 0;
        mediaType->pbFormat = nullptr;
    }
    if (mediaType->pUnk != nullptr) {
        mediaType->pUnk->Release();
        mediaType->pUnk = nullptr;
    }
    CoTaskMemFree(mediaType);
}
