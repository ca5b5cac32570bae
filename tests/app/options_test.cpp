#include <sys/stat.h>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>

#include "folder_listing.h"
#include "gui_test.h"
#include "my_frame.h"
#include "options.h"
#include "permissions.h"

using OptionsTest = GuiTest;

TEST_F(OptionsTest, DialogControls)
{
    Options dialog(nullptr, "Options", wxSize(400, 419));
    EXPECT_EQ(dialog.GetTitle(), "Options");
    // At least the size it was given; wider where GTK's controls need it.
    EXPECT_GE(dialog.GetSize().x, 400);
    EXPECT_EQ(dialog.GetSize().y, 419);
    EXPECT_GE(dialog.GetSize().x, dialog.GetSizer()->GetMinSize().x);
    EXPECT_EQ(dialog.GetName(), "dialog");

    EXPECT_EQ(dialog.m_deviceChoice->GetCount(), 0u);
    EXPECT_EQ(dialog.m_deviceChoice->GetSelection(), wxNOT_FOUND);
    ASSERT_EQ(dialog.m_resolutionChoice->GetCount(), 3u);
    EXPECT_EQ(dialog.m_resolutionChoice->GetString(0), wxString(L"640 \u0445 480"));
    EXPECT_EQ(dialog.m_resolutionChoice->GetString(1), wxString(L"800 \u0445 600"));
    EXPECT_EQ(dialog.m_resolutionChoice->GetString(2), wxString(L"1280 \u0445 960"));
    EXPECT_EQ(dialog.m_resolutionChoice->GetSelection(), 0);

    const struct {
        wxWindow* control;
        int id;
        const char* label;
    } controls[] = {
        {dialog.m_beepNone, ID_BEEP_NONE, "NONE"},
        {dialog.m_beep250, ID_BEEP_250, "0.25 seconds"},
        {dialog.m_beep500, ID_BEEP_500, "0.5 seconds"},
        {dialog.m_beep1000, ID_BEEP_1000, "1 second"},
        {dialog.m_beep2000, ID_BEEP_2000, "2 seconds"},
        {dialog.m_terminatorNone, ID_TERMINATOR_NONE, "NONE"},
        {dialog.m_terminatorEnter, ID_TERMINATOR_ENTER, "<ENTER>"},
        {dialog.m_terminatorTab, ID_TERMINATOR_TAB, "<TAB>"},
        {dialog.m_cancelButton, ID_OPTIONS_CANCEL, "Cancel"},
        {dialog.m_okButton, ID_OPTIONS_OK, "OK"},
        {dialog.m_deviceLabel, wxID_ANY, "Device name"},
        {dialog.m_resolutionLabel, wxID_ANY, "Resolution"},
    };
    for (const auto& c : controls) {
        if (c.id != wxID_ANY) {
            EXPECT_EQ(c.control->GetId(), c.id) << c.label;
        }
        EXPECT_EQ(c.control->GetLabel(), c.label);
    }
    EXPECT_TRUE(dialog.m_beep250->GetValue());
    EXPECT_TRUE(dialog.m_terminatorEnter->GetValue());

    // Two radio groups: a choice in one leaves the other as it was.
    dialog.m_beepNone->SetValue(true);
    EXPECT_FALSE(dialog.m_beep250->GetValue());
    EXPECT_TRUE(dialog.m_terminatorEnter->GetValue());
    dialog.m_terminatorTab->SetValue(true);
    EXPECT_FALSE(dialog.m_terminatorEnter->GetValue());
    EXPECT_TRUE(dialog.m_beepNone->GetValue());
}

TEST_F(OptionsTest, ButtonsEndTheModalLoop)
{
    const struct {
        int id;
        int result;
    } cases[] = {{ID_OPTIONS_OK, 1}, {ID_OPTIONS_CANCEL, 0}};
    for (const auto& c : cases) {
        Options dialog(nullptr, "Options", wxSize(400, 419));
        wxButton* button = c.id == ID_OPTIONS_OK ? dialog.m_okButton : dialog.m_cancelButton;
        dialog.CallAfter([button] {
            wxCommandEvent click(wxEVT_BUTTON, button->GetId());
            click.SetEventObject(button);
            button->GetEventHandler()->ProcessEvent(click);
        });
        EXPECT_EQ(dialog.ShowModal(), c.result) << c.id;
        EXPECT_FALSE(dialog.IsShown());
    }
}

