// Building and starting one device's capture graph, and negotiating its frame
// format: the requested size in each of the 18 subtypes, then the nearest size
// the device offers, then its default format.
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture_manager.h"
#include "sample_grabber_callback.h"
#include "win32_sync.h"

namespace {

// The first sample must come within this time after the graph starts.
constexpr DWORD kStartWaitMilliseconds = 5000;
constexpr DWORD kStartPollMilliseconds = 10;
// Start values of the nearest-size search: the best pair and a best width
// or height that any real size beats.
constexpr int kNoBestPair = 9999999;
constexpr int kNoBestSide = 999999;

const char* const kSubtypeNames[CaptureManager::kSubtypeCount] = {
    "RGB24", "RGB32", "RGB555", "RGB565", "YUY2", "YVYU", "YUYV", "IYUV", "UYVY",
    "YV12",  "YVU9",  "Y411",   "Y41P",   "Y211", "AYUV", "Y800", "Y8",   "GREY",
};

// Connection index of OpenDevice to physical connector type.
const int kConnectorTypes[] = {PhysConn_Video_Composite, PhysConn_Video_SVideo, PhysConn_Video_Tuner,
                               PhysConn_Video_USB, PhysConn_Video_1394};

// A frame size the record can hold: positive, and its bytes fit an int.
bool UsableSize(long long width, long long height) {
    return width > 0 && height > 0 && width * height * 3 <= INT_MAX;
}

// The format block of a media type when it really is a video info header.
VIDEOINFOHEADER* VideoInfo(AM_MEDIA_TYPE* type) {
    if (type == nullptr || type->formattype != FORMAT_VideoInfo || type->pbFormat == nullptr ||
        type->cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
}

template <class Interface>
void ReleaseAndClear(Interface*& reference) {
    if (reference != nullptr) {
        reference->Release();
        reference = nullptr;
    }
}

}  // namespace

void CaptureManager::SetPhysicalConnection(int deviceId, int connection) {
    if (deviceId < 0 || deviceId >= kMaxDevices) return;
    if (connection < 0 || connection > 4) return;
    CaptureDevice* device = devices[deviceId];
    device->connectionType = kConnectorTypes[connection];
    device->connectionIndex = connection;
    device->connectionSet = true;
}

SubtypeName CaptureManager::MediaSubtypeName(GUID subtype) {
    SubtypeName result;
    std::memset(result.text, 0, sizeof result.text);
    const char* name = "OTHER";
    for (int i = 0; i < kSubtypeCount; ++i)
        if (subtypes[i] == subtype) {
            name = kSubtypeNames[i];
            break;
        }
    std::strncpy(result.text, name, sizeof result.text - 1);
    return result;
}

HRESULT CaptureManager::BuildCaptureGraph(CaptureDevice* device, int deviceId) {
    device->deviceId = deviceId;
    device->graphStarted = true;
    pinCategory = PIN_CATEGORY_CAPTURE;
    callbackModeLocked = 1;
    std::printf("SETUP: Setting up device %i\n", deviceId);

    // Closes the device after a failed step; the record is gone afterwards.
    auto fail = [this, deviceId](const char* line, HRESULT result) {
        std::printf("%s", line);
        CloseDevice(deviceId);
        return FAILED(result) ? result : E_FAIL;
    };

    HRESULT hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                  reinterpret_cast<void**>(&device->captureBuilder));
    if (FAILED(hr)) {
        std::printf("ERROR - Could not create the Filter Graph Manager\n");
        return hr;
    }
    hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                          reinterpret_cast<void**>(&device->graph));
    if (FAILED(hr)) return fail("ERROR - Could not add the graph builder!\n", hr);
    hr = device->captureBuilder->SetFiltergraph(device->graph);
    if (FAILED(hr)) return fail("ERROR - Could not set filtergraph\n", hr);
    hr = device->graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&device->control));
    if (FAILED(hr)) return fail("ERROR - Could not create the Media Control object\n", hr);
    hr = BindDeviceFilter(&device->captureFilter, deviceId, device->name, device->nameNarrow);
    if (FAILED(hr)) return fail("ERROR - Could not find specified video device\n", hr);

    std::printf("SETUP: %s\n", device->nameNarrow);
    device->graph->AddFilter(device->captureFilter, device->name);

    IAMStreamConfig* preview = nullptr;
    hr = device->captureBuilder->FindInterface(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, device->captureFilter,
                                               IID_IAMStreamConfig, reinterpret_cast<void**>(&preview));
    if (SUCCEEDED(hr)) {
        pinCategory = PIN_CATEGORY_PREVIEW;
        preview->Release();
    } else {
        std::printf("SETUP: Couldn't find preview pin using SmartTee\n");
    }

    if (device->connectionSet) {
        std::printf("SETUP: Checking crossbar\n");
        SelectCrossbarInput(device->captureBuilder, device->connectionType, pinCategory, device->captureFilter);
    }

    hr = device->captureBuilder->FindInterface(&pinCategory, &MEDIATYPE_Video, device->captureFilter,
                                               IID_IAMStreamConfig, reinterpret_cast<void**>(&device->streamConfig));
    if (FAILED(hr)) return fail("ERROR: Couldn't config the stream!\n", hr);

    hr = device->streamConfig->GetFormat(&device->mediaType);
    VIDEOINFOHEADER* defaultFormat = SUCCEEDED(hr) ? VideoInfo(device->mediaType) : nullptr;
    // Only a video format block of a size that a frame buffer can hold is used.
    if (defaultFormat == nullptr || !UsableSize(defaultFormat->bmiHeader.biWidth, defaultFormat->bmiHeader.biHeight))
        return fail("ERROR: Couldn't getFormat for pAmMediaType!\n", FAILED(hr) ? hr : VFW_E_INVALIDMEDIATYPE);
    const int defaultWidth = defaultFormat->bmiHeader.biWidth;
    const int defaultHeight = defaultFormat->bmiHeader.biHeight;

    int width = defaultWidth;
    int height = defaultHeight;
    bool negotiated = false;
    if (device->tryRequestedSize) {
        std::printf("SETUP: Default Format is set to %i by %i \n", defaultWidth, defaultHeight);
        for (int i = 0; i < kSubtypeCount && !negotiated; ++i) {
            std::printf("SETUP: trying format %s @ %i by %i\n", MediaSubtypeName(subtypes[i]).text,
                        device->requestedWidth, device->requestedHeight);
            if (ApplyCaptureFormat(device, device->requestedWidth, device->requestedHeight, subtypes[i])) {
                width = device->requestedWidth;
                height = device->requestedHeight;
                negotiated = true;
            }
        }
        if (!negotiated) {
            std::printf("SETUP: couldn't find requested size - searching for closest matching size\n");
            int foundWidth = -1;
            int foundHeight = -1;
            GUID foundSubtype = MEDIASUBTYPE_RGB24;
            FindNearestCaptureSize(device, device->requestedWidth, device->requestedHeight, &foundWidth, &foundHeight,
                                   &foundSubtype);
            if (foundWidth != -1 && foundHeight != -1) {
                std::printf("SETUP: closest supported size is %s @ %i %i\n", MediaSubtypeName(foundSubtype).text,
                            foundWidth, foundHeight);
                if (ApplyCaptureFormat(device, foundWidth, foundHeight, foundSubtype)) {
                    width = foundWidth;
                    height = foundHeight;
                    negotiated = true;
                }
            }
        }
    }
    if (!negotiated) {
        width = defaultWidth;
        height = defaultHeight;
        if (device->frameTime != -1) {
            VideoInfo(device->mediaType)->AvgTimePerFrame = device->frameTime;
            device->streamConfig->SetFormat(device->mediaType);
        }
    }

    device->SetSize(width, height);

    hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(&device->grabberFilter));
    if (FAILED(hr)) return fail("Could not Create Sample Grabber - CoCreateInstance()\n", hr);
    hr = device->graph->AddFilter(device->grabberFilter, u"Sample Grabber");
    if (FAILED(hr)) return fail("Could not add Sample Grabber - AddFilter()\n", hr);
    hr = device->grabberFilter->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&device->grabber));
    if (FAILED(hr)) return fail("ERROR: Could not query SampleGrabber\n", hr);

    device->grabber->SetOneShot(FALSE);
    device->grabber->SetBufferSamples(callbackMode ? FALSE : TRUE);
    if (callbackMode) {
        hr = device->grabber->SetCallback(device->callback, 0);
        if (FAILED(hr)) return fail("ERROR: problem setting callback\n", hr);
        std::printf("SETUP: Capture callback set\n");
    }

    AM_MEDIA_TYPE rgb;
    std::memset(&rgb, 0, sizeof rgb);
    rgb.majortype = MEDIATYPE_Video;
    rgb.subtype = MEDIASUBTYPE_RGB24;
    rgb.formattype = FORMAT_VideoInfo;
    device->grabber->SetMediaType(&rgb);

    ReleaseAndClear(device->streamConfig);

    hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(&device->nullRenderer));
    if (FAILED(hr)) return fail("ERROR: Could not create filter - NullRenderer\n", hr);
    hr = device->graph->AddFilter(device->nullRenderer, u"NullRenderer");
    if (FAILED(hr)) return fail("ERROR: Could not add filter - NullRenderer\n", hr);

    // Always the preview category: the builder puts a Smart Tee in front of
    // a capture pin when the device has no preview pin.
    hr = device->captureBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, device->captureFilter,
                                              device->grabberFilter, device->nullRenderer);
    if (FAILED(hr)) return fail("ERROR: Could not connect pins - RenderStream()\n", hr);

    IMediaFilter* mediaFilter = nullptr;
    hr = device->graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&mediaFilter));
    if (FAILED(hr)) {
        std::printf("ERROR: Could not get IID_IMediaFilter interface\n");
    } else {
        // No reference clock: samples pass as soon as they arrive.
        mediaFilter->SetSyncSource(nullptr);
        mediaFilter->Release();
    }

    hr = device->control->Run();
    if (FAILED(hr)) return fail("ERROR: Could not start graph\n", hr);

    if (!callbackMode && hr != S_OK) {
        // The graph is still on its way; the device is usable once its first
        // sample has arrived, and a device that sends none is given up.
        const auto started = std::chrono::steady_clock::now();
        for (;;) {
            LONG size = device->frameBytes;
            HRESULT sampled = device->grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG*>(device->frameBuffer));
            Sleep(kStartPollMilliseconds);
            if (sampled == S_OK) break;
            auto waited = std::chrono::steady_clock::now() - started;
            if (waited >= std::chrono::milliseconds(kStartWaitMilliseconds))
                return fail("ERROR: Could not start graph\n", sampled);
        }
    }

    std::printf("SETUP: Device is setup and ready to capture.\n\n");
    device->ready = true;

    ReleaseAndClear(device->captureFilter);
    ReleaseAndClear(device->grabberFilter);
    ReleaseAndClear(device->nullRenderer);
    return S_OK;
}

