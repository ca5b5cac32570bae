#include "capture_manager.h"

#include <cstdio>
#include <cstring>

#include "sample_grabber_callback.h"
#include "win32_sync.h"

WCHAR CaptureManager::deviceNames[CaptureManager::kMaxDevices][CaptureManager::kNameUnits];
int CaptureManager::comUseCount = 0;
std::atomic<bool> CaptureManager::settingsWindowOpen{false};

namespace {

constexpr double kLibraryVersion = 0.1995;
// A listed name keeps at most this many units, then a terminating 0.
constexpr int kMaxNameUnits = 253;

void StartComponentLibrary() {
    if (CaptureManager::comUseCount == 0) {
        if (CoInitialize(nullptr) == RPC_E_CHANGED_MODE)
            std::printf("SETUP - COM already setup - threaded capture might not be possible\n");
    }
    ++CaptureManager::comUseCount;
}

void StopComponentLibrary() {
    if (CaptureManager::comUseCount > 0) {
        --CaptureManager::comUseCount;
        if (CaptureManager::comUseCount == 0) CoUninitialize();
    }
}

// The enumerator of the video input category, or null with the result that
// stopped it (S_FALSE when the category is empty).
HRESULT VideoInputMonikers(ICreateDevEnum** devices, IEnumMoniker** monikers) {
    *devices = nullptr;
    *monikers = nullptr;
    HRESULT result = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                      reinterpret_cast<void**>(devices));
    if (FAILED(result)) return result;
    result = (*devices)->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers, 0);
    if (result != S_OK && *monikers != nullptr) {
        (*monikers)->Release();
        *monikers = nullptr;
    }
    return result;
}

IPropertyBag* OpenPropertyBag(IMoniker* moniker) {
    IPropertyBag* bag = nullptr;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) return nullptr;
    return bag;
}

}  // namespace

CaptureManager::CaptureManager() {
    StartComponentLibrary();
    deviceCount = 0;
    callbackModeLocked = 0;
    callbackMode = true;
    pinCategory = PIN_CATEGORY_CAPTURE;
    for (int i = 0; i < kMaxDevices; ++i) devices[i] = new CaptureDevice;
    std::printf("\n***** CAPTURE LIBRARY - %2.04f - QDL42 *****\n\n", kLibraryVersion);

    subtypeY800 = FourccGuid(MakeFourcc('Y', '8', '0', '0'));
    subtypeY8 = FourccGuid(0x38590000);  // "Y8" in the two upper bytes
    subtypeGrey = FourccGuid(MakeFourcc('G', 'R', 'E', 'Y'));
    const GUID order[kSubtypeCount] = {
        MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB555, MEDIASUBTYPE_RGB565, MEDIASUBTYPE_YUY2,
        MEDIASUBTYPE_YVYU,  MEDIASUBTYPE_YUYV,  MEDIASUBTYPE_IYUV,   MEDIASUBTYPE_UYVY,   MEDIASUBTYPE_YV12,
        MEDIASUBTYPE_YVU9,  MEDIASUBTYPE_Y411,  MEDIASUBTYPE_Y41P,   MEDIASUBTYPE_Y211,   MEDIASUBTYPE_AYUV,
        subtypeY800,        subtypeY8,          subtypeGrey,
    };
    const int32_t standards[kSubtypeCount] = {
        AnalogVideo_NTSC_M,  AnalogVideo_PAL_B,   AnalogVideo_PAL_D,       AnalogVideo_PAL_G,   AnalogVideo_PAL_H,
        AnalogVideo_PAL_I,   AnalogVideo_PAL_M,   AnalogVideo_PAL_N,       AnalogVideo_PAL_N_COMBO,
        AnalogVideo_SECAM_B, AnalogVideo_SECAM_D, AnalogVideo_SECAM_G,     AnalogVideo_SECAM_H, AnalogVideo_SECAM_K,
        AnalogVideo_SECAM_K1, AnalogVideo_SECAM_L, AnalogVideo_NTSC_M_J,   AnalogVideo_NTSC_433,
    };
    for (int i = 0; i < kSubtypeCount; ++i) {
        subtypes[i] = order[i];
        analogFormats[i] = standards[i];
    }
}

