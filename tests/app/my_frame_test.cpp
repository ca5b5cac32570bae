// The camera layer on a scripted camera: the frame step's confirmation rule
// and timer intervals, Play, Pause and Camera settings, the error box, large
// frames, a step that throws, and the beep of an accepted read.
#include <chrono>
#include <map>
#include <stdexcept>

#include <wx/app.h>
#include <wx/choice.h>
#include <wx/grid.h>
#include <wx/msgdlg.h>
#include <wx/textctrl.h>

#include "gui_test.h"
#include "keystrokes.h"
#include "live_test_support.h"
#include "my_frame.h"
#include "options.h"

using namespace std::chrono_literals;

namespace {

constexpr uint32_t kWidth = 640;
constexpr uint32_t kHeight = 480;

// What one frame shows, and what the step must make of it.
struct Read {
    const char* picture; // a key of Pictures(), "" for nothing readable
    int interval;        // the timer's interval after the step
    const char* accepted; // the value added to the history, or null
    const char* type;
};

struct Sequence {
    const char* what;
    std::vector<Read> reads;
};

// The pictures the sequences use: EAN-13 "5901234123457", Code 39
// "ABC-1234", and "12345670" as UPC-E and as EAN-8.
const Picture& PictureOf(const std::string& key)
{
    static const std::map<std::string, Picture> pictures = {
        {"", BlankPicture(kWidth, kHeight)},
        {"ean13", CorpusPicture("ean13_clean_v1", kWidth, kHeight)},
        {"code39", CorpusPicture("code39_clean_v2", kWidth, kHeight)},
        {"upce", CorpusPicture("upce_clean_v2", kWidth, kHeight)},
        {"ean8", Ean8Picture("12345670", kWidth, kHeight)},
    };
    return pictures.at(key);
}

class CameraLayerTest : public GuiTest {
protected:
    void TearDown() override
    {
        CloseAllWindows();
        GuiTest::TearDown();
    }
    // A window whose camera is set up and live, with the timer stopped so
    // that the test alone runs the steps.
    MyFrame1* OpenPlaying()
    {
        MyFrame1* frame = OpenWindow();
        frame->m_beep = 0;
        frame->m_sendKeystrokes = false;
        SendCommand(frame, ID_PLAY);
        EXPECT_EQ(frame->m_state, STATE_PLAYING);
        EXPECT_TRUE(frame->m_timer->IsRunning());
        EXPECT_EQ(frame->m_timer->GetInterval(), 30);
        frame->m_timer->Stop();
        return frame;
    }
    // Shows the picture, runs one step and reports the timer's interval.
    int StepOn(MyFrame1* frame, const Picture& picture)
    {
        m_camera.Show(picture);
        Step(frame);
        EXPECT_TRUE(frame->m_timer->IsRunning());
        const int interval = frame->m_timer->GetInterval();
        frame->m_timer->Stop();
        return interval;
    }

