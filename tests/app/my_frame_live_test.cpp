// Live scanning end to end under Xvfb: the virtual camera shows corpus
// images, the real timer runs the loop, and accepted values land in the
// history and, as typed keys, in another program's window or in our own
// text box, never in the history table. Also a soak of the loop.
#include <malloc.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include <wx/grid.h>
#include <wx/textctrl.h>

#include "gui_test.h"
#include "live_test_support.h"
#include "my_frame.h"
#include "virtual_camera.h"
#include "x11_typist.h"

// After the toolkit's headers: Xlib's macros would clash with them.
#include "io_test_support.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace std::chrono_literals;

namespace {

// A corpus image and what the reader makes of it.
struct Code {
    const char* image;
    const char* value; // as the history shows it
    const char* type;
};

const Code kEan13 = {"ean13_clean_v2", "4006381333931", "EAN 13"};
const Code kUpcA = {"upca_clean_v1", "036000291452", "UPC-A"};
const Code kEan8 = {"ean8_clean_v1", "96385074", "EAN 8"};
const Code kUpcE = {"upce_clean_v1", "01234565", "UPC-E"};
const Code kCode39 = {"code39_clean_v3", "HELLO WORLD", "CODEBAR 39"};
const Code kCode128Tab = {"code128_clean_v3", "ABC\tDEF", "CODEBAR 128"};
const Code kCode128Fnc4 = {"code128_clean_v13", "Caf[FNC4]i", "CODEBAR 128"};

// What typing leaves of a value: control characters are not typed.
std::string Typed(const std::string& value)
{
    std::string typed;
    for (char c : value) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
            typed += c;
    }
    return typed;
}

class LiveScanningTest : public GuiTest {
protected:
    // The virtual camera shows these images in turn, each for `hold` frames.
    void UseCamera(const std::vector<Code>& codes, uint32_t hold,
                   uint32_t framesPerSecond = VirtualCamera::kFramesPerSecond)
    {
        for (size_t i = 0; i < codes.size(); ++i) {
            const std::string link = m_images.File(std::to_string(10 + i) + "-" + codes[i].image + ".png");
            std::filesystem::create_symlink(CorpusImage(codes[i].image), link);
        }
        m_camera = std::make_unique<VirtualCamera>(m_images.Path(), hold, framesPerSecond);
        m_previousKernel = SetVideoKernelForTesting(m_camera.get());
    }

    void TearDown() override
    {
        CloseAllWindows();
        if (m_camera) {
            SetVideoKernelForTesting(m_previousKernel);
            m_camera.reset();
        }
        GuiTest::TearDown();
    }

    MyFrame1* OpenQuietWindow()
    {
        MyFrame1* frame = OpenWindow();
        frame->m_beep = 0;
        Settle();
        return frame;
    }

    // Pauses, and waits until the loop has ended and the typing is done.
    void PauseAndFinishTyping(MyFrame1* frame)
    {
        SendCommand(frame, ID_PAUSE);
        // The tick after Pause ends the loop.
        EXPECT_TRUE(PumpUntil([&] { return !frame->m_timer->IsRunning(); }, 30s));
        ASSERT_TRUE(platform::XTypist::Shared().WaitUntilTyped(30s));
    }

    void ExpectRowsOf(MyFrame1* frame, const std::vector<Code>& codes)
    {
        for (const Row& row : HistoryRows(frame)) {
            bool known = false;
            for (const Code& code : codes)
                known = known || (row.value == code.value && row.type == code.type);
            EXPECT_TRUE(known) << "read \"" << row.value << "\" as " << row.type;
            EXPECT_EQ(row.source, "Camera");
        }
    }

    ScratchDir m_images;
    std::unique_ptr<VirtualCamera> m_camera;
    VideoKernel* m_previousKernel = nullptr;
};

// Another program's window, "target", which has the X input focus.
class Receiver {
public:
    Receiver()
        : m_process({X11_RECEIVER, m_folder.File("ready"), m_folder.File("target"), m_folder.File("other")})
    {
        EXPECT_TRUE(testing_support::WaitFor([&] { return !Text("ready").empty(); }, 30s))
            << "the receiver did not start";
    }
    std::string Text(const char* file) const { return testing_support::ReadFile(m_folder.File(file)); }

private:
    ScratchDir m_folder;
    testing_support::ChildProcess m_process;
};

struct Terminated {
    const char* what;
    std::vector<Code> codes;
    int terminator;
    const char* key; // what the terminating key gives in the receiver
};

bool HasValue(MyFrame1* frame, const Code& code)
{
    for (const Row& row : HistoryRows(frame)) {
        if (row.value == code.value)
            return true;
    }
    return false;
}