CaptureManager::~CaptureManager() {
    for (int i = 0; i < kMaxDevices; ++i) {
        delete devices[i];
        devices[i] = nullptr;
    }
    StopComponentLibrary();
}

int CaptureManager::EnumerateDevices() {
    StartComponentLibrary();
    std::printf("\nCAPTURE SPY MODE!\n\n");
    int count = 0;
    ICreateDevEnum* systemDevices = nullptr;
    IEnumMoniker* monikers = nullptr;
    HRESULT result = VideoInputMonikers(&systemDevices, &monikers);
    if (systemDevices != nullptr) {
        if (result != S_OK) {
            std::printf("SETUP: %i Device(s) found\n\n", 0);
        } else {
            std::printf("SETUP: Looking For Capture Devices\n");
            IMoniker* moniker = nullptr;
            while (monikers->Next(1, &moniker, nullptr) == S_OK) {
                IPropertyBag* bag = OpenPropertyBag(moniker);
                if (bag == nullptr) {
                    moniker->Release();
                    continue;
                }
                VARIANT name;
                VariantInit(&name);
                bool named = SUCCEEDED(bag->Read(u"Description", &name, nullptr));
                if (!named) named = SUCCEEDED(bag->Read(u"FriendlyName", &name, nullptr));
                if (named) {
                    // The friendly name wins when there is one.
                    VARIANT friendly;
                    VariantInit(&friendly);
                    if (SUCCEEDED(bag->Read(u"FriendlyName", &friendly, nullptr)) && friendly.vt == VT_BSTR) {
                        VariantClear(&name);
                        name = friendly;
                    }
                    const WCHAR* text = name.vt == VT_BSTR && name.bstrVal != nullptr ? name.bstrVal : u"";
                    char narrow[kMaxNameUnits + 1];
                    int length = 0;
                    for (; length < kMaxNameUnits && text[length] != 0; ++length)
                        narrow[length] = static_cast<char>(text[length]);
                    narrow[length] = 0;
                    // Names of devices past the last slot are listed but not kept.
                    if (count < kMaxDevices) {
                        std::memcpy(deviceNames[count], text, sizeof(WCHAR) * static_cast<size_t>(length));
                        deviceNames[count][length] = 0;
                    }
                    std::printf("SETUP: %i) %s \n", count, narrow);
                }
                VariantClear(&name);
                bag->Release();
                moniker->Release();
                ++count;
            }
            std::printf("SETUP: %i Device(s) found\n\n", count);
        }
        if (monikers != nullptr) monikers->Release();
        systemDevices->Release();
    }
    StopComponentLibrary();
    return count;
}

int CaptureManager::CountDevices() {
    int count = 0;
    ICreateDevEnum* systemDevices = nullptr;
    IEnumMoniker* monikers = nullptr;
    if (VideoInputMonikers(&systemDevices, &monikers) == S_OK) {
        IMoniker* moniker = nullptr;
        while (monikers->Next(1, &moniker, nullptr) == S_OK) {
            if (IPropertyBag* bag = OpenPropertyBag(moniker)) {
                bag->Release();
                ++count;
            }
            moniker->Release();
        }
    }
    if (monikers != nullptr) monikers->Release();
    if (systemDevices != nullptr) systemDevices->Release();
    return count;
}