namespace {

constexpr int kKeep = -100; // leave the control as the dialog shows it
constexpr int kNone = -1;   // nothing selected

// What the dialog shows: list selections, and the value of the selected
// beep and terminator buttons.
struct Shown {
    int device = kNone;
    int resolution = kNone;
    int beep = kNone;
    int terminator = kNone;
};

// What a user changes before leaving the dialog.
struct Change {
    int device = kKeep;
    int resolution = kKeep;
    int beep = kKeep;
    int terminator = kKeep;
};

struct RadioValue {
    wxRadioButton* Options::*button;
    int value;
};
const RadioValue kBeepButtons[] = {{&Options::m_beepNone, 0},
                                   {&Options::m_beep250, 250},
                                   {&Options::m_beep500, 500},
                                   {&Options::m_beep1000, 1000},
                                   {&Options::m_beep2000, 2000}};
const RadioValue kTerminatorButtons[] = {{&Options::m_terminatorNone, 0},
                                         {&Options::m_terminatorEnter, 13},
                                         {&Options::m_terminatorTab, 9}};

template <size_t N>
int SelectedValue(Options* dialog, const RadioValue (&buttons)[N])
{
    int value = kNone;
    for (const RadioValue& b : buttons) {
        if ((dialog->*b.button)->GetValue()) {
            EXPECT_EQ(value, kNone) << "two buttons of one group are on";
            value = b.value;
        }
    }
    return value;
}

template <size_t N>
wxRadioButton* ButtonOf(Options* dialog, const RadioValue (&buttons)[N], int value)
{
    for (const RadioValue& b : buttons) {
        if (b.value == value)
            return dialog->*b.button;
    }
    return nullptr;
}

void Click(wxWindow* control)
{
    wxCommandEvent click(wxEVT_BUTTON, control->GetId());
    click.SetEventObject(control);
    control->GetEventHandler()->ProcessEvent(click);
}

// Every control lies inside the dialog with a size of its own, and no two
// overlap.
void ExpectAllControlsVisible(Options* dialog)
{
    const wxSize client = dialog->GetClientSize();
    std::vector<wxWindow*> controls = {
        dialog->m_cancelButton,   dialog->m_okButton,      dialog->m_deviceLabel,
        dialog->m_deviceChoice,   dialog->m_resolutionLabel, dialog->m_resolutionChoice,
        dialog->m_beepNone,       dialog->m_beep250,       dialog->m_beep500,
        dialog->m_beep1000,       dialog->m_beep2000,      dialog->m_terminatorNone,
        dialog->m_terminatorEnter, dialog->m_terminatorTab};
    for (wxWindow* control : controls) {
        const wxRect rect = control->GetRect();
        EXPECT_TRUE(control->IsShownOnScreen()) << control->GetLabel();
        EXPECT_GT(rect.width, 0) << control->GetLabel();
        EXPECT_GT(rect.height, 0) << control->GetLabel();
        EXPECT_GE(rect.x, 0) << control->GetLabel();
        EXPECT_GE(rect.y, 0) << control->GetLabel();
        EXPECT_LE(rect.GetRight(), client.x - 1) << control->GetLabel();
        EXPECT_LE(rect.GetBottom(), client.y - 1) << control->GetLabel();
        // At least as large as the control asks to be: no text is cut.
        EXPECT_GE(rect.width, control->GetBestSize().x) << control->GetLabel();
        EXPECT_GE(rect.height, control->GetBestSize().y) << control->GetLabel();
    }
    for (size_t i = 0; i < controls.size(); ++i) {
        for (size_t k = i + 1; k < controls.size(); ++k) {
            EXPECT_FALSE(controls[i]->GetRect().Intersects(controls[k]->GetRect()))
                << controls[i]->GetLabel() << " / " << controls[k]->GetLabel();
        }
    }
}

} // namespace

