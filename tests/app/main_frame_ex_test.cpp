#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include <wx/dir.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/toolbar.h>
#include <wx/uiaction.h>

#include "folder_listing.h"
#include "gui_test.h"
#include "my_frame.h"
#include "options.h"

namespace {

constexpr int kTypeIds[] = {ID_UPCA_EAN13, ID_EAN8, ID_UPCE, ID_CODEBAR39, ID_CODEBAR128};
constexpr int kTypeBits[] = {2, 1, 4, 8, 16};

// The type bits of the type tools that are on.
int ToolMask(const MyFrame1* frame)
{
    int mask = 0;
    for (int i = 0; i < 5; ++i) {
        if (frame->m_typeToolBar->GetToolState(kTypeIds[i]))
            mask |= kTypeBits[i];
    }
    return mask;
}

std::string Settings(const std::string& lines)
{
    return "[Morvelix Barcode Reader]\n" + lines;
}

} // namespace

using LogicLayerTest = GuiTest;

TEST_F(LogicLayerTest, FirstRunUsesTheDefaults)
{
    MyFrame1* frame = OpenWindow();
    EXPECT_EQ(frame->m_scanner.m_decoderSet.GetTypes(), 31);
    EXPECT_EQ(ToolMask(frame), 31);
    EXPECT_EQ(frame->m_scanner.m_directionCount, 6u);
    EXPECT_TRUE(frame->m_typeToolBar->GetToolState(ID_OMNI_DIRECTIONAL));
    EXPECT_FALSE(frame->m_typeToolBar->GetToolState(ID_BI_DIRECTIONAL));
    EXPECT_EQ(frame->m_beep, 250);
    EXPECT_EQ(frame->m_terminator, 13);
    EXPECT_EQ(frame->m_camera, 0);
    EXPECT_EQ(frame->m_resolution, 0);
    EXPECT_EQ(frame->m_state, STATE_IDLE);
    EXPECT_TRUE(frame->m_clearOnPaint);
    EXPECT_TRUE(frame->m_sendKeystrokes);
    EXPECT_TRUE(frame->m_addToHistory);
    EXPECT_FALSE(frame->m_image.IsOk());
    ASSERT_NE(frame->m_timer, nullptr);
    EXPECT_FALSE(frame->m_timer->IsRunning());
    EXPECT_EQ(frame->m_timer->GetId(), ID_SCAN_TIMER);
    ASSERT_NE(frame->m_options, nullptr);
    EXPECT_EQ(frame->m_options->GetTitle(), "Options");
    EXPECT_GE(frame->m_options->GetSize().x, 400);
    EXPECT_EQ(frame->m_options->GetSize().y, 419);
    EXPECT_EQ(frame->m_options->GetParent(), frame);
    EXPECT_EQ(frame->m_openDialog->GetMessage(), "Select a file");
    EXPECT_EQ(frame->m_openDialog->GetWindowStyle() & (wxFD_OPEN | wxFD_FILE_MUST_EXIST),
              wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    EXPECT_EQ(frame->m_saveDialog->GetMessage(), "Save File As");
    EXPECT_EQ(frame->m_saveDialog->GetWindowStyle() & (wxFD_SAVE | wxFD_OVERWRITE_PROMPT),
              wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    EXPECT_EQ(frame->m_saveDialog->GetWildcard(),
              "CSV (Comma delimited) (*.csv)|*.csv|XML Data (*.xml)|*.xml|"
              "Barcode Values Only (*.txt)|*.txt");
    EXPECT_FALSE(wxFileExists(UserFile())) << "nothing is written before exit";
    CloseWindow(frame);

    // The defaults are what was read: exit changes nothing, and makes no file.
    EXPECT_FALSE(wxFileExists(UserFile()));
    EXPECT_TRUE(FilesIn(m_home).empty());
}

TEST_F(LogicLayerTest, TypeToolsSetTheScannerTypes)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    // Each click leaves the scanner with exactly the types whose tools are on.
    const struct {
        int id;
        int maskAfter;
    } clicks[] = {
        {ID_CODEBAR128, 15}, {ID_UPCA_EAN13, 13}, {ID_EAN8, 12}, {ID_UPCE, 8},
        {ID_CODEBAR39, 0},   {ID_CODEBAR39, 8},   {ID_CODEBAR128, 24}, {ID_UPCA_EAN13, 26},
    };
    for (const auto& click : clicks) {
        ClickTool(frame->m_typeToolBar, click.id);
        EXPECT_EQ(frame->m_scanner.m_decoderSet.GetTypes(), click.maskAfter) << click.id;
        EXPECT_EQ(ToolMask(frame), click.maskAfter);
    }

    // Types changed elsewhere (an opened file adds Code 128) are undone by any click.
    frame->m_scanner.SetTypes(frame->m_scanner.m_decoderSet.GetTypes() | 16 | 1);
    ClickTool(frame->m_typeToolBar, ID_UPCE);
    ClickTool(frame->m_typeToolBar, ID_UPCE);
    EXPECT_EQ(frame->m_scanner.m_decoderSet.GetTypes(), 26);
    CloseWindow(frame);

    wxString value;
    ASSERT_TRUE(ReadStored(UserFile(), "BarcodeTypes", &value));
    EXPECT_EQ(value, "26");
}

TEST_F(LogicLayerTest, ModeToolsSetTheScanMode)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    ClickTool(frame->m_typeToolBar, ID_BI_DIRECTIONAL);
    EXPECT_EQ(frame->m_scanner.m_directionCount, 1u);
    EXPECT_FALSE(frame->m_typeToolBar->GetToolState(ID_OMNI_DIRECTIONAL));
    ClickTool(frame->m_typeToolBar, ID_OMNI_DIRECTIONAL);
    EXPECT_EQ(frame->m_scanner.m_directionCount, 6u);
    // The mode commands do not look at the tool state.
    SendCommand(frame, ID_BI_DIRECTIONAL);
    EXPECT_EQ(frame->m_scanner.m_directionCount, 1u);
    EXPECT_TRUE(frame->m_typeToolBar->GetToolState(ID_OMNI_DIRECTIONAL));
    CloseWindow(frame);

    wxString value;
    ASSERT_TRUE(ReadStored(UserFile(), "Mode", &value));
    EXPECT_EQ(value, "0");
}