HRESULT CaptureManager::BindDeviceFilter(IBaseFilter** out, int index, WCHAR* name, char* nameNarrow) {
    ICreateDevEnum* systemDevices = nullptr;
    IEnumMoniker* monikers = nullptr;
    HRESULT result = VideoInputMonikers(&systemDevices, &monikers);
    if (systemDevices == nullptr) return result;
    if (result != S_OK) {
        systemDevices->Release();
        return VFW_E_NOT_FOUND;
    }
    HRESULT bound = VFW_E_NOT_FOUND;
    bool found = false;
    int position = 0;
    IMoniker* moniker = nullptr;
    while (!found && monikers->Next(1, &moniker, nullptr) == S_OK) {
        // Devices are counted as the listing counts them: one whose
        // properties cannot be read has no index.
        IPropertyBag* bag = OpenPropertyBag(moniker);
        if (bag == nullptr) {
            moniker->Release();
            continue;
        }
        if (position == index) {
            VARIANT friendly;
            VariantInit(&friendly);
            if (SUCCEEDED(bag->Read(u"FriendlyName", &friendly, nullptr)) && friendly.vt == VT_BSTR) {
                const WCHAR* text = friendly.bstrVal != nullptr ? friendly.bstrVal : u"";
                int length = 0;
                for (; length < kMaxNameUnits && text[length] != 0; ++length) {
                    name[length] = text[length];
                    nameNarrow[length] = static_cast<char>(text[length]);
                }
                name[length] = 0;
                nameNarrow[length] = 0;
                bound = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(out));
                found = true;
            }
            VariantClear(&friendly);
        }
        ++position;
        bag->Release();
        moniker->Release();
    }
    monikers->Release();
    systemDevices->Release();
    return found ? bound : VFW_E_NOT_FOUND;
}

void CaptureManager::setUseCallback(bool useCallback) {
    if (callbackModeLocked != 0) {
        std::printf("ERROR: setUseCallback can only be called before setup\n");
        return;
    }
    callbackMode = useCallback;
    callbackModeLocked = 1;
}

bool CaptureManager::OpenDevice(int deviceId, int width, int height, int connection) {
    if (deviceId < 0 || deviceId >= kMaxDevices || devices[deviceId]->ready) return false;
    CaptureDevice* device = devices[deviceId];
    device->requestedWidth = width;
    device->requestedHeight = height;
    device->tryRequestedSize = true;
    SetPhysicalConnection(deviceId, connection);
    return CheckAndOpenDevice(deviceId);
}

bool CaptureManager::CheckAndOpenDevice(int deviceId) {
    deviceCount = CountDevices();
    if (deviceId > deviceCount - 1) {
        std::printf("SETUP: device[%i] not found - you have %i devices available\n", deviceId, deviceCount);
        if (deviceCount >= 0) std::printf("SETUP: this means that the last device you can use is device[%i] \n", deviceCount - 1);
        return false;
    }
    CaptureDevice* device = devices[deviceId];
    if (device->ready) {
        std::printf("SETUP: can't setup, device %i is currently being used\n", device->deviceId);
        return false;
    }
    return BuildCaptureGraph(device, deviceId) == S_OK;
}

bool CaptureManager::ValidOpenDevice(int deviceId) const {
    return deviceId >= 0 && deviceId < kMaxDevices && deviceId < deviceCount && devices[deviceId]->ready;
}

bool CaptureManager::HasNewFrame(int deviceId) {
    if (!ValidOpenDevice(deviceId)) return false;
    if (!callbackMode) {
        // A sample that GetPixels has already taken is no new frame: reading
        // one picture twice would confirm a camera reading with itself.
        CaptureDevice* device = devices[deviceId];
        LONGLONG number = 0;
        const HRESULT sampled = device->grabber->GetCurrentSampleNumber(&number);
        if (sampled == VFW_E_NO_CAPTURE_HARDWARE) {
            // Unplugged: no frame will come again. Closed, the slot is free
            // for a new set-up once the camera is back.
            std::printf("ERROR: Lost device %i - closing it\n", deviceId);
            CloseDevice(deviceId);
            return false;
        }
        return sampled == S_OK && number != 0 && number != device->lastSampleTaken;
    }

    CaptureDevice* device = devices[deviceId];
    SampleGrabberCallback* callback = device->callback;
    EnterCriticalSection(&callback->lock);
    bool result = callback->frameWaiting;
    bool frozen = device->pollCount > 400 && callback->pollsSinceFrame > device->freezeThreshold;
    ++callback->pollsSinceFrame;
    LeaveCriticalSection(&callback->lock);
    ++device->pollCount;

    if (frozen && device->reopenWhenFrozen) {
        std::printf("ERROR: Device seems frozen - attempting to reconnect\n");
        if (ReopenDevice(device->deviceId))
            std::printf("SUCCESS: Able to reconnect to device\n");
        else
            std::printf("ERROR: Unable to reconnect to device\n");
    }
    return result;
}

