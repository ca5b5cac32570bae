// The top layer of the main window, the window class that the application
// creates: the camera. It owns the capture manager and the frame buffer,
// lists the cameras in the options dialog, starts and stops the camera from
// the Play, Pause and Camera settings tools and runs the live scanning loop:
// each step fetches a frame, scans it, shows it scaled to the video panel
// and accepts a value when two reads agree. An accepted value goes to the
// history, beeps and is typed into the focused window of the foreground
// application.
#pragma once

#include <cstddef>

#include "capture_manager.h"
#include "main_frame_ex.h"
#include "win32_types.h"

class MyFrame1 : public wxMainFrameEx {
public:
    MyFrame1(const wxString& title, const wxSize& size);
    ~MyFrame1() override;

    void OnPlay(wxCommandEvent& event) override;
    void OnPause(wxCommandEvent& event) override;
    void OnCameraSettings(wxCommandEvent& event) override;
    void OnVideoPanelSize(wxSizeEvent& event) override;
    // One step of the live loop; every exit re-arms the timer exactly once,
    // except when the camera has been lost.
    void OnProcessFrame(wxCommandEvent& event) override;

    // Types text into the focus window of the foreground application,
    // followed by frame's terminating key; nothing when that window is
    // `excluded` or there is none.
    static void SendKeystrokes(MyFrame1* frame, const wxString& text, HWND excluded);

    CaptureManager m_capture;
    unsigned char* m_frameBuffer; // every camera frame is copied here
    wxString m_lastValue;         // the last read still waiting for its confirmation
    int m_deviceCount;            // capture devices found at construction
    int m_panelWidth;             // current width of the video panel
    int m_panelHeight;            // current height of the video panel
    // Bytes in m_frameBuffer: 1280 × 1024 × 3 at first, more once a camera
    // delivers larger frames.
    size_t m_frameBufferBytes;

private:
    // The record of device m_camera when it is set up, else null.
    const CaptureDevice* ReadyCamera() const;
    // Sets device m_camera up at the chosen resolution; true when it is ready.
    bool SetUpCamera();
    // The error box of a camera that could not be set up; then STATE_STOPPED.
    void ReportMissingCamera();
    // The frame step proper; OnProcessFrame keeps the loop going when it throws.
    void ProcessFrame();
    // An accepted read: history row, the pause, beep and keystrokes.
    void Accept(const wxString& value, int type);
    // Makes room for frames of this many bytes.
    void GrowFrameBuffer(size_t bytes);
    // Makes sure the displayed picture no longer refers to m_frameBuffer.
    void DetachPicture();
};