bool CaptureManager::ApplyCaptureFormat(CaptureDevice* device, int width, int height, GUID subtype) {
    // A size whose frame a record cannot hold is refused before the device sees it.
    if (!UsableSize(width, height)) return false;
    AM_MEDIA_TYPE* previous = nullptr;
    if (FAILED(device->streamConfig->GetFormat(&previous))) return false;

    VIDEOINFOHEADER* video = VideoInfo(device->mediaType);
    video->bmiHeader.biWidth = width;
    video->bmiHeader.biHeight = height;
    device->mediaType->formattype = FORMAT_VideoInfo;
    device->mediaType->majortype = MEDIATYPE_Video;
    device->mediaType->subtype = subtype;
    device->mediaType->lSampleSize = static_cast<ULONG>(width) * static_cast<ULONG>(height) * 3;
    // Without a rate of our own the one read from the device's earlier
    // format must not go along: 0 lets the device run the new format at
    // its fastest.
    video->AvgTimePerFrame = device->frameTime != -1 ? device->frameTime : 0;

    if (device->streamConfig->SetFormat(device->mediaType) == S_OK) {
        DestroyMediaType(previous);
        return true;
    }
    device->streamConfig->SetFormat(previous);
    DestroyMediaType(previous);
    return false;
}

void CaptureManager::FindNearestCaptureSize(CaptureDevice* device, int requestedWidth, int requestedHeight,
                                            int* width, int* height, GUID* subtype) {
    int count = 0;
    int size = 0;
    if (FAILED(device->streamConfig->GetNumberOfCapabilities(&count, &size))) return;
    if (size != static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)) || count <= 0) return;

    // Distances in 64 bits: requested sizes come from the caller unchecked.
    long long bestPairWidth = kNoBestPair;
    long long bestPairHeight = kNoBestPair;
    auto distance = [](long long a, long long b) { return a > b ? a - b : b - a; };

    for (int index = 0; index < count; ++index) {
        AM_MEDIA_TYPE* type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (FAILED(device->streamConfig->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps))) || type == nullptr)
            continue;
        if (caps.OutputGranularityX < 1 || caps.OutputGranularityY < 1) {
            DestroyMediaType(type);
            continue;
        }
        bool exactWidth = false;
        bool exactHeight = false;
        long long bestWidth = kNoBestSide;
        long long bestHeight = kNoBestSide;
        // Sides that could never be a frame are left out of the search.
        for (long long w = caps.MinOutputSize.cx; w <= caps.MaxOutputSize.cx; w += caps.OutputGranularityX) {
            if (!UsableSize(w, 1)) continue;
            if (w == requestedWidth) {
                exactWidth = true;
                bestWidth = w;
            } else if (distance(requestedWidth, w) < distance(requestedWidth, bestWidth)) {
                bestWidth = w;
            }
        }
        for (long long h = caps.MinOutputSize.cy; h <= caps.MaxOutputSize.cy; h += caps.OutputGranularityY) {
            if (!UsableSize(1, h)) continue;
            if (h == requestedHeight) {
                exactHeight = true;
                bestHeight = h;
            } else if (distance(requestedHeight, h) < distance(requestedHeight, bestHeight)) {
                bestHeight = h;
            }
        }
        if (exactWidth && exactHeight) {
            *width = requestedWidth;
            *height = requestedHeight;
            *subtype = type->subtype;
            DestroyMediaType(type);
            return;
        }
        if (bestWidth != kNoBestSide && bestHeight != kNoBestSide && UsableSize(bestWidth, bestHeight) &&
            distance(requestedHeight, bestHeight) + distance(requestedWidth, bestWidth) <
                distance(requestedHeight, bestPairHeight) + distance(requestedWidth, bestPairWidth)) {
            *width = static_cast<int>(bestWidth);
            *height = static_cast<int>(bestHeight);
            *subtype = type->subtype;
            bestPairWidth = bestWidth;
            bestPairHeight = bestHeight;
        }
        DestroyMediaType(type);
    }
}

