// What the live-scanning tests share: camera pictures from the corpus or
// drawn here, a camera on the fake kernel interface that shows the picture a
// test chooses, the main window's frame step and run loop driven as the
// timer drives them, a recorder for modal dialogs, the X input focus, and
// the beep as ALSA's file plugin records it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <wx/dialog.h>
#include <wx/modalhook.h>

#include "fake_video_kernel.h"

class MyFrame1;
class wxWindow;

// A top-down RGB picture.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;
};

// The error box of Play without a camera.
constexpr const char* kMissingCamera =
    "Application could not find a capture device.\n\nCheck to make sure the camera is properly "
    "plugged into the USB port and then restart the application.";

std::string CorpusImage(const std::string& name); // "ean13_clean_v1" → its PNG path
// A corpus image stretched to the given size.
Picture CorpusPicture(const std::string& name, uint32_t width, uint32_t height);
Picture BlankPicture(uint32_t width, uint32_t height);
// An EAN-8 symbol of 8 digits, 3 pixels per module, in the middle of a white picture.
Picture Ean8Picture(const std::string& digits, uint32_t width, uint32_t height);

// One camera on the fake kernel, "USB Camera", delivering 24-bit frames of
// one size every 5 ms, each the picture last given to Show.
class ScriptedCamera {
public:
    ScriptedCamera(uint32_t width, uint32_t height);
    // Shows the picture; while the camera streams, returns once the
    // grabber's latest sample is a frame of it.
    void Show(const Picture& picture);
    FakeVideoKernel& Kernel() { return m_kernel; }

private:
    FakeVideoKernel m_kernel;
    std::mutex m_lock;
    std::shared_ptr<const std::vector<uint8_t>> m_frame; // encoded for the device
};

// Destroys every window still open, before the camera it streams from goes.
void CloseAllWindows();

// One step of the live loop as the timer's frame event runs it.
void Step(MyFrame1* frame);
// Runs the toolkit's events, and with them the real timer, until the
// condition holds; false when the timeout passes first.
bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// One row of the history table.
struct Row {
    std::string value; // UTF-8
    std::string type;
    std::string source;
};
std::vector<Row> HistoryRows(MyFrame1* frame);

// Answers every modal dialog with OK without showing it, and keeps what it saw.
class DialogRecorder : public wxModalDialogHook {
public:
    struct Seen {
        wxString title;
        wxString message;
        long style;
        wxWindow* parent;
    };
    DialogRecorder() { Register(); }
    ~DialogRecorder() override { Unregister(); }
    std::vector<Seen> seen;

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog*) override {}
};

// The PATH for as long as it lives: one empty folder, so that no device
// control panel program can be found and started.
class NoControlPanel {
public:
    NoControlPanel();
    ~NoControlPanel();

private:
    std::string m_folder;
    std::string m_previous;
};

// Gives the X input focus to the frame's window, as a window manager would
// on a click, and waits until the toolkit sees it.
bool FocusFrame(MyFrame1* frame);
// Takes the X input focus from every window.
void FocusNowhere();
// Clicks into a window through XTEST.
void ClickInto(wxWindow* window);

// A scratch folder, removed with its files at the end.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// The default ALSA device as a WAV file over the null device, for as long as
// it lives; the file holds the last tone played.
class RecordedSound {
public:
    RecordedSound();
    ~RecordedSound();
    bool Played() const;
    // Length and pitch of the recorded tone; false when there is none.
    bool Measure(double* milliseconds, double* hertz) const;

private:
    ScratchDir m_dir;
};
