// The opening of one image file, off the window's thread: its decoding in
// the decoder program and its scan, so that the window stays responsive
// however long they take. The window learns of the end through a queued
// event and takes the outcome on its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <wx/event.h>
#include <wx/string.h>
#include <wx/utils.h>

#include "barcode.h"
#include "helper_process.h"
#include "image_loading.h"

// Queued to the window when an opening has ended by itself.
wxDECLARE_EVENT(wxEVT_IMAGE_FILE_OPENED, wxThreadEvent);

// What an opening came to.
struct OpenedImageFile {
    DecodedImageFile decoded;
    barcode::Result result; // nothing found unless the picture gave a value
    bool cutOff = false;    // the scan was stopped at the time limit
};

class ImageFileOpening {
public:
    // Starts decoding `path` in `decoder` (one is started when it cannot
    // take the file) and scanning its picture with a scanner of these
    // types and mode; the scan stops at `end`. The busy cursor shows until
    // this goes. Queues wxEVT_IMAGE_FILE_OPENED to `window` at the end.
    ImageFileOpening(wxEvtHandler* window, const wxString& path,
                     std::unique_ptr<HelperStandby> decoder, int types, bool omniDirectional,
                     std::chrono::steady_clock::time_point end);
    // Stops what still runs, as Stop.
    ~ImageFileOpening();
    ImageFileOpening(const ImageFileOpening&) = delete;
    ImageFileOpening& operator=(const ImageFileOpening&) = delete;

    // Ends the opening at once: the decoder is killed and reaped, the scan
    // stops at its next line. Returns when the thread has ended; nothing is
    // queued after that.
    void Stop();
    // The outcome, once wxEVT_IMAGE_FILE_OPENED has come.
    OpenedImageFile& Outcome();
    const wxString& Path() const { return m_path; }

private:
    void Run(std::unique_ptr<HelperStandby> decoder, int types, bool omniDirectional,
             std::chrono::steady_clock::time_point end);

    wxEvtHandler* m_window;
    const wxString m_path;
    wxBusyCursor m_busy;
    OwnedFd m_cancel; // readable once Stop has been called
    std::atomic<bool> m_stop{false};
    OpenedImageFile m_outcome; // the thread's until it has ended
    std::thread m_thread;
};