bool CaptureManager::GetPixels(int deviceId, BYTE* dst) {
    if (!ValidOpenDevice(deviceId)) return false;
    CaptureDevice* device = devices[deviceId];

    if (callbackMode) {
        SampleGrabberCallback* callback = device->callback;
        if (WaitForSingleObject(callback->frameEvent, 1000) != WAIT_OBJECT_0) return false;
        EnterCriticalSection(&callback->lock);
        FlipAndSwapPixels(dst, device->height, callback->sampleCopy, device->width);
        callback->frameWaiting = false;
        LeaveCriticalSection(&callback->lock);
        ResetEvent(callback->frameEvent);
        return true;
    }

    LONG size = device->frameBytes;
    if (device->grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG*>(device->frameBuffer)) != S_OK) {
        std::printf("ERROR: GetPixels() - Unable to grab frame for device %i\n", deviceId);
        return false;
    }
    // The sample copied is this one or, when another came in meanwhile, an
    // older one: noting the newest at worst passes over a frame, and never
    // offers one picture twice.
    LONGLONG number = 0;
    if (device->grabber->GetCurrentSampleNumber(&number) == S_OK) device->lastSampleTaken = number;
    if (size != device->frameBytes) {
        std::printf("ERROR: GetPixels() - bufferSizes do not match!\n");
        return false;
    }
    FlipAndSwapPixels(dst, device->height, device->frameBuffer, device->width);
    return true;
}

void FlipAndSwapPixels(BYTE* dst, int height, const BYTE* src, int width) {
    if (width <= 0 || height <= 0) return;
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    // The destination is written strictly in order, row by row from the
    // source's last row up.
    for (int row = height - 1; row >= 0; --row) {
        const BYTE* source = src + static_cast<size_t>(row) * rowBytes;
        const BYTE* const end = source + rowBytes;
        for (; source != end; source += 3, dst += 3) {
            dst[0] = source[2];
            dst[1] = source[1];
            dst[2] = source[0];
        }
    }
}

void CaptureManager::CloseDevice(int deviceId) {
    if (deviceId < 0 || deviceId >= kMaxDevices) return;
    delete devices[deviceId];
    devices[deviceId] = new CaptureDevice;
}

bool CaptureManager::ReopenDevice(int deviceId) {
    if (!ValidOpenDevice(deviceId)) return false;
    CaptureDevice* device = devices[deviceId];
    const int connection = device->connectionIndex;
    const int width = device->width;
    const int height = device->height;
    const int frameTime = device->frameTime;
    const bool analogFormatSet = device->analogFormatSet;
    const int32_t analogFormat = device->analogFormat;
    const int freezeThreshold = device->freezeThreshold;
    const bool reopenWhenFrozen = device->reopenWhenFrozen;

    CloseDevice(deviceId);
    if (frameTime != -1) devices[deviceId]->frameTime = frameTime;
    if (!OpenDevice(deviceId, width, height, connection)) return false;
    if (analogFormatSet) {
        for (int i = 0; i < kSubtypeCount; ++i)
            if (analogFormats[i] == analogFormat) {
                SetAnalogVideoFormat(deviceId, i);
                break;
            }
    }
    if (reopenWhenFrozen) {
        devices[deviceId]->reopenWhenFrozen = true;
        devices[deviceId]->freezeThreshold = freezeThreshold;
    }
    return true;
}