HRESULT CaptureManager::SelectCrossbarInput(ICaptureGraphBuilder2* builder, int connectionType, GUID category,
                                            IBaseFilter* captureFilter) {
    IAMCrossbar* crossbar = nullptr;
    HRESULT hr = builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, captureFilter, IID_IAMCrossbar,
                                        reinterpret_cast<void**>(&crossbar));
    if (FAILED(hr)) {
        std::printf("SETUP: You are a webcam or snazzy firewire cam! No Crossbar needed\n");
        return hr;
    }
    std::printf("SETUP: You are not a webcam! Setting Crossbar\n");
    crossbar->Release();
    crossbar = nullptr;

    hr = builder->FindInterface(&category, &MEDIATYPE_Interleaved, captureFilter, IID_IAMCrossbar,
                                reinterpret_cast<void**>(&crossbar));
    if (hr != S_OK) {
        crossbar = nullptr;
        hr = builder->FindInterface(&category, &MEDIATYPE_Video, captureFilter, IID_IAMCrossbar,
                                    reinterpret_cast<void**>(&crossbar));
    }
    if (FAILED(hr) || crossbar == nullptr) return hr;

    LONG outputs = 0;
    LONG inputs = 0;
    crossbar->get_PinCounts(&outputs, &inputs);

    LONG related = 0;
    LONG type = 0;
    LONG input = -1;
    for (LONG i = 0; i < inputs; ++i) {
        hr = crossbar->get_CrossbarPinInfo(TRUE, i, &related, &type);
        if (SUCCEEDED(hr) && type == connectionType) {
            input = i;
            break;
        }
    }
    if (input == -1) {
        std::printf("SETUP: Didn't find specified Physical Connection type. Using Defualt. \n");
        crossbar->Release();
        return hr;
    }
    std::printf("SETUP: Found Physical Interface");
    switch (connectionType) {
        case PhysConn_Video_Tuner: std::printf(" - Tuner\n"); break;
        case PhysConn_Video_Composite: std::printf(" - Composite\n"); break;
        case PhysConn_Video_SVideo: std::printf(" - S-Video\n"); break;
        case PhysConn_Video_1394: std::printf(" - Firewire\n"); break;
        case PhysConn_Video_USB: std::printf(" - USB\n"); break;
        default: break;
    }

    // Without a video decoder output the input goes to the first output.
    LONG output = 0;
    for (LONG i = 0; i < outputs; ++i) {
        hr = crossbar->get_CrossbarPinInfo(FALSE, i, &related, &type);
        if (SUCCEEDED(hr) && type == PhysConn_Video_VideoDecoder) {
            output = i;
            break;
        }
    }
    crossbar->Route(output, input);
    crossbar->Release();
    return hr;
}