// Real mouse clicks through the X server, found by position on the toolbar.
TEST_F(LogicLayerTest, MouseClicksOnTheToolbar)
{
    MyFrame1* frame = OpenWindow();
    frame->Raise();
    Settle(20);
    wxToolBar* bar = frame->m_typeToolBar;
    wxUIActionSimulator mouse;
    const struct {
        int id;
        int mask;
        unsigned directions;
    } clicks[] = {
        {ID_EAN8, 30, 6}, {ID_BI_DIRECTIONAL, 30, 1}, {ID_EAN8, 31, 1}, {ID_OMNI_DIRECTIONAL, 31, 6},
    };
    for (const auto& click : clicks) {
        const wxPoint where = ToolCentreOnScreen(bar, click.id);
        ASSERT_NE(where, wxDefaultPosition) << click.id;
        mouse.MouseMove(where);
        Settle(4);
        mouse.MouseClick();
        Settle(10);
        EXPECT_EQ(frame->m_scanner.m_decoderSet.GetTypes(), click.mask) << click.id;
        EXPECT_EQ(frame->m_scanner.m_directionCount, click.directions) << click.id;
    }
    CloseWindow(frame);
}

TEST_F(LogicLayerTest, StoredValuesRoundTrip)
{
    const struct {
        const char* stored;
        int toolMask;
        int scannerMask;
        bool omni;
        const char* savedTypes;
        const char* savedMode;
    } cases[] = {
        // Bit 32 enables nothing and is not saved back; any non-zero mode is omni.
        {"BarcodeTypes=47\nMode=5\n", 15, 15, true, "15", "1"},
        {"BarcodeTypes=0\nMode=0\n", 0, 0, false, "0", "0"},
        {"BarcodeTypes=16\nMode=-2\n", 16, 16, true, "16", "1"},
        {"BarcodeTypes=-1\nMode=1\n", 31, 31, true, "31", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        WriteFile(UserFile(), Settings(c.stored));
        MyFrame1* frame = OpenWindow();
        EXPECT_EQ(ToolMask(frame), c.toolMask);
        EXPECT_EQ(frame->m_scanner.m_decoderSet.GetTypes(), c.scannerMask);
        EXPECT_EQ(frame->m_typeToolBar->GetToolState(ID_OMNI_DIRECTIONAL), c.omni);
        EXPECT_EQ(frame->m_typeToolBar->GetToolState(ID_BI_DIRECTIONAL), !c.omni);
        EXPECT_EQ(frame->m_scanner.m_directionCount, c.omni ? 6u : 1u);
        CloseWindow(frame);
        wxString value;
        EXPECT_TRUE(ReadStored(UserFile(), "BarcodeTypes", &value));
        EXPECT_EQ(value, c.savedTypes);
        EXPECT_TRUE(ReadStored(UserFile(), "Mode", &value));
        EXPECT_EQ(value, c.savedMode);
    }
}

TEST_F(LogicLayerTest, OptionValuesAreReadSafely)
{
    const struct {
        const char* stored;
        int beep;
        int terminator;
        int camera;
        int resolution;
    } cases[] = {
        {"Beep=1000\nTerminator=9\nCamera=3\nResolution=2\n", 1000, 9, 3, 2},
        {"Beep=0\nTerminator=0\nCamera=0\nResolution=1\n", 0, 0, 0, 1},
        // A negative camera becomes 0; odd values the dialog cannot show stay.
        {"Beep=300\nTerminator=27\nCamera=-2\nResolution=7\n", 300, 27, 0, 7},
        // Hand-edited nonsense: beeps that would block the window, text, overflow.
        {"Beep=-5\nTerminator=abc\nCamera=99999999999999\nResolution=-99999999999999\n", 250, 13,
         INT_MAX, INT_MIN},
        {"Beep=99999999\nTerminator= 9 \nCamera=1x\nResolution=\n", 250, 9, 0, 0},
        {"Beep=123456789012345678901234567890\n", 250, 13, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        WriteFile(UserFile(), Settings(c.stored));
        MyFrame1* frame = OpenWindow();
        EXPECT_EQ(frame->m_beep, c.beep);
        EXPECT_EQ(frame->m_terminator, c.terminator);
        EXPECT_EQ(frame->m_camera, c.camera);
        EXPECT_EQ(frame->m_resolution, c.resolution);
        CloseWindow(frame);
    }
    // Neither start nor exit rewrites the stored camera value.
    wxString value;
    WriteFile(UserFile(), Settings("Camera=-2\n"));
    CloseWindow(OpenWindow());
    ASSERT_TRUE(ReadStored(UserFile(), "Camera", &value));
    EXPECT_EQ(value, "-2");
}

TEST_F(LogicLayerTest, GarbageSettingsFileStillStarts)
{
    WriteFile(UserFile(), Settings("BarcodeTypes=abc\nMode=on\nPath=/no/such/folder\n"
                                   "BarcodeTypes=4294967327\n") +
                              std::string("\x01\x02\xff garbage line\n[unclosed\n=\n"));
    MyFrame1* frame = OpenWindow();
    Settle();
    EXPECT_EQ(frame->m_scanner.m_decoderSet.GetTypes() & ~31, 0);
    EXPECT_TRUE(frame->IsShown());
    CloseWindow(frame);
}

TEST_F(LogicLayerTest, UserFileOverridesMachineFile)
{
    WriteFile(MachineFile(), Settings("Beep=500\nTerminator=9\nBarcodeTypes=8\nMode=0\n"
                                      "Resolution=1\n"));
    WriteFile(UserFile(), Settings("Beep=1000\nMode=1\n"));
    MyFrame1* frame = OpenWindow();
    EXPECT_EQ(frame->m_beep, 1000);     // user
    EXPECT_EQ(frame->m_terminator, 9);  // machine
    EXPECT_EQ(frame->m_resolution, 1);  // machine
    EXPECT_EQ(frame->m_scanner.m_decoderSet.GetTypes(), 8);
    EXPECT_EQ(frame->m_scanner.m_directionCount, 6u);
    EXPECT_EQ(ToolMask(frame), 8);
    ClickTool(frame->m_typeToolBar, ID_EAN8);
    CloseWindow(frame);

    // Writes go to the user's file; the machine-wide file is left alone.
    EXPECT_EQ(ReadFile(MachineFile()), Settings("Beep=500\nTerminator=9\nBarcodeTypes=8\nMode=0\n"
                                                "Resolution=1\n"));
    EXPECT_EQ(ReadFile(UserFile()), Settings("Beep=1000\nMode=1\nBarcodeTypes=9\n"));
}

// A reader writes only the values it changed, into the file as it is when
// it writes, on the lines that hold them: what another reader, the user or
// another program stored meanwhile stays, byte for byte.
TEST_F(LogicLayerTest, ExitWritesIntoTheFileAsItIsNow)
{
    const struct {
        const char* what;
        std::string atStart; // the file when the reader starts; "" for none
        std::string meanwhile;
        std::vector<int> clicks;
        std::string after;
    } cases[] = {
        {"a changed mode among other readers' values", Settings("Beep=500\nMode=0\n"),
         "# kept by hand\n" + Settings("Beep=1000\nTerminator=9\nCamera=2\nResolution=1\n"
                                       "Mode=0\nOther=x\n"),
         {ID_OMNI_DIRECTIONAL},
         "# kept by hand\n" + Settings("Beep=1000\nTerminator=9\nCamera=2\nResolution=1\n"
                                       "Mode=1\nOther=x\n")},
        // A reader that changed nothing undoes nobody's change.
        {"a hand edit while an untouched reader runs", Settings("Beep=500\n"),
         Settings("Beep=500\nMode=0\n"), {}, Settings("Beep=500\nMode=0\n")},
        {"another reader's types", "", Settings("BarcodeTypes=23\n"), {},
         Settings("BarcodeTypes=23\n")},
        {"types clicked back to what was read", Settings("BarcodeTypes=31\n"),
         Settings("BarcodeTypes=23\n"), {ID_EAN8, ID_EAN8}, Settings("BarcodeTypes=23\n")},
        // CR LF, wxFileConfig's own header and another program's Latin-1
        // line stay; the new line goes at the end of the group, with CR LF.
        {"a new key among lines that are not the reader's", "",
         "[Morvelix\\ Barcode\\ Reader]\r\nMode=0\r\n\r\n[Other]\r\nowner=Fran\xe7ois\r\n",
         {ID_EAN8},
         "[Morvelix\\ Barcode\\ Reader]\r\nMode=0\r\nBarcodeTypes=30\r\n\r\n[Other]\r\n"
         "owner=Fran\xe7ois\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        unlink(UserFile().fn_str());
        if (!c.atStart.empty())
            WriteFile(UserFile(), c.atStart);
        MyFrame1* frame = OpenWindow();
        Settle();
        WriteFile(UserFile(), c.meanwhile);
        for (int id : c.clicks)
            ClickTool(frame->m_typeToolBar, id);
        CloseWindow(frame);
        EXPECT_EQ(ReadFile(UserFile()), c.after);
        EXPECT_EQ(FilesIn(m_home), std::vector<wxString>{".Morvelix"});
    }
}

// A settings file kept elsewhere through symbolic links (as dotfile
// managers keep them) stays a link; its target gets the values and keeps
// its mode. The target is found as the kernel finds it: "../morvelix" in a
// folder reached through the link "alias" is the file beside that folder,
// not ~/morvelix.
TEST_F(LogicLayerTest, SettingsFileLinkStaysALink)
{
    const wxString target = m_home + "/dotfiles/a/morvelix";
    const wxString unrelated = m_home + "/morvelix";
    ASSERT_TRUE(wxFileName::Mkdir(m_home + "/dotfiles/a/b", wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL));
    WriteFile(target, Settings("Beep=500\n"));
    WriteFile(unrelated, "unrelated");
    ASSERT_EQ(chmod(target.utf8_str(), 0600), 0);
    ASSERT_EQ(symlink("dotfiles/a/b", (m_home + "/alias").utf8_str()), 0);
    ASSERT_EQ(symlink("../morvelix", (m_home + "/dotfiles/a/b/morvelix").utf8_str()), 0);
    ASSERT_EQ(symlink("alias/morvelix", UserFile().utf8_str()), 0);
    MyFrame1* frame = OpenWindow();
    EXPECT_EQ(frame->m_beep, 500);
    ClickTool(frame->m_typeToolBar, ID_EAN8);
    CloseWindow(frame);

    struct stat info;
    ASSERT_EQ(lstat(UserFile().utf8_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(lstat((m_home + "/dotfiles/a/b/morvelix").utf8_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(target.utf8_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    wxString value;
    ASSERT_TRUE(ReadStored(target, "BarcodeTypes", &value));
    EXPECT_EQ(value, "30");
    ASSERT_TRUE(ReadStored(target, "Beep", &value));
    EXPECT_EQ(value, "500");
    EXPECT_EQ(ReadFile(unrelated), "unrelated");
}

// A folder where the settings file should be: the reader runs on its
// defaults, and its exits leave no file behind.
TEST_F(LogicLayerTest, AFolderInPlaceOfTheSettingsFileGetsNoStrayFile)
{
    ASSERT_TRUE(wxMkdir(UserFile()));
    for (int run = 0; run < 2; ++run) {
        MyFrame1* frame = OpenWindow();
        EXPECT_EQ(frame->m_scanner.m_decoderSet.GetTypes(), 31);
        CloseWindow(frame);
    }
    wxArrayString left;
    wxDir::GetAllFiles(m_home, &left, wxEmptyString, wxDIR_FILES | wxDIR_DIRS | wxDIR_HIDDEN);
    EXPECT_TRUE(left.empty()) << left[0];
    EXPECT_TRUE(wxDirExists(UserFile()));
}

TEST_F(LogicLayerTest, OpenDialogFolderIsRestoredAndSaved)
{
    const wxString folder = m_home + "/pictures";
    ASSERT_TRUE(wxMkdir(folder));
    WriteFile(UserFile(), Settings("Path=" + folder.ToStdString() + "\n"));
    MyFrame1* frame = OpenWindow();
    EXPECT_EQ(frame->m_openDialog->GetDirectory(), folder);
    const wxString other = m_home + "/scans";
    ASSERT_TRUE(wxMkdir(other));
    frame->m_openDialog->SetDirectory(other);
    CloseWindow(frame);
    wxString value;
    ASSERT_TRUE(ReadStored(UserFile(), "Path", &value));
    EXPECT_EQ(value, other);
}

TEST_F(LogicLayerTest, ExitClosesTheWindow)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    ClickTool(frame->m_typeToolBar, ID_UPCE);
    wxWindowID id = frame->GetId();
    SendCommand(frame, wxID_EXIT);
    Settle();
    EXPECT_EQ(wxWindow::FindWindowById(id), nullptr);
    // The window's destruction stored what changed.
    EXPECT_EQ(ReadFile(UserFile()), Settings("BarcodeTypes=27\n"));
}

namespace {

// Counts the frame steps that the logic layer's event table dispatches.
class CountingFrame : public MyFrame1 {
public:
    CountingFrame() : MyFrame1(wxEmptyString, wxSize(838, 676)) {}
    void OnProcessFrame(wxCommandEvent& event) override
    {
        EXPECT_EQ(event.GetId(), 0);
        ++frames;
    }
    int frames = 0;
};

} // namespace

TEST_F(LogicLayerTest, TimerTickQueuesAFrameOnlyWhilePlaying)
{
    CountingFrame* frame = new CountingFrame;
    frame->Show();
    Settle();
    const struct {
        int state;
        int framesQueued;
    } cases[] = {{STATE_PLAYING, 1}, {STATE_IDLE, 0}, {STATE_STOPPED, 0}};
    for (const auto& c : cases) {
        frame->frames = 0;
        frame->m_state = c.state;
        frame->m_timer->Start(60000);
        wxTimerEvent tick(*frame->m_timer);
        frame->GetEventHandler()->ProcessEvent(tick);
        EXPECT_FALSE(frame->m_timer->IsRunning()) << c.state;
        EXPECT_EQ(frame->frames, 0) << "queued, not sent";
        Settle();
        EXPECT_EQ(frame->frames, c.framesQueued) << c.state;
    }

    // A real tick of the running timer: one frame step, and the timer stops
    // until the step re-arms it.
    frame->frames = 0;
    frame->m_state = STATE_PLAYING;
    frame->m_timer->Start(10);
    for (int i = 0; i < 100 && frame->frames == 0; ++i)
        Settle(1);
    Settle();
    EXPECT_EQ(frame->frames, 1);
    EXPECT_FALSE(frame->m_timer->IsRunning());
    frame->m_state = STATE_IDLE;
    CloseWindow(frame);
}
