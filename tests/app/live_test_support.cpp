#include "live_test_support.h"

#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <wx/app.h>
#include <wx/grid.h>
#include <wx/image.h>
#include <wx/msgdlg.h>
#include <wx/window.h>

#include "ean_encoder.h"
#include "gui_test.h"
#include "my_frame.h"

// After the toolkit's headers: Xlib's macros would clash with them.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

using namespace std::chrono_literals;

std::string CorpusImage(const std::string& name)
{
    return std::string(MORVELIX_CORPUS_DIR) + "/images/" + name + ".png";
}

Picture CorpusPicture(const std::string& name, uint32_t width, uint32_t height)
{
    Picture picture;
    wxImage image;
    if (!image.LoadFile(CorpusImage(name), wxBITMAP_TYPE_PNG)) {
        ADD_FAILURE() << "cannot load " << CorpusImage(name);
        return BlankPicture(width, height);
    }
    if (static_cast<uint32_t>(image.GetWidth()) != width || static_cast<uint32_t>(image.GetHeight()) != height)
        image.Rescale(width, height, wxIMAGE_QUALITY_BILINEAR);
    picture.width = width;
    picture.height = height;
    picture.rgb.assign(image.GetData(), image.GetData() + static_cast<size_t>(width) * height * 3);
    return picture;
}

Picture BlankPicture(uint32_t width, uint32_t height)
{
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.rgb.assign(static_cast<size_t>(width) * height * 3, 255);
    return picture;
}

Picture Ean8Picture(const std::string& digits, uint32_t width, uint32_t height)
{
    constexpr uint32_t kModulePixels = 3;
    Picture picture = BlankPicture(width, height);
    const std::vector<int> runs = testing_runs::Ean8Modules(digits);
    uint32_t modules = 0;
    for (int run : runs)
        modules += static_cast<uint32_t>(run);
    uint32_t x = (width - modules * kModulePixels) / 2;
    for (size_t i = 0; i < runs.size(); ++i) {
        const uint32_t end = x + static_cast<uint32_t>(runs[i]) * kModulePixels;
        if (i % 2 == 0) {
            for (uint32_t y = height / 5; y < height - height / 5; ++y) {
                for (uint32_t px = x; px < end; ++px) {
                    uint8_t* p = &picture.rgb[(static_cast<size_t>(y) * width + px) * 3];
                    p[0] = p[1] = p[2] = 0;
                }
            }
        }
        x = end;
    }
    return picture;
}

ScriptedCamera::ScriptedCamera(uint32_t width, uint32_t height)
{
    FakeNode& node = m_kernel.AddCamera("USB Camera", V4L2_PIX_FMT_BGR24, {Discrete(width, height)});
    node.frameInterval = 5ms;
    const Picture blank = BlankPicture(width, height);
    m_frame = std::make_shared<const std::vector<uint8_t>>(
        EncodeFrame(blank.rgb, V4L2_PIX_FMT_BGR24, width, height));
    node.frame = [this](uint64_t, uint32_t, uint32_t, uint32_t) {
        std::lock_guard<std::mutex> hold(m_lock);
        return *m_frame;
    };
}

void ScriptedCamera::Show(const Picture& picture)
{
    auto frame = std::make_shared<const std::vector<uint8_t>>(
        EncodeFrame(picture.rgb, V4L2_PIX_FMT_BGR24, picture.width, picture.height));
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_frame = frame;
    }
    if (m_kernel.OpenDescriptors() == 0)
        return;
    // A frame being made while the picture changed may still be the old
    // one; the one after it is new, and it has been handed on once the
    // streaming thread takes the next.
    const uint64_t sent = m_kernel.FramesSent(0);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (m_kernel.FramesSent(0) < sent + 3) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the camera sends no frames";
            return;
        }
        std::this_thread::sleep_for(1ms);
    }
}

void CloseAllWindows()
{
    // Dialogs go with the window that owns them.
    for (wxWindow* window : wxTopLevelWindows) {
        if (!window->GetParent() && !wxPendingDelete.Member(window))
            window->Destroy();
    }
    Settle();
}

void Step(MyFrame1* frame)
{
    wxCommandEvent event(wxEVT_PROCESS_FRAME, 0);
    frame->ProcessWindowEvent(event);
}

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        while (wxTheApp->Pending())
            wxTheApp->Dispatch();
        wxTheApp->ProcessPendingEvents();
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
}