class OptionsCommandTest : public GuiTest {
protected:
    // Opens Options from the File menu, notes what the dialog shows,
    // applies the change and leaves with the button (ID_OPTIONS_OK,
    // ID_OPTIONS_CANCEL, or wxID_CLOSE for the close box).
    Shown Run(MyFrame1* frame, const Change& change, int button)
    {
        Options* dialog = frame->m_options;
        Shown shown;
        bool ran = false;
        dialog->CallAfter([&] {
            ran = true;
            EXPECT_TRUE(dialog->IsModal());
            shown.device = dialog->m_deviceChoice->GetSelection();
            shown.resolution = dialog->m_resolutionChoice->GetSelection();
            shown.beep = SelectedValue(dialog, kBeepButtons);
            shown.terminator = SelectedValue(dialog, kTerminatorButtons);
            if (change.device != kKeep)
                dialog->m_deviceChoice->SetSelection(change.device);
            if (change.resolution != kKeep)
                dialog->m_resolutionChoice->SetSelection(change.resolution);
            if (change.beep != kKeep)
                ButtonOf(dialog, kBeepButtons, change.beep)->SetValue(true);
            if (change.terminator != kKeep)
                ButtonOf(dialog, kTerminatorButtons, change.terminator)->SetValue(true);
            if (button == ID_OPTIONS_OK)
                Click(dialog->m_okButton);
            else if (button == ID_OPTIONS_CANCEL)
                Click(dialog->m_cancelButton);
            else
                dialog->Close();
        });
        SendCommand(frame, ID_MENU_OPTIONS);
        EXPECT_TRUE(ran);
        EXPECT_FALSE(dialog->IsShown());
        return shown;
    }

    void AddDevices(MyFrame1* frame, int count)
    {
        for (int i = 0; i < count; ++i) {
            frame->m_options->m_deviceChoice->Append(wxString::Format("Camera %d", i),
                                                     reinterpret_cast<void*>(intptr_t(i)));
        }
    }

    // The four values as the user's file holds them; "-" for a missing one.
    std::vector<std::string> StoredOptions()
    {
        std::vector<std::string> values;
        for (const char* key : {"Beep", "Terminator", "Camera", "Resolution"}) {
            wxString value;
            values.push_back(ReadStored(UserFile(), key, &value) ? value.ToStdString() : "-");
        }
        return values;
    }
};

