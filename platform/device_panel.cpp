#include "device_panel.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace {

constexpr const char* kPanelProgram = "qv4l2";

}  // namespace

std::string FindDevicePanel() {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return std::string();
    std::string folders(path);
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        if (!folder.empty()) {
            std::string candidate = folder + "/" + kPanelProgram;
            struct stat info;
            if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        start = end + 1;
    }
    return std::string();
}

HRESULT RunDevicePanel(const std::string& program, const std::string& devicePath) {
    std::string option = "-d";
    char* arguments[] = {const_cast<char*>(program.c_str()), const_cast<char*>(option.c_str()),
                         const_cast<char*>(devicePath.c_str()), nullptr};
    pid_t child;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environ) != 0) return E_FAIL;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return E_FAIL;
    }
    return S_OK;
}

namespace {

// Gives the path of the first object that names a device node.
std::string TargetPath(ULONG objectCount, IUnknown** objects) {
    for (ULONG i = 0; i < objectCount; ++i) {
        IDevicePanelTarget* target = nullptr;
        if (objects[i] == nullptr ||
            FAILED(objects[i]->QueryInterface(IID_IDevicePanelTarget, reinterpret_cast<void**>(&target))))
            continue;
        std::string path = target->DevicePath();
        target->Release();
        return path;
    }
    return std::string();
}

}  // namespace

HRESULT OleCreatePropertyFrame(HWND, UINT, UINT, LPCOLESTR, ULONG objectCount, IUnknown** objects, ULONG pageCount,
                               const CLSID* pages, LCID, DWORD, void*) {
    if (objects == nullptr || (pageCount > 0 && pages == nullptr)) return E_POINTER;
    bool panelPage = false;
    for (ULONG i = 0; i < pageCount; ++i)
        if (pages[i] == CLSID_DeviceControlPanelPage) panelPage = true;
    if (!panelPage) return S_OK;  // no page of ours: nothing to show
    std::string path = TargetPath(objectCount, objects);
    std::string program = FindDevicePanel();
    if (path.empty() || program.empty()) return E_FAIL;
    return RunDevicePanel(program, path);
}
