#include "device_panel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// A folder that stands in for the PATH, removed with what it holds.
struct PathFolder {
    std::string path;
    std::string previous;
    PathFolder() {
        char pattern[] = "/tmp/panel-XXXXXX";
        path = mkdtemp(pattern);
        const char* old = std::getenv("PATH");
        previous = old != nullptr ? old : "";
        setenv("PATH", path.c_str(), 1);
    }
    std::string AddScript(const std::string& name, const std::string& body) {
        std::string file = path + "/" + name;
        std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
        chmod(file.c_str(), 0755);
        return file;
    }
    ~PathFolder() {
        setenv("PATH", previous.c_str(), 1);
        std::system(("rm -rf " + path).c_str());
    }
};

}  // namespace

TEST(DevicePanel, FoundOnlyWhenAnExecutablePanelIsOnThePath) {
    PathFolder folder;
    EXPECT_EQ(FindDevicePanel(), "");
    std::string plain = folder.path + "/qv4l2";
    std::ofstream(plain) << "not a program";
    EXPECT_EQ(FindDevicePanel(), "");
    chmod(plain.c_str(), 0755);
    EXPECT_EQ(FindDevicePanel(), plain);
}

TEST(DevicePanel, RunsThePanelOnTheNodeAndWaitsForIt) {
    PathFolder folder;
    std::string record = folder.path + "/arguments";
    std::string panel = folder.AddScript("qv4l2", "/bin/sleep 0.1; echo \"$@\" > " + record);
    EXPECT_EQ(RunDevicePanel(panel, "/dev/video3"), S_OK);
    std::ifstream written(record);
    std::string arguments;
    std::getline(written, arguments);
    EXPECT_EQ(arguments, "-d /dev/video3");
}