// OK stores the values that differ from the stored ones (a missing one
// counts as its default); the others stay as they are in the file.
TEST_F(OptionsCommandTest, ShowsTheStoredValuesAndStoresOnOk)
{
    const struct {
        const char* stored;  // the user's file
        int devices;
        Change change;
        Shown shown;
        std::vector<int> values;        // Beep, Terminator, Camera, Resolution afterwards
        std::vector<std::string> saved; // the same in the file; "-" for none
    } cases[] = {
        // First run: defaults shown, nothing to store.
        {"", 0, {}, {kNone, 0, 250, 13}, {250, 13, 0, 0}, {"-", "-", "-", "-"}},
        {"", 2, {}, {0, 0, 250, 13}, {250, 13, 0, 0}, {"-", "-", "-", "-"}},
        // Values the dialog does not offer show as its defaults, and OK
        // stores those.
        {"Beep=300\n", 1, {}, {0, 0, 250, 13}, {250, 13, 0, 0}, {"250", "-", "-", "-"}},
        {"Terminator=27\n", 1, {}, {0, 0, 250, 13}, {250, 13, 0, 0}, {"-", "13", "-", "-"}},
        {"Camera=5\n", 1, {}, {kNone, 0, 250, 13}, {250, 13, 0, 0}, {"-", "-", "0", "-"}},
        {"Resolution=7\n", 1, {}, {0, kNone, 250, 13}, {250, 13, 0, -1}, {"-", "-", "-", "-1"}},
        {"Resolution=-1\n", 1, {}, {0, kNone, 250, 13}, {250, 13, 0, -1}, {"-", "-", "-", "-1"}},
        // Every value the dialog offers, shown and chosen.
        {"Beep=0\nTerminator=0\nCamera=1\nResolution=1\n", 2, {}, {1, 1, 0, 0}, {0, 0, 1, 1},
         {"0", "0", "1", "1"}},
        {"Beep=500\nTerminator=9\nCamera=0\nResolution=2\n", 2, {}, {0, 2, 500, 9},
         {500, 9, 0, 2}, {"500", "9", "0", "2"}},
        {"Beep=1000\n", 2, {}, {0, 0, 1000, 13}, {1000, 13, 0, 0}, {"1000", "-", "-", "-"}},
        {"Beep=2000\n", 2, {}, {0, 0, 2000, 13}, {2000, 13, 0, 0}, {"2000", "-", "-", "-"}},
        {"", 3, {2, 2, 2000, 9}, {0, 0, 250, 13}, {2000, 9, 2, 2}, {"2000", "9", "2", "2"}},
        {"", 2, {1, 1, 1000, 13}, {0, 0, 250, 13}, {1000, 13, 1, 1}, {"1000", "-", "1", "1"}},
        {"", 2, {kKeep, kKeep, 500, kKeep}, {0, 0, 250, 13}, {500, 13, 0, 0},
         {"500", "-", "-", "-"}},
        {"Beep=1000\nTerminator=9\n", 2, {kKeep, 0, 0, 0}, {0, 0, 1000, 9}, {0, 0, 0, 0},
         {"0", "0", "-", "-"}},
        {"", 2, {kKeep, kKeep, 250, 13}, {0, 0, 250, 13}, {250, 13, 0, 0}, {"-", "-", "-", "-"}},
        // Nothing chosen in either list.
        {"", 2, {kNone, kNone, kKeep, kKeep}, {0, 0, 250, 13}, {250, 13, 0, -1},
         {"-", "-", "-", "-1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "stored \"" << c.stored << "\", " << c.devices
                                        << " devices");
        WriteFile(UserFile(), "[Morvelix Barcode Reader]\n" + std::string(c.stored));
        MyFrame1* frame = OpenWindow();
        AddDevices(frame, c.devices);
        Settle();
        const Shown shown = Run(frame, c.change, ID_OPTIONS_OK);
        EXPECT_EQ(shown.device, c.shown.device);
        EXPECT_EQ(shown.resolution, c.shown.resolution);
        EXPECT_EQ(shown.beep, c.shown.beep);
        EXPECT_EQ(shown.terminator, c.shown.terminator);
        // Stored at once, before the window closes.
        EXPECT_EQ(StoredOptions(), c.saved);
        EXPECT_EQ((std::vector<int>{frame->m_beep, frame->m_terminator, frame->m_camera,
                                    frame->m_resolution}),
                  c.values);
        CloseWindow(frame);
        EXPECT_EQ(StoredOptions(), c.saved);
    }
}

TEST_F(OptionsCommandTest, CancelAndCloseBoxStoreNothing)
{
    const std::string stored = "[Morvelix Barcode Reader]\nBeep=500\nTerminator=9\nCamera=1\n"
                               "Resolution=2\n";
    for (int button : {int(ID_OPTIONS_CANCEL), int(wxID_CLOSE)}) {
        SCOPED_TRACE(button);
        WriteFile(UserFile(), stored);
        MyFrame1* frame = OpenWindow();
        AddDevices(frame, 3);
        Settle();
        const Change everything = {2, 0, 0, 13};
        Shown shown = Run(frame, everything, button);
        EXPECT_EQ(shown.device, 1);
        EXPECT_EQ(shown.resolution, 2);
        EXPECT_EQ(shown.beep, 500);
        EXPECT_EQ(shown.terminator, 9);
        EXPECT_EQ(ReadFile(UserFile()), stored) << "nothing written";
        EXPECT_EQ(frame->m_beep, 500);
        EXPECT_EQ(frame->m_terminator, 9);
        EXPECT_EQ(frame->m_camera, 1);
        EXPECT_EQ(frame->m_resolution, 2);
        // The next opening shows the stored values, not the cancelled choices.
        shown = Run(frame, {}, ID_OPTIONS_CANCEL);
        EXPECT_EQ(shown.device, 1);
        EXPECT_EQ(shown.resolution, 2);
        EXPECT_EQ(shown.beep, 500);
        EXPECT_EQ(shown.terminator, 9);
        CloseWindow(frame);
    }
}

// Every opening reads the store again, the machine-wide file included;
// the choices go to the user's file.
TEST_F(OptionsCommandTest, ReadsTheStoreAtEveryOpening)
{
    WriteFile(MachineFile(), "[Morvelix Barcode Reader]\nBeep=1000\nTerminator=9\n");
    MyFrame1* frame = OpenWindow();
    AddDevices(frame, 2);
    Settle();
    Shown shown = Run(frame, {}, ID_OPTIONS_CANCEL);
    EXPECT_EQ(shown.beep, 1000);
    EXPECT_EQ(shown.terminator, 9);
    frame->m_beep = 0; // as a stale value in the window
    shown = Run(frame, {1, kKeep, kKeep, 0}, ID_OPTIONS_OK);
    EXPECT_EQ(shown.beep, 1000);
    // The machine-wide beep was not changed: it is not copied.
    EXPECT_EQ(StoredOptions(), (std::vector<std::string>{"-", "0", "1", "-"}));
    EXPECT_EQ(ReadFile(MachineFile()), "[Morvelix Barcode Reader]\nBeep=1000\nTerminator=9\n");
    CloseWindow(frame);
}

// Options shows what another reader stored while this one ran.
TEST_F(OptionsCommandTest, ShowsWhatAnotherReaderStoredMeanwhile)
{
    WriteFile(UserFile(), "[Morvelix Barcode Reader]\nBeep=500\n");
    MyFrame1* frame = OpenWindow();
    AddDevices(frame, 2);
    Settle();
    WriteFile(UserFile(), "[Morvelix Barcode Reader]\nBeep=1000\nTerminator=9\nCamera=1\n"
                          "Resolution=2\n");
    const Shown shown = Run(frame, {}, ID_OPTIONS_CANCEL);
    EXPECT_EQ(shown.beep, 1000);
    EXPECT_EQ(shown.terminator, 9);
    EXPECT_EQ(shown.device, 1);
    EXPECT_EQ(shown.resolution, 2);
    EXPECT_EQ(frame->m_beep, 1000);
    CloseWindow(frame);
}

// Real clicks through the X server on the shown dialog.
TEST_F(OptionsCommandTest, MouseClicksOnTheDialog)
{
    MyFrame1* frame = OpenWindow();
    AddDevices(frame, 1);
    frame->Raise();
    Settle(20);
    Options* dialog = frame->m_options;
    bool ran = false;
    dialog->CallAfter([&] {
        ran = true;
        Settle(20);
        ExpectAllControlsVisible(dialog);
        wxUIActionSimulator mouse;
        for (wxWindow* control : {static_cast<wxWindow*>(dialog->m_beepNone),
                                  static_cast<wxWindow*>(dialog->m_terminatorTab),
                                  static_cast<wxWindow*>(dialog->m_okButton)}) {
            const wxRect rect = control->GetScreenRect();
            mouse.MouseMove(rect.x + rect.width / 2, rect.y + rect.height / 2);
            Settle(4);
            mouse.MouseClick();
            Settle(10);
        }
    });
    SendCommand(frame, ID_MENU_OPTIONS);
    EXPECT_TRUE(ran);
    EXPECT_FALSE(dialog->IsShown());
    EXPECT_EQ(StoredOptions(), (std::vector<std::string>{"0", "9", "-", "-"}));
    CloseWindow(frame);
}

// A user's file that cannot be read as text is left as it is: the reader
// starts on the defaults and says so once on standard error, naming the
// file, and neither Options nor exit writes a byte. Latin-1 without a
// byte-order mark is read. So is a file that could be read but not written
// back as it was, and one too large to be a settings file, which is not
// read at all.
TEST_F(OptionsCommandTest, AFileThatCannotBeReadIsNeverWritten)
{
    const std::string values = "[Other]\nkept=1\n[Morvelix Barcode Reader]\nTerminator=9\nBeep=0\n";
    std::string utf16 = "\xff\xfe";
    for (char c : values)
        utf16 += std::string{c, '\0'};
    const struct {
        const char* what;
        std::string bytes;
        bool readable;
    } cases[] = {
        {"a UTF-8 byte-order mark and a Latin-1 byte", "\xef\xbb\xbf# caf\xe9\n" + values, false},
        {"UTF-16 of odd length", utf16 + "\n", false},
        {"a NUL byte", std::string("# \0\n", 4) + values, false},
        {"NUL bytes only", std::string(4096, '\0'), false},
        // UTF-8 for a code point beyond Unicode, which the toolkit reads
        // but drops, with its line, when it writes the text back.
        {"a character beyond Unicode", values + "# \xf4\x90\x80\x80\n", false},
        {"more than 4 MiB", values + "# " + std::string(4 << 20, 'x') + "\n", false},
        {"Latin-1 without a byte-order mark", "# caf\xe9\n" + values, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(UserFile(), c.bytes);
        StandardErrorCapture errors;
        MyFrame1* frame = OpenWindow();
        AddDevices(frame, 1);
        Settle();
        EXPECT_EQ(frame->m_beep, c.readable ? 0 : 250);
        EXPECT_EQ(frame->m_terminator, c.readable ? 9 : 13);
        Run(frame, {kKeep, kKeep, 500, kKeep}, ID_OPTIONS_OK);
        CloseWindow(frame);

        const std::vector<std::string> said = errors.LinesWith(UserFile().ToStdString());
        if (c.readable) {
            EXPECT_TRUE(said.empty()) << said[0];
            EXPECT_EQ(StoredOptions()[0], "500");
            continue;
        }
        EXPECT_EQ(ReadFile(UserFile()), c.bytes);
        ASSERT_EQ(said.size(), 1u);
        EXPECT_NE(said[0].find("default options"), std::string::npos) << said[0];
    }
}

// A save that fails (here a home folder that takes no new file) is said
// once on standard error, with the file and the reason, at Options and at
// exit; the window keeps the chosen values, and the next Options shows
// them; the file stays as it was and nothing is left beside it.
TEST_F(OptionsCommandTest, AFailedSaveIsSaidAndTheValuesStay)
{
    const std::string stored = "[Morvelix Barcode Reader]\nBeep=500\n";
    WriteFile(UserFile(), stored);
    MyFrame1* frame = OpenWindow();
    AddDevices(frame, 1);
    Settle();
    ASSERT_EQ(chmod(m_home.fn_str(), 0555), 0);
    {
        PermissionsApply permissions;
        StandardErrorCapture errors;
        Run(frame, {kKeep, kKeep, 1000, 9}, ID_OPTIONS_OK);
        std::vector<std::string> said = errors.LinesWith(UserFile().ToStdString());
        ASSERT_EQ(said.size(), 1u);
        EXPECT_NE(said[0].find("Permission denied"), std::string::npos) << said[0];
        EXPECT_EQ(frame->m_beep, 1000);
        EXPECT_EQ(frame->m_terminator, 9);

        const Shown shown = Run(frame, {}, ID_OPTIONS_CANCEL);
        EXPECT_EQ(shown.beep, 1000);
        EXPECT_EQ(shown.terminator, 9);
        EXPECT_EQ(errors.LinesWith(UserFile().ToStdString()).size(), 1u);

        ClickTool(frame->m_typeToolBar, ID_EAN8);
        CloseWindow(frame);
        said = errors.LinesWith(UserFile().ToStdString());
        ASSERT_EQ(said.size(), 2u);
        EXPECT_NE(said[1].find("Permission denied"), std::string::npos) << said[1];
    }
    ASSERT_EQ(chmod(m_home.fn_str(), 0700), 0);
    EXPECT_EQ(ReadFile(UserFile()), stored);
    EXPECT_EQ(FilesIn(m_home), std::vector<wxString>{".Morvelix"});
}