// The camera shows each code until the reader has accepted it, however
// long that takes on the machine at hand.
TEST_F(LiveScanningTest, EveryAcceptedValueIsTypedIntoTheFocusedProgramWithItsTerminator)
{
    const std::vector<Terminated> runs = {
        {"Enter", {kEan13, kCode39, kCode128Tab, kUpcA}, 13, "\r"},
        {"Tab", {kEan8, kUpcE}, 9, "\t"},
        {"none", {kCode128Fnc4}, 0, ""},
    };
    for (const Terminated& run : runs) {
        SCOPED_TRACE(std::string("terminator ") + run.what);
        ScriptedCamera camera(640, 480);
        MyFrame1* frame = OpenQuietWindow();
        frame->m_terminator = run.terminator;
        Receiver receiver;

        SendCommand(frame, ID_PLAY);
        ASSERT_EQ(frame->m_state, STATE_PLAYING);
        for (const Code& code : run.codes) {
            camera.Show(CorpusPicture(code.image, 640, 480));
            EXPECT_TRUE(PumpUntil([&] { return HasValue(frame, code); }, 120s)) << code.value << " was not read";
        }
        PauseAndFinishTyping(frame);
        const std::vector<Row> rows = HistoryRows(frame);
        ExpectRowsOf(frame, run.codes);
        std::string expected;
        for (const Row& row : rows)
            expected += Typed(row.value) + run.key;
        testing_support::WaitFor([&] { return receiver.Text("target").size() >= expected.size(); }, 30s);
        EXPECT_EQ(receiver.Text("target"), expected);
        EXPECT_EQ(receiver.Text("other"), "");
        CloseWindow(frame);
    }
}

// Keys that reach the main window, whichever of its controls has the focus.
class KeyLog {
public:
    explicit KeyLog(MyFrame1* frame)
    {
        frame->Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
            keys.push_back(event.GetUnicodeKey() != WXK_NONE ? static_cast<int>(event.GetUnicodeKey())
                                                              : event.GetKeyCode());
            event.Skip();
        });
    }
    // The keys without the modifiers pressed around them.
    std::vector<int> Characters() const
    {
        std::vector<int> characters;
        for (int key : keys) {
            if (key != WXK_SHIFT && key != WXK_CONTROL && key != WXK_ALT && key != WXK_CAPITAL &&
                key != WXK_NUMLOCK)
                characters.push_back(key);
        }
        return characters;
    }
    std::vector<int> keys;
};

TEST_F(LiveScanningTest, NothingIsTypedWhileTheHistoryTableHasTheFocus)
{
    UseCamera({kEan13}, 30);
    MyFrame1* frame = OpenQuietWindow();
    ASSERT_TRUE(FocusFrame(frame));
    ClickInto(frame->m_grid->GetGridWindow());
    ASSERT_TRUE(PumpUntil([&] { return wxWindow::FindFocus() == frame->m_grid; }, 30s));
    KeyLog log(frame);

    SendCommand(frame, ID_PLAY);
    ASSERT_TRUE(PumpUntil([&] { return HistoryRows(frame).size() >= 2; }, 120s));
    SendCommand(frame, ID_PAUSE);
    ASSERT_TRUE(platform::XTypist::Shared().WaitUntilTyped(30s));
    PumpUntil([] { return false; }, 200ms);
    ExpectRowsOf(frame, {kEan13});
    EXPECT_TRUE(log.keys.empty()) << log.keys.size() << " keys reached the window";
    EXPECT_EQ(wxWindow::FindFocus(), frame->m_grid);
}

TEST_F(LiveScanningTest, TheTextBoxWithTheFocusReceivesTheValue)
{
    UseCamera({kCode39}, 30);
    MyFrame1* frame = OpenQuietWindow();
    ASSERT_TRUE(FocusFrame(frame));
    ClickInto(frame->m_text);
    ASSERT_TRUE(PumpUntil([&] { return wxWindow::FindFocus() == frame->m_text; }, 30s));
    KeyLog log(frame);

    SendCommand(frame, ID_PLAY);
    ASSERT_TRUE(PumpUntil([&] { return HistoryRows(frame).size() >= 1; }, 120s));
    // The next read comes 700 ms later at the earliest.
    SendCommand(frame, ID_PAUSE);
    ASSERT_EQ(HistoryRows(frame).size(), 1u);
    ASSERT_TRUE(platform::XTypist::Shared().WaitUntilTyped(30s));
    // The history put the value into the box; the typed value comes beside it.
    const wxString expected = wxString(kCode39.value) + kCode39.value;
    EXPECT_TRUE(PumpUntil([&] { return frame->m_text->GetValue() == expected; }, 30s))
        << "the text box holds \"" << frame->m_text->GetValue() << "\"";
    std::vector<int> typed;
    for (char c : std::string(kCode39.value))
        typed.push_back(c);
    typed.push_back(WXK_RETURN);
    EXPECT_EQ(log.Characters(), typed);
}

// A camera unplugged while live: the error box of a missing camera, once,
// and the loop stops; Play reads again once the camera is back.
class LiveUnplugTest : public GuiTest {
protected:
    void TearDown() override
    {
        CloseAllWindows();
        GuiTest::TearDown();
    }
    ScriptedCamera m_camera{640, 480};
};

