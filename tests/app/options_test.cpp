#include <wx/button.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "gui_test.h"
#include "options.h"

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
