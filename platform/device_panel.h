// A device's settings on this platform: a control panel program run as a
// process of its own on the device node (Debian's qv4l2), when one is installed.
#pragma once

#include <string>

#include "dshow.h"

// The property page that stands for the control panel.
inline constexpr CLSID CLSID_DeviceControlPanelPage = {0x87b7e956, 0x02f9, 0x470b, {0x87, 0x60, 0x49, 0x78, 0x1c, 0xcf, 0xf5, 0x3e}};

// What an object offers to the control panel: the node it works on.
struct IDevicePanelTarget : IUnknown {
    virtual const char* DevicePath() = 0;
};
inline constexpr IID IID_IDevicePanelTarget = {0x46df9e56, 0x0b5f, 0x420a, {0xa5, 0xee, 0xa0, 0x58, 0x4d, 0xa1, 0x01, 0x5d}};

// The control panel program found on the PATH, or an empty string.
std::string FindDevicePanel();

// Runs the panel on a device node and waits until the user closes it.
HRESULT RunDevicePanel(const std::string& program, const std::string& devicePath);
