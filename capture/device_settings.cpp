// The device's own settings window, shown on a thread of its own.
#include <cstdio>
#include <cstring>

#include "capture_manager.h"
#include "win32_sync.h"

void CaptureManager::ShowDeviceSettings(int deviceId) {
    if (!ValidOpenDevice(deviceId)) return;
    CaptureDevice* device = devices[deviceId];
    if (BindDeviceFilter(&device->captureFilter, deviceId, device->name, device->nameNarrow) != S_OK) {
        if (device->captureFilter != nullptr) {
            device->captureFilter->Release();
            device->captureFilter = nullptr;
        }
        return;
    }
    // The thread takes the filter reference over and never looks at the
    // record, which Pause or the window's end may delete while it runs.
    IBaseFilter* filter = device->captureFilter;
    device->captureFilter = nullptr;
    settingsWindowOpen = true;
    if (_beginthread(SettingsThread, 0, filter) == static_cast<uintptr_t>(-1)) {
        filter->Release();
        settingsWindowOpen = false;
    }
}

void SettingsThread(void* argument) {
    IBaseFilter* filter = static_cast<IBaseFilter*>(argument);
    OpenPropertyFrame(filter);
    filter->Release();
    CaptureManager::settingsWindowOpen = false;
}

HRESULT OpenPropertyFrame(IBaseFilter* filter) {
    ISpecifyPropertyPages* pages = nullptr;
    HRESULT hr = filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&pages));
    if (FAILED(hr)) return hr;

    FILTER_INFO info;
    std::memset(&info, 0, sizeof info);
    hr = filter->QueryFilterInfo(&info);
    IUnknown* unknown = nullptr;
    filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
    CAUUID pageIds;
    std::memset(&pageIds, 0, sizeof pageIds);
    pages->GetPages(&pageIds);
    pages->Release();

    if (unknown != nullptr)
        OleCreatePropertyFrame(nullptr, 0, 0, info.achName, 1, &unknown, pageIds.cElems, pageIds.pElems, 0, 0,
                               nullptr);

    if (unknown != nullptr) unknown->Release();
    if (info.pGraph != nullptr) info.pGraph->Release();
    CoTaskMemFree(pageIds.pElems);
    return hr;
}
