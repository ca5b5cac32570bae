// The capture-device manager: lists the video input devices, opens one at a
// requested frame size, hands out its latest frame as a top-down RGB buffer,
// closes it again and opens the device's own settings.
//
// Frame contract of GetPixels: exactly width × height × 3 bytes of the
// device's record (the negotiated size, which may differ from the one asked
// for), rows top-down and packed, each pixel red, green, blue.
//
// Every step and failure writes one diagnostic line to standard output; the
// operations report failure only through their results.
#pragma once

#include <atomic>
#include <cstdint>

#include "capture_device.h"
#include "dshow.h"
#include "win32_types.h"

// A media subtype's short name, by value.
struct SubtypeName {
    char text[8];
};

class CaptureManager {
public:
    static constexpr int kMaxDevices = 20;
    static constexpr int kNameUnits = 255;
    static constexpr int kSubtypeCount = 18;

    CaptureManager();
    ~CaptureManager();
    CaptureManager(const CaptureManager&) = delete;
    CaptureManager& operator=(const CaptureManager&) = delete;

    // Names the devices in deviceNames and answers how many there are.
    static int EnumerateDevices();
    // true: frames through the per-sample callback; false: from the grabber's
    // buffer. Only before the first set-up.
    void setUseCallback(bool useCallback);
    // Sets a device up at about this size; connection is an index 0 to 4.
    bool OpenDevice(int deviceId, int width, int height, int connection);
    // In buffer mode also closes a device that has been unplugged.
    bool HasNewFrame(int deviceId);
    // Writes the latest frame into dst (at least width × height × 3 bytes).
    bool GetPixels(int deviceId, BYTE* dst);
    // Tears the device down and puts a fresh record into its slot.
    void CloseDevice(int deviceId);
    // Opens the device's settings on a thread of their own; returns at once.
    void ShowDeviceSettings(int deviceId);

    // ---- inside the library
    bool CheckAndOpenDevice(int deviceId);
    static int CountDevices();
    static HRESULT BindDeviceFilter(IBaseFilter** out, int index, WCHAR* name, char* nameNarrow);
    void SetPhysicalConnection(int deviceId, int connection);
    HRESULT BuildCaptureGraph(CaptureDevice* device, int deviceId);
    static HRESULT SelectCrossbarInput(ICaptureGraphBuilder2* builder, int connectionType, GUID category,
                                       IBaseFilter* captureFilter);
    bool ApplyCaptureFormat(CaptureDevice* device, int width, int height, GUID subtype);
    void FindNearestCaptureSize(CaptureDevice* device, int requestedWidth, int requestedHeight, int* width,
                                int* height, GUID* subtype);
    SubtypeName MediaSubtypeName(GUID subtype);
    bool SetAnalogVideoFormat(int deviceId, int formatIndex);
    bool ReopenDevice(int deviceId);

    int deviceCount;         // devices counted by the last open attempt
    int callbackModeLocked;  // non-zero once the frame mode may not change
    bool callbackMode;       // frames through the callback (true) or the grabber's buffer
    GUID pinCategory;        // pin category of the current set-up
    GUID subtypeY800;
    GUID subtypeY8;
    GUID subtypeGrey;
    CaptureDevice* devices[kMaxDevices];  // never null
    GUID subtypes[kSubtypeCount];         // tried in this order at set-up
    int32_t analogFormats[kSubtypeCount];

    static WCHAR deviceNames[kMaxDevices][kNameUnits];
    static int comUseCount;
    // Set while a settings window is open; written by the settings thread.
    static std::atomic<bool> settingsWindowOpen;

private:
    bool ValidOpenDevice(int deviceId) const;
};

// Turns a bottom-up blue-green-red frame into a top-down red-green-blue one.
void FlipAndSwapPixels(BYTE* dst, int height, const BYTE* src, int width);

// Body of the settings thread: shows the filter's pages until they are
// closed, then releases the filter and clears the open flag.
void SettingsThread(void* filter);

// Shows a filter's property pages and returns when the user closes them.
HRESULT OpenPropertyFrame(IBaseFilter* filter);
