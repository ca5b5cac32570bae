// The device settings window: a control panel process on its own thread.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "capture_manager.h"
#include "capture_test_support.h"
#include "win32_sync.h"

namespace {

// A PATH of one folder, which may hold a stand-in for the control panel that
// records its arguments and stays open until the test lets it go.
class PanelFolder {
public:
    explicit PanelFolder(bool withPanel) {
        char pattern[] = "/tmp/settings-XXXXXX";
        m_path = mkdtemp(pattern);
        const char* old = std::getenv("PATH");
        m_previous = old != nullptr ? old : "";
        setenv("PATH", m_path.c_str(), 1);
        if (!withPanel) return;
        std::string panel = m_path + "/qv4l2";
        // The arguments appear at once and whole: a file being written
        // could be read empty.
        std::ofstream(panel) << "#!/bin/sh\necho \"$@\" > " << m_path << "/arguments.new\n"
                             << "/bin/mv " << m_path << "/arguments.new " << m_path << "/arguments\n"
                             << "while [ ! -e " << m_path << "/close ]; do /bin/sleep 0.01; done\n";
        chmod(panel.c_str(), 0755);
    }
    ~PanelFolder() {
        Close();
        WaitUntil([] { return !CaptureManager::settingsWindowOpen; });
        setenv("PATH", m_previous.c_str(), 1);
        std::system(("rm -rf " + m_path).c_str());
    }
    void Close() { std::ofstream(m_path + "/close") << "\n"; }
    std::string Arguments() {
        WaitUntil([this] { return access((m_path + "/arguments").c_str(), F_OK) == 0; });
        std::string line;
        std::ifstream in(m_path + "/arguments");
        std::getline(in, line);
        return line;
    }

private:
    std::string m_path;
    std::string m_previous;
};

struct OpenCamera {
    FakeVideoKernel kernel;
    CaptureManager manager;
    OpenCamera() {
        kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(64, 48)});
        manager.setUseCallback(false);
        EXPECT_TRUE(manager.OpenDevice(0, 64, 48, 3));
    }
};

}  // namespace

TEST(DeviceSettings, PanelRunsOnTheDeviceWhileTheFlagIsSet) {
    PanelFolder folder(true);
    OpenCamera camera;
    camera.manager.ShowDeviceSettings(0);
    EXPECT_TRUE(CaptureManager::settingsWindowOpen);
    EXPECT_EQ(camera.manager.devices[0]->captureFilter, nullptr);
    EXPECT_EQ(folder.Arguments(), "-d /dev/video0");
    // Frames keep coming while the panel is open.
    std::vector<BYTE> frame(64 * 48 * 3);
    EXPECT_TRUE(camera.manager.GetPixels(0, frame.data()));
    EXPECT_TRUE(CaptureManager::settingsWindowOpen);
    folder.Close();
    EXPECT_TRUE(WaitUntil([] { return !CaptureManager::settingsWindowOpen; }));
    EXPECT_TRUE(WaitUntil([&] { return camera.kernel.OpenDescriptors() == 1; }));  // the stream's own
}

TEST(DeviceSettings, WithoutAPanelTheWindowClosesAtOnce) {
    PanelFolder folder(false);
    OpenCamera camera;
    StdoutLines out;
    camera.manager.ShowDeviceSettings(0);
    EXPECT_TRUE(WaitUntil([] { return !CaptureManager::settingsWindowOpen; }));
    EXPECT_EQ(camera.manager.devices[0]->captureFilter, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return camera.kernel.OpenDescriptors() == 1; }));
    EXPECT_EQ(out.Take(), "");
}

TEST(DeviceSettings, ClosingTheDeviceUnderAnOpenPanelIsSafe) {
    PanelFolder folder(true);
    {
        OpenCamera camera;
        camera.manager.ShowDeviceSettings(0);
        folder.Arguments();
        camera.manager.CloseDevice(0);
        EXPECT_TRUE(CaptureManager::settingsWindowOpen);
        folder.Close();
        EXPECT_TRUE(WaitUntil([] { return !CaptureManager::settingsWindowOpen; }));
        EXPECT_TRUE(WaitUntil([&] { return camera.kernel.OpenDescriptors() == 0; }));
    }
}

TEST(DeviceSettings, ThreadThatCannotStartLeavesTheFlagClear) {
    PanelFolder folder(true);
    OpenCamera camera;
    SetThreadStartFailureForTesting(true);
    camera.manager.ShowDeviceSettings(0);
    SetThreadStartFailureForTesting(false);
    EXPECT_FALSE(CaptureManager::settingsWindowOpen);
    EXPECT_EQ(camera.kernel.OpenDescriptors(), 1);
}

TEST(DeviceSettings, DeviceThatIsNotOpenShowsNothing) {
    PanelFolder folder(true);
    FakeVideoKernel kernel;
    kernel.AddCamera("Cam", V4L2_PIX_FMT_YUYV, {Discrete(64, 48)});
    CaptureManager manager;
    manager.ShowDeviceSettings(0);
    EXPECT_FALSE(CaptureManager::settingsWindowOpen);
    EXPECT_EQ(kernel.OpenDescriptors(), 0);
}
