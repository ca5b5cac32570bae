#include "my_frame.h"

#include <wx/choice.h>
#include <wx/grid.h>
#include <wx/msgdlg.h>
#include <wx/scrolwin.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "keystrokes.h"
#include "options.h"
#include "sound.h"

namespace {

// The frame buffer holds frames up to 1280 × 1024 at first.
constexpr size_t kFrameBufferBytes = 1280 * 1024 * 3;

// Timer intervals of the live loop, in milliseconds.
constexpr int kPollInterval = 30;    // after Play; no frame, or it could not be fetched
constexpr int kNextReadInterval = 10; // nothing found, or a read still to be confirmed
constexpr int kAcceptedPause = 700;  // after an accepted read

constexpr DWORD kBeepFrequency = 450; // Hz
// Cameras are set up through their USB connection.
constexpr int kUsbConnection = 3;
// GUITHREADINFO's size as 32-bit Windows has it.
constexpr DWORD kGuiThreadInfoSize = 48;

// Requested capture size by the Resolution setting.
struct CaptureSize {
    int width;
    int height;
};
constexpr CaptureSize kCaptureSizes[] = {
    {640, 480},  // 0
    {800, 600},  // 1
    {1280, 960}, // 2
};

CaptureSize RequestedSize(int resolution)
{
    if (resolution < 0 || resolution >= static_cast<int>(std::size(kCaptureSizes)))
        return kCaptureSizes[0];
    return kCaptureSizes[resolution];
}

HWND WindowHandle(wxWindow* window)
{
    return reinterpret_cast<HWND>(window);
}

// Which of this program's windows has the focus, for the keystroke output.
// While the user works in the history table, wxGTK names the grid itself as
// the focus, not its cell window; the answer is the cell window then, the
// handle that the frame step excludes.
HWND OwnFocusWindow()
{
    wxWindow* focus = wxWindow::FindFocus();
    for (wxWindow* window = focus; window; window = window->GetParent()) {
        if (wxGrid* grid = dynamic_cast<wxGrid*>(window))
            return WindowHandle(grid->GetGridWindow());
    }
    return WindowHandle(focus);
}

// A device name from the capture library's table: UTF-16 units up to a 0.
wxString DeviceName(const WCHAR* units, size_t capacity)
{
    wxString name;
    for (size_t i = 0; i < capacity && units[i] != 0; ++i) {
        const uint32_t unit = units[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < capacity && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            const uint32_t low = units[++i];
            name += wxUniChar(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else {
            name += wxUniChar(unit);
        }
    }
    return name;
}

} // namespace

MyFrame1::MyFrame1(const wxString& title, const wxSize& size)
    : wxMainFrameEx(title, size),
      m_frameBuffer(nullptr),
      m_deviceCount(0),
      m_frameBufferBytes(0)
{
    // The outer size, the same measure that the panel's size events carry.
    const wxSize panelSize = m_videoPanel->GetSize();
    m_panelWidth = panelSize.x;
    m_panelHeight = panelSize.y;

    m_deviceCount = CaptureManager::EnumerateDevices();
    const int named = std::min(m_deviceCount, CaptureManager::kMaxDevices);
    for (int i = 0; i < named; ++i) {
        m_options->m_deviceChoice->Append(
            DeviceName(CaptureManager::deviceNames[i], CaptureManager::kNameUnits),
            reinterpret_cast<void*>(static_cast<intptr_t>(i)));
    }
    m_capture.setUseCallback(false);

    m_frameBuffer = new unsigned char[kFrameBufferBytes];
    m_frameBufferBytes = kFrameBufferBytes;

    SetOwnFocusQuery(&OwnFocusWindow);
}

MyFrame1::~MyFrame1()
{
    SetOwnFocusQuery(nullptr);
    DetachPicture();
    delete[] m_frameBuffer;
}

const CaptureDevice* MyFrame1::ReadyCamera() const
{
    // The capture manager counts every device but has only kMaxDevices slots.
    if (m_camera < 0 || m_camera >= m_capture.deviceCount || m_camera >= CaptureManager::kMaxDevices)
        return nullptr;
    const CaptureDevice* device = m_capture.devices[m_camera];
    return device->ready ? device : nullptr;
}

bool MyFrame1::SetUpCamera()
{
    // OpenDevice also refuses a device that is already set up, so success
    // is judged by the record.
    const CaptureSize size = RequestedSize(m_resolution);
    m_capture.OpenDevice(m_camera, size.width, size.height, kUsbConnection);
    return ReadyCamera() != nullptr;
}

void MyFrame1::ReportMissingCamera()
{
    wxMessageDialog dialog(this,
                           "Application could not find a capture device.\n\n"
                           "Check to make sure the camera is properly plugged into the USB port and "
                           "then restart the application.",
                           "Error", wxOK | wxCENTRE | wxICON_ERROR);
    dialog.ShowModal();
    m_state = STATE_STOPPED;
}

void MyFrame1::OnPlay(wxCommandEvent&)
{
    if (m_state == STATE_PLAYING)
        return;
    if (!SetUpCamera()) {
        ReportMissingCamera();
        return;
    }
    m_state = STATE_PLAYING;
    m_clearOnPaint = true;
    m_timer->Start(kPollInterval, wxTIMER_CONTINUOUS);
}

void MyFrame1::OnPause(wxCommandEvent&)
{
    // A tick that is still pending stops the timer and queues nothing.
    m_state = STATE_STOPPED;
    m_capture.CloseDevice(m_camera);
}

void MyFrame1::OnCameraSettings(wxCommandEvent&)
{
    if (ReadyCamera()) {
        if (!CaptureManager::settingsWindowOpen)
            m_capture.ShowDeviceSettings(m_camera);
        return;
    }
    // Set up without starting the loop; a later Play finds it ready.
    if (SetUpCamera())
        m_capture.ShowDeviceSettings(m_camera);
    else
        ReportMissingCamera();
}

void MyFrame1::OnVideoPanelSize(wxSizeEvent& event)
{
    m_panelWidth = event.GetSize().x;
    m_panelHeight = event.GetSize().y;
}

void MyFrame1::OnProcessFrame(wxCommandEvent&)
{
    try {
        ProcessFrame();
    } catch (...) {
        // This frame is lost, but live scanning must not stall while the
        // window says it is playing: the loop polls again.
        if (!m_timer->IsRunning())
            m_timer->Start(kPollInterval, wxTIMER_CONTINUOUS);
    }
}

void MyFrame1::ProcessFrame()
{
    const bool wasReady = ReadyCamera() != nullptr;
    if (!m_capture.HasNewFrame(m_camera)) {
        // The capture library closes a camera that was unplugged: the live
        // loop ends as Play ends without a camera.
        if (wasReady && !ReadyCamera() && m_state == STATE_PLAYING) {
            ReportMissingCamera();
            return;
        }
        m_timer->Start(kPollInterval, wxTIMER_CONTINUOUS);
        return;
    }
    const CaptureDevice* device = ReadyCamera();
    const int width = device ? device->width : 0;
    const int height = device ? device->height : 0;
    if (width > 0 && height > 0) {
        const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
        if (frameBytes > m_frameBufferBytes)
            GrowFrameBuffer(frameBytes);
    }
    if (!m_capture.GetPixels(m_camera, m_frameBuffer)) {
        m_timer->Start(kPollInterval, wxTIMER_CONTINUOUS);
        return;
    }

    // The picture refers to the frame without copying it and never frees it.
    m_image.SetData(m_frameBuffer, width, height, true);
    const bool valid = m_image.IsOk();
    barcode::Image image;
    image.data = m_frameBuffer;
    image.width = valid ? static_cast<uint32_t>(m_image.GetWidth()) : 0;
    image.height = valid ? static_cast<uint32_t>(m_image.GetHeight()) : 0;
    image.stride = static_cast<int32_t>(image.width);
    image.format = barcode::PIXEL_RGB24;
    const barcode::Result result = m_scanner.Scan(&image);

    // Only the display is scaled; from here on the picture has pixels of its
    // own. A panel without area shows nothing.
    if (valid && width > 0 && height > 0 && m_panelWidth > 0 && m_panelHeight > 0)
        m_image.Rescale(m_panelWidth, m_panelHeight, wxIMAGE_QUALITY_NORMAL);
    else
        m_image.Destroy();
    m_displayBitmap = wxBitmap();

    if (result.type == barcode::TYPE_NONE) {
        m_timer->Start(kNextReadInterval, wxTIMER_CONTINUOUS);
    } else {
        const wxString value = EngineText(result.value);
        if (value != m_lastValue) {
            m_timer->Start(kNextReadInterval, wxTIMER_CONTINUOUS);
            m_lastValue = value;
        } else {
            Accept(value, result.type);
        }
    }
    m_videoPanel->Refresh(false);
}

void MyFrame1::Accept(const wxString& value, int type)
{
    m_lastValue.clear();
    if (m_addToHistory) {
        const char* name = BarcodeTypeName(type);
        AddToHistory(value, name ? name : "", "Camera");
    }
    // Started before the beep, which blocks for its whole length.
    m_timer->Start(kAcceptedPause, wxTIMER_CONTINUOUS);
    if (m_beep != 0)
        Beep(kBeepFrequency, static_cast<DWORD>(m_beep));
    if (m_sendKeystrokes)
        SendKeystrokes(this, value, WindowHandle(m_grid->GetGridWindow()));
}

void MyFrame1::GrowFrameBuffer(size_t bytes)
{
    unsigned char* larger = new unsigned char[bytes];
    DetachPicture();
    delete[] m_frameBuffer;
    m_frameBuffer = larger;
    m_frameBufferBytes = bytes;
}

void MyFrame1::DetachPicture()
{
    if (m_image.IsOk() && m_image.GetData() == m_frameBuffer)
        m_image.Destroy();
}

void MyFrame1::SendKeystrokes(MyFrame1* frame, const wxString& text, HWND excluded)
{
    GUITHREADINFO info = {};
    info.cbSize = kGuiThreadInfoSize;
    if (!GetGUIThreadInfo(0, &info))
        return;
    const HWND target = info.hwndFocus;
    if (!target || target == excluded)
        return;
    // WM_CHAR carries UTF-16 units: a character beyond U+FFFF goes as its
    // two surrogates.
    for (wxUniChar c : text) {
        const uint32_t code = c.GetValue();
        if (code > 0xFFFF) {
            PostMessageW(target, WM_CHAR, 0xD800 + ((code - 0x10000) >> 10), 0);
            PostMessageW(target, WM_CHAR, 0xDC00 + ((code - 0x10000) & 0x3FF), 0);
        } else {
            PostMessageW(target, WM_CHAR, code, 0);
        }
    }
    PostMessageW(target, WM_KEYDOWN, static_cast<WPARAM>(frame->m_terminator), 0);
}