TEST_F(LiveUnplugTest, LostCameraStopsTheLoopWithTheErrorBoxAndPlayWorksWhenItIsBack)
{
    DialogRecorder dialogs;
    MyFrame1* frame = OpenWindow();
    frame->m_beep = 0;
    frame->m_sendKeystrokes = false;
    m_camera.Show(CorpusPicture(kEan13.image, 640, 480));
    for (int play = 1; play <= 2; ++play) {
        SCOPED_TRACE("Play " + std::to_string(play));
        const size_t rows = HistoryRows(frame).size();
        SendCommand(frame, ID_PLAY);
        ASSERT_EQ(frame->m_state, STATE_PLAYING);
        ASSERT_TRUE(PumpUntil([&] { return HistoryRows(frame).size() > rows; }, 60s)) << "nothing read";
        EXPECT_EQ(HistoryRows(frame).back().value, kEan13.value);

        m_camera.Kernel().Unplug(0);
        ASSERT_TRUE(PumpUntil([&] { return frame->m_state == STATE_STOPPED; }, 30s)) << "the loss went unnoticed";
        // The loop has ended: no box follows and no tick is due.
        PumpUntil([] { return false; }, 300ms);
        ASSERT_EQ(dialogs.seen.size(), 1u);
        EXPECT_EQ(dialogs.seen[0].title, "Error");
        EXPECT_EQ(dialogs.seen[0].message, kMissingCamera);
        EXPECT_EQ(dialogs.seen[0].parent, frame);
        EXPECT_FALSE(frame->m_timer->IsRunning());
        dialogs.seen.clear();
        m_camera.Kernel().Replug(0);
    }
    CloseWindow(frame);
}

// Bytes of the heap in use: the allocator's own count, which freed memory
// that AddressSanitizer holds back does not inflate.
size_t HeapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

using LiveSoakTest = LiveScanningTest;

// Waits for the camera's next frame, which comes within a millisecond or
// two: polled finely, so that the camera and not the wait sets the pace.
bool NextFrameArrives(MyFrame1* frame)
{
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!frame->m_capture.HasNewFrame(frame->m_camera)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

// 20,000 frames through the frame step, each a new one from a camera that
// sends them as fast as it can make them, with codes and empty frames in
// turn; the history is cleared now and then as a user would. Under the
// sanitizers, whose own bookkeeping blurs the measure and makes each frame
// many times dearer, a short run checks the same.
TEST_F(LiveSoakTest, TwentyThousandFramesLeaveMemoryFlat)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr int kWarmUp = 500;
    constexpr int kFrames = 3000;
#else
    constexpr int kWarmUp = 2000;
    constexpr int kFrames = 20000;
#endif
    constexpr int kClearEvery = 500;
    constexpr size_t kHeapBound = 1 << 20;     // bytes
#if defined(__SANITIZE_ADDRESS__)
    // Resident memory under AddressSanitizer also follows its quarantine of
    // freed blocks and its shadow pages, which move with the machine's load;
    // the heap count above is the measure there.
    constexpr size_t kResidentBound = 64 << 20; // bytes
#else
    constexpr size_t kResidentBound = 16 << 20; // bytes
#endif
    const Code blank = {"neg_blank", "", ""};
    UseCamera({kEan13, blank, kCode128Fnc4, blank}, 3, VirtualCamera::kMaxFramesPerSecond);
    MyFrame1* frame = OpenQuietWindow();
    FocusNowhere();
    SendCommand(frame, ID_PLAY);
    ASSERT_EQ(frame->m_state, STATE_PLAYING);

    int accepted = 0;
    size_t heapBefore = 0, residentBefore = 0;
    for (int i = 1; i <= kFrames; ++i) {
        frame->m_timer->Stop();
        ASSERT_TRUE(NextFrameArrives(frame)) << "no new frame after " << i - 1;
        Step(frame);
        if (i % kClearEvery == 0) {
            accepted += static_cast<int>(HistoryRows(frame).size());
            ExpectRowsOf(frame, {kEan13, kCode128Fnc4});
            SendCommand(frame, ID_CLEAR);
            frame->m_timer->Stop();
            PumpUntil([] { return true; }, 0ms);
        }
        if (i == kWarmUp) {
            heapBefore = HeapInUse();
            residentBefore = ResidentBytes();
        }
    }
    const size_t heapAfter = HeapInUse();
    const size_t residentAfter = ResidentBytes();
    RecordProperty("accepted", accepted);
    RecordProperty("heap_kib_before", static_cast<int>(heapBefore / 1024));
    RecordProperty("heap_kib_after", static_cast<int>(heapAfter / 1024));
    RecordProperty("rss_kib_before", static_cast<int>(residentBefore / 1024));
    RecordProperty("rss_kib_after", static_cast<int>(residentAfter / 1024));
    EXPECT_GT(accepted, kFrames / 20) << "the loop hardly read anything";
    EXPECT_LT(heapAfter, heapBefore + kHeapBound) << "heap " << heapBefore << " → " << heapAfter;
    EXPECT_LT(residentAfter, residentBefore + kResidentBound)
        << "resident " << residentBefore << " → " << residentAfter;
    frame->m_timer->Stop();
}

} // namespace