    ScriptedCamera m_camera{kWidth, kHeight};
};

TEST_F(CameraLayerTest, TwoEqualReadsAreAcceptedAndTheTimerFollowsTheReads)
{
    const std::vector<Sequence> sequences = {
        {"A, nothing, A",
         {{"ean13", 10, nullptr, nullptr}, {"", 10, nullptr, nullptr},
          {"ean13", 700, "5901234123457", "EAN 13"}}},
        {"A, B, A", {{"ean13", 10, nullptr, nullptr}, {"code39", 10, nullptr, nullptr},
                     {"ean13", 10, nullptr, nullptr}}},
        {"A, A, A then A",
         {{"code39", 10, nullptr, nullptr}, {"code39", 700, "ABC-1234", "CODEBAR 39"},
          {"code39", 10, nullptr, nullptr}, {"code39", 700, "ABC-1234", "CODEBAR 39"}}},
        {"equal values of two types: the second read's type",
         {{"upce", 10, nullptr, nullptr}, {"ean8", 700, "12345670", "EAN 8"}}},
        {"nothing found keeps nothing",
         {{"", 10, nullptr, nullptr}, {"", 10, nullptr, nullptr}}},
    };
    for (const Sequence& sequence : sequences) {
        SCOPED_TRACE(sequence.what);
        MyFrame1* frame = OpenPlaying();
        std::vector<Row> expected;
        for (size_t i = 0; i < sequence.reads.size(); ++i) {
            const Read& read = sequence.reads[i];
            SCOPED_TRACE("read " + std::to_string(i + 1) + ": " + read.picture);
            EXPECT_EQ(StepOn(frame, PictureOf(read.picture)), read.interval);
            if (read.accepted) {
                expected.push_back({read.accepted, read.type, "Camera"});
                EXPECT_EQ(frame->m_lastValue, "") << "forgotten once accepted";
                EXPECT_EQ(frame->m_text->GetValue(), read.accepted);
            }
            const std::vector<Row> rows = HistoryRows(frame);
            ASSERT_EQ(rows.size(), expected.size());
            for (size_t r = 0; r < rows.size(); ++r) {
                EXPECT_EQ(rows[r].value, expected[r].value);
                EXPECT_EQ(rows[r].type, expected[r].type);
                EXPECT_EQ(rows[r].source, expected[r].source);
            }
        }
        CloseWindow(frame);
    }
}

TEST_F(CameraLayerTest, ReadBeforePauseIsConfirmedAfterPlay)
{
    MyFrame1* frame = OpenPlaying();
    EXPECT_EQ(StepOn(frame, PictureOf("ean13")), 10);
    EXPECT_EQ(frame->m_lastValue, "5901234123457");

    // Pause while a tick is pending: the tick stops the timer and queues no frame.
    frame->m_timer->Start(30);
    SendCommand(frame, ID_PAUSE);
    EXPECT_EQ(frame->m_state, STATE_STOPPED);
    EXPECT_FALSE(frame->m_capture.devices[0]->ready);
    wxTimerEvent tick(*frame->m_timer);
    frame->ProcessWindowEvent(tick);
    EXPECT_FALSE(frame->m_timer->IsRunning());
    wxTheApp->ProcessPendingEvents();
    EXPECT_FALSE(frame->m_timer->IsRunning()) << "a frame step ran";

    // A frame event queued before the pause polls the closed camera.
    frame->m_image = wxImage();
    Step(frame);
    EXPECT_EQ(frame->m_timer->GetInterval(), 30);
    EXPECT_FALSE(frame->m_image.IsOk()) << "no new picture without a frame";
    frame->m_timer->Stop();
    EXPECT_EQ(frame->m_lastValue, "5901234123457") << "Pause keeps the read";

    frame->m_clearOnPaint = false;
    SendCommand(frame, ID_PLAY);
    EXPECT_EQ(frame->m_state, STATE_PLAYING);
    EXPECT_TRUE(frame->m_clearOnPaint);
    EXPECT_EQ(frame->m_timer->GetInterval(), 30);
    frame->m_timer->Stop();
    EXPECT_EQ(StepOn(frame, PictureOf("ean13")), 700);
    ASSERT_EQ(HistoryRows(frame).size(), 1u);
    EXPECT_EQ(HistoryRows(frame)[0].value, "5901234123457");
    CloseWindow(frame);
}

TEST_F(CameraLayerTest, TheFrameIsShownAtThePanelSizeAndScannedWhole)
{
    MyFrame1* frame = OpenPlaying();
    EXPECT_EQ(StepOn(frame, PictureOf("ean13")), 10);
    ASSERT_TRUE(frame->m_image.IsOk());
    EXPECT_EQ(frame->m_image.GetSize(), frame->m_videoPanel->GetSize());
    EXPECT_NE(frame->m_image.GetData(), frame->m_frameBuffer) << "the display has a copy";

    wxSizeEvent resize(wxSize(123, 45));
    frame->m_videoPanel->GetEventHandler()->ProcessEvent(resize);
    EXPECT_EQ(frame->m_panelWidth, 123);
    EXPECT_EQ(frame->m_panelHeight, 45);
    EXPECT_EQ(StepOn(frame, PictureOf("ean13")), 700) << "the scan still sees the whole frame";
    EXPECT_EQ(frame->m_image.GetSize(), wxSize(123, 45));

    // A panel without area shows nothing; scanning goes on.
    wxSizeEvent collapse(wxSize(0, 0));
    frame->m_videoPanel->GetEventHandler()->ProcessEvent(collapse);
    EXPECT_EQ(StepOn(frame, PictureOf("code39")), 10);
    EXPECT_FALSE(frame->m_image.IsOk());
    EXPECT_EQ(frame->m_lastValue, "ABC-1234");
    CloseWindow(frame);
}

TEST_F(CameraLayerTest, PlayWhilePlayingDoesNothing)
{
    DialogRecorder dialogs;
    MyFrame1* frame = OpenPlaying();
    const int opens = m_camera.Kernel().Opens(0);
    SendCommand(frame, ID_PLAY);
    EXPECT_EQ(m_camera.Kernel().Opens(0), opens);
    EXPECT_FALSE(frame->m_timer->IsRunning());
    EXPECT_TRUE(dialogs.seen.empty());
    CloseWindow(frame);
}

TEST_F(CameraLayerTest, CameraSettingsSetsTheCameraUpWithoutPlaying)
{
    NoControlPanel noPanel;
    DialogRecorder dialogs;
    MyFrame1* frame = OpenWindow();
    SendCommand(frame, ID_CAMERA_SETTINGS);
    EXPECT_TRUE(frame->m_capture.devices[0]->ready);
    EXPECT_EQ(frame->m_state, STATE_IDLE);
    EXPECT_FALSE(frame->m_timer->IsRunning());
    const int opens = m_camera.Kernel().Opens(0);

    // Play finds the camera ready although setting it up again fails.
    SendCommand(frame, ID_PLAY);
    EXPECT_EQ(frame->m_state, STATE_PLAYING);
    EXPECT_EQ(m_camera.Kernel().Opens(0), opens);
    EXPECT_EQ(frame->m_timer->GetInterval(), 30);
    // Settings on the running camera open no second window.
    SendCommand(frame, ID_CAMERA_SETTINGS);
    EXPECT_TRUE(frame->m_capture.devices[0]->ready);
    EXPECT_EQ(frame->m_state, STATE_PLAYING);
    EXPECT_TRUE(dialogs.seen.empty());
    frame->m_timer->Stop();
    CloseWindow(frame);
}

TEST_F(CameraLayerTest, TheDeviceChoiceListsTheCameras)
{
    m_camera.Kernel().AddCamera("Second Camera", V4L2_PIX_FMT_YUYV, {Discrete(kWidth, kHeight)});
    MyFrame1* frame = OpenWindow();
    EXPECT_EQ(frame->m_deviceCount, 2);
    wxChoice* choice = frame->m_options->m_deviceChoice;
    ASSERT_EQ(choice->GetCount(), 2u);
    EXPECT_EQ(choice->GetString(0), "USB Camera");
    EXPECT_EQ(choice->GetString(1), "Second Camera");
    EXPECT_EQ(reinterpret_cast<intptr_t>(choice->GetClientData(1)), 1);

    // Camera 1 from the settings is the one that Play sets up.
    frame->m_camera = 1;
    SendCommand(frame, ID_PLAY);
    EXPECT_TRUE(frame->m_capture.devices[1]->ready);
    EXPECT_FALSE(frame->m_capture.devices[0]->ready);
    frame->m_timer->Stop();
    CloseWindow(frame);
}

TEST_F(CameraLayerTest, BeyondTwentyCamerasOnlyTwentyAreNamed)
{
    for (int i = 1; i < 25; ++i)
        m_camera.Kernel().AddCamera("Camera " + std::to_string(i), V4L2_PIX_FMT_YUYV, {Discrete(64, 48)});
    DialogRecorder dialogs;
    MyFrame1* frame = OpenWindow();
    EXPECT_EQ(frame->m_options->m_deviceChoice->GetCount(), 20u);
    // A device the manager has no slot for cannot be played.
    frame->m_camera = 22;
    SendCommand(frame, ID_PLAY);
    EXPECT_EQ(dialogs.seen.size(), 1u);
    EXPECT_EQ(frame->m_state, STATE_STOPPED);
    Step(frame);
    EXPECT_EQ(frame->m_timer->GetInterval(), 30);
    frame->m_timer->Stop();
    CloseWindow(frame);
}

TEST_F(CameraLayerTest, AStepThatThrowsKeepsTheLoopGoing)
{
    MyFrame1* frame = OpenPlaying();
    frame->m_sendKeystrokes = true;
    ASSERT_TRUE(FocusFrame(frame));
    // The toolkit's focus is asked for when our own window is in front;
    // here that query fails.
    SetOwnFocusQuery([]() -> HWND { throw std::runtime_error("focus query failed"); });
    EXPECT_EQ(StepOn(frame, PictureOf("ean13")), 10);
    EXPECT_EQ(StepOn(frame, PictureOf("ean13")), 700);
    ASSERT_EQ(HistoryRows(frame).size(), 1u);
    SetOwnFocusQuery(nullptr);

    // The loop goes on from the state the failed step left.
    EXPECT_EQ(StepOn(frame, PictureOf("code39")), 10);
    EXPECT_EQ(StepOn(frame, PictureOf("code39")), 700);
    EXPECT_EQ(HistoryRows(frame).size(), 2u);
    CloseWindow(frame);
}

TEST_F(CameraLayerTest, AnAcceptedReadBeepsAt450HertzForTheBeepLength)
{
    RecordedSound sound;
    MyFrame1* frame = OpenPlaying();
    frame->m_beep = 0;
    EXPECT_EQ(StepOn(frame, PictureOf("ean8")), 10);
    EXPECT_EQ(StepOn(frame, PictureOf("ean8")), 700);
    EXPECT_FALSE(sound.Played()) << "no beep with length 0";

    frame->m_beep = 500;
    EXPECT_EQ(StepOn(frame, PictureOf("ean8")), 10);
    EXPECT_FALSE(sound.Played()) << "no beep before the read is confirmed";
    EXPECT_EQ(StepOn(frame, PictureOf("ean8")), 700);

    double milliseconds = 0, hertz = 0;
    ASSERT_TRUE(sound.Measure(&milliseconds, &hertz));
    EXPECT_NEAR(milliseconds, 500, 2);
    EXPECT_NEAR(hertz, 450, 10);
    EXPECT_EQ(HistoryRows(frame).size(), 2u);
    CloseWindow(frame);
}

// Frames larger than the buffer allocated at the start.
class LargeCameraTest : public GuiTest {
protected:
    void TearDown() override
    {
        CloseAllWindows();
        GuiTest::TearDown();
    }
    ScriptedCamera m_camera{1600, 1200};
};

TEST_F(LargeCameraTest, FramesLargerThanTheBufferAreScanned)
{
    MyFrame1* frame = OpenWindow();
    frame->m_beep = 0;
    frame->m_sendKeystrokes = false;
    EXPECT_EQ(frame->m_frameBufferBytes, 1280u * 1024 * 3);
    SendCommand(frame, ID_PLAY);
    ASSERT_EQ(frame->m_state, STATE_PLAYING);
    ASSERT_EQ(frame->m_capture.devices[0]->width, 1600);
    frame->m_timer->Stop();

    const Picture code = CorpusPicture("ean13_large_v4", 1600, 1200);
    for (int i = 0; i < 2; ++i) {
        m_camera.Show(code);
        Step(frame);
    }
    EXPECT_EQ(frame->m_frameBufferBytes, 1600u * 1200 * 3);
    ASSERT_EQ(HistoryRows(frame).size(), 1u);
    EXPECT_EQ(HistoryRows(frame)[0].value, "8711253001202");
    EXPECT_EQ(frame->m_timer->GetInterval(), 700);
    frame->m_timer->Stop();
    CloseWindow(frame);
}

// No camera at all.
class NoCameraTest : public GuiTest {
protected:
    void TearDown() override
    {
        CloseAllWindows();
        GuiTest::TearDown();
    }
    FakeVideoKernel m_kernel;
};

TEST_F(NoCameraTest, PlayAndCameraSettingsShowTheErrorBoxOnce)
{
    DialogRecorder dialogs;
    MyFrame1* frame = OpenWindow();
    EXPECT_EQ(frame->m_deviceCount, 0);
    EXPECT_EQ(frame->m_options->m_deviceChoice->GetCount(), 0u);

    for (int command : {ID_PLAY, ID_CAMERA_SETTINGS}) {
        SCOPED_TRACE(command == ID_PLAY ? "Play" : "Camera settings");
        dialogs.seen.clear();
        frame->m_state = STATE_IDLE;
        SendCommand(frame, command);
        ASSERT_EQ(dialogs.seen.size(), 1u);
        EXPECT_EQ(dialogs.seen[0].title, "Error");
        EXPECT_EQ(dialogs.seen[0].message, kMissingCamera);
        EXPECT_EQ(dialogs.seen[0].style & (wxOK | wxCENTRE | wxICON_ERROR), wxOK | wxCENTRE | wxICON_ERROR);
        EXPECT_EQ(dialogs.seen[0].parent, frame);
        EXPECT_EQ(frame->m_state, STATE_STOPPED);
        EXPECT_FALSE(frame->m_timer->IsRunning());
    }
    CloseWindow(frame);
}

} // namespace
