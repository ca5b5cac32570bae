// What the capture tests share: reading the diagnostic lines, a device list
// of the test's own making in place of the system's, and a camera on the fake
// kernel interface.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "capture_manager.h"
#include "fake_video_kernel.h"

// Everything written to standard output between construction and Take().
class StdoutLines {
public:
    StdoutLines() { testing::internal::CaptureStdout(); }
    ~StdoutLines() {
        if (!m_taken) testing::internal::GetCapturedStdout();
    }
    std::string Take() {
        m_taken = true;
        std::fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

private:
    bool m_taken = false;
};

// How often text occurs in output.
inline int Count(const std::string& output, const std::string& text) {
    int count = 0;
    for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + text.size())) ++count;
    return count;
}

// Polls until the condition holds. The limit is only a safety net against a
// hang: it leaves room for ThreadSanitizer on a busy machine.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// One entry of a device list made by a test.
struct ListedDevice {
    bool bagOpens = true;
    std::u16string description;   // empty: the bag has none
    std::u16string friendlyName;  // empty: the bag has none
};

// Puts a device enumerator that lists the given devices in place of the
// system's for as long as it lives. Binding a filter always fails.
class ListedDevices {
public:
    explicit ListedDevices(std::vector<ListedDevice> devices);
    ~ListedDevices();
};

// Red, green, blue of pixel (x, y) in a top-down RGB frame.
inline std::vector<int> PixelAt(const std::vector<BYTE>& frame, int width, int x, int y) {
    const BYTE* p = &frame[(static_cast<size_t>(y) * width + x) * 3];
    return {p[0], p[1], p[2]};
}