bool CaptureManager::SetAnalogVideoFormat(int deviceId, int formatIndex) {
    if (deviceId < 0 || deviceId >= kMaxDevices || !devices[deviceId]->ready) return false;
    if (formatIndex < 0 || formatIndex >= kSubtypeCount) return false;
    CaptureDevice* device = devices[deviceId];
    device->analogFormat = analogFormats[formatIndex];
    device->analogFormatSet = true;

    if (BindDeviceFilter(&device->captureFilter, deviceId, device->name, device->nameNarrow) != S_OK) {
        ReleaseAndClear(device->captureFilter);
        return false;
    }
    IAMAnalogVideoDecoder* decoder = nullptr;
    HRESULT hr = device->captureBuilder->FindInterface(nullptr, &MEDIATYPE_Video, device->captureFilter,
                                                       IID_IAMAnalogVideoDecoder, reinterpret_cast<void**>(&decoder));
    ReleaseAndClear(device->captureFilter);
    if (FAILED(hr)) {
        std::printf("SETUP: couldn't set requested format\n");
        return false;
    }
    LONG available = 0;
    bool set = false;
    if (SUCCEEDED(decoder->get_AvailableTVFormats(&available)) && (available & device->analogFormat) != 0) {
        if (FAILED(decoder->put_TVFormat(device->analogFormat)))
            std::printf("SETUP: couldn't set requested format\n");
        else
            set = true;
    }
    decoder->Release();
    return set;
}