std::vector<Row> HistoryRows(MyFrame1* frame)
{
    std::vector<Row> rows;
    // The table ends with one empty row.
    for (int r = 0; r + 1 < frame->m_grid->GetNumberRows(); ++r) {
        rows.push_back({frame->m_grid->GetCellValue(r, 1).utf8_string(),
                        frame->m_grid->GetCellValue(r, 2).utf8_string(),
                        frame->m_grid->GetCellValue(r, 3).utf8_string()});
    }
    return rows;
}

int DialogRecorder::Enter(wxDialog* dialog)
{
    Seen entry{dialog->GetTitle(), wxEmptyString, 0, dialog->GetParent()};
    if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) {
        entry.title = box->GetCaption();
        entry.message = box->GetMessage();
        entry.style = box->GetMessageDialogStyle();
    }
    seen.push_back(entry);
    return wxID_OK;
}

NoControlPanel::NoControlPanel()
{
    std::string pattern = std::string(P_tmpdir) + "/morvelix-path-XXXXXX";
    if (mkdtemp(pattern.data()))
        m_folder = pattern;
    const char* previous = getenv("PATH");
    m_previous = previous ? previous : "";
    setenv("PATH", m_folder.c_str(), 1);
}

NoControlPanel::~NoControlPanel()
{
    setenv("PATH", m_previous.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

ScratchDir::ScratchDir()
{
    std::string pattern = std::string(P_tmpdir) + "/morvelix-live-XXXXXX";
    if (!mkdtemp(pattern.data()))
        ADD_FAILURE() << "no scratch folder at " << pattern;
    m_path = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

namespace {

Display* TestDisplay()
{
    return GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
}

} // namespace

bool FocusFrame(MyFrame1* frame)
{
    GdkWindow* window = gtk_widget_get_window(frame->GetHandle());
    if (!window)
        return false;
    Display* display = TestDisplay();
    XSetInputFocus(display, gdk_x11_window_get_xid(window), RevertToParent, CurrentTime);
    XSync(display, False);
    return PumpUntil([&] { return frame->IsActive(); }, 30s);
}

void FocusNowhere()
{
    Display* display = TestDisplay();
    XSetInputFocus(display, None, RevertToNone, CurrentTime);
    XSync(display, False);
}

void ClickInto(wxWindow* window)
{
    Display* display = TestDisplay();
    const wxSize size = window->GetSize();
    const wxPoint at = window->GetScreenPosition() + wxPoint(size.x / 2, size.y / 2);
    XTestFakeMotionEvent(display, -1, at.x, at.y, CurrentTime);
    XTestFakeButtonEvent(display, Button1, True, CurrentTime);
    XTestFakeButtonEvent(display, Button1, False, CurrentTime);
    XSync(display, False);
}

namespace {

uint32_t Le32(const std::string& b, size_t at)
{
    return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 |
           static_cast<uint8_t>(b[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

uint16_t Le16(const std::string& b, size_t at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace

RecordedSound::RecordedSound()
{
    const std::string config = m_dir.File("asound.conf");
    std::ofstream(config) << "pcm.!default {\ntype file\nslave.pcm \"silent\"\nfile \""
                          << m_dir.File("tone.wav") << "\"\nformat \"wav\"\n}\npcm.silent { type null }\n";
    setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
}

RecordedSound::~RecordedSound()
{
    unsetenv("ALSA_CONFIG_PATH");
}

bool RecordedSound::Played() const
{
    return !ReadAll(m_dir.File("tone.wav")).empty();
}

bool RecordedSound::Measure(double* milliseconds, double* hertz) const
{
    // A 16-bit PCM WAV file; its data chunk runs to the end of the file
    // whatever length the header claims.
    const std::string bytes = ReadAll(m_dir.File("tone.wav"));
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return false;
    unsigned rate = 0, channels = 0, bits = 0;
    std::vector<int16_t> samples; // the first channel
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const uint32_t size = Le32(bytes, at + 4);
        const size_t body = at + 8;
        if (id == "fmt " && body + 16 <= bytes.size()) {
            channels = Le16(bytes, body + 2);
            rate = Le32(bytes, body + 4);
            bits = Le16(bytes, body + 14);
        } else if (id == "data") {
            if (bits != 16 || channels == 0 || rate == 0)
                return false;
            for (size_t p = body; p + 2 * channels <= bytes.size(); p += 2 * channels)
                samples.push_back(static_cast<int16_t>(Le16(bytes, p)));
            break;
        }
        at = body + size + (size & 1);
    }
    if (samples.empty())
        return false;
    const double seconds = static_cast<double>(samples.size()) / rate;
    int rising = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0)
            ++rising;
    }
    *milliseconds = seconds * 1000;
    *hertz = rising / seconds;
    return true;
}
