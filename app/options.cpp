#include "options.h"

#include <algorithm>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/gbsizer.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "gtk_look.h"
#include "main_frame_ex.h"

Options::Options(wxWindow* parent, const wxString& title, const wxSize& size)
    : wxDialog(parent, wxID_ANY, title, wxDefaultPosition, size, wxDEFAULT_DIALOG_STYLE, "dialog")
{
    SetSizeHints(wxDefaultSize, wxDefaultSize);
    ShowWithoutWaiting(this);

    wxGridSizer* topSizer = new wxGridSizer(3, 1, 0, 0);

    wxStaticBoxSizer* cameraBox =
        new wxStaticBoxSizer(new wxStaticBox(this, wxID_ANY, "Camera"), wxHORIZONTAL);
    wxGridBagSizer* cameraGrid = new wxGridBagSizer(0, 0);
    cameraGrid->SetFlexibleDirection(wxBOTH);
    cameraGrid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);
    m_deviceLabel = new wxStaticText(this, wxID_ANY, "Device name");
    m_deviceLabel->Wrap(-1);
    cameraGrid->Add(m_deviceLabel, wxGBPosition(0, 0), wxGBSpan(1, 1), wxALL, 5);
    m_deviceChoice = new wxChoice(this, wxID_ANY);
    m_deviceChoice->SetSelection(0); // selects nothing until the devices are listed
    cameraGrid->Add(m_deviceChoice, wxGBPosition(0, 1), wxGBSpan(1, 1), wxALL, 5);
    m_resolutionLabel = new wxStaticText(this, wxID_ANY, "Resolution");
    m_resolutionLabel->Wrap(-1);
    cameraGrid->Add(m_resolutionLabel, wxGBPosition(2, 0), wxGBSpan(1, 1), wxALL, 5);
    // The sign between the numbers is U+0445, which reads as a multiplication sign.
    const wxString resolutions[] = {L"640 \u0445 480", L"800 \u0445 600", L"1280 \u0445 960"};
    m_resolutionChoice = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                      WXSIZEOF(resolutions), resolutions);
    m_resolutionChoice->SetSelection(0);
    cameraGrid->Add(m_resolutionChoice, wxGBPosition(2, 1), wxGBSpan(1, 1), wxALL, 5);
    cameraBox->Add(cameraGrid, 1, wxEXPAND, 5);
    topSizer->Add(cameraBox, 1, wxEXPAND, 5);

    // The beep buttons form one group that ends where the terminator group begins.
    wxStaticBoxSizer* beepBox =
        new wxStaticBoxSizer(new wxStaticBox(this, wxID_ANY, "Beep duration"), wxHORIZONTAL);
    m_beepNone = new wxRadioButton(this, ID_BEEP_NONE, "NONE");
    m_beep250 = new wxRadioButton(this, ID_BEEP_250, "0.25 seconds");
    m_beep500 = new wxRadioButton(this, ID_BEEP_500, "0.5 seconds");
    m_beep1000 = new wxRadioButton(this, ID_BEEP_1000, "1 second");
    m_beep2000 = new wxRadioButton(this, ID_BEEP_2000, "2 seconds");
    m_beep250->SetValue(true);
    for (wxRadioButton* button : {m_beepNone, m_beep250, m_beep500, m_beep1000, m_beep2000})
        beepBox->Add(button, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    topSizer->Add(beepBox, 1, wxEXPAND, 5);

    wxStaticBoxSizer* terminatorBox = new wxStaticBoxSizer(
        new wxStaticBox(this, wxID_ANY, "Terminating character"), wxHORIZONTAL);
    m_terminatorNone = new wxRadioButton(this, ID_TERMINATOR_NONE, "NONE", wxDefaultPosition,
                                         wxDefaultSize, wxRB_GROUP);
    m_terminatorEnter = new wxRadioButton(this, ID_TERMINATOR_ENTER, "<ENTER>");
    m_terminatorTab = new wxRadioButton(this, ID_TERMINATOR_TAB, "<TAB>");
    m_terminatorEnter->SetValue(true);
    for (wxRadioButton* button : {m_terminatorNone, m_terminatorEnter, m_terminatorTab})
        terminatorBox->Add(button, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    m_cancelButton = new wxButton(this, ID_OPTIONS_CANCEL, "Cancel");
    terminatorBox->Add(m_cancelButton, 0, wxALL | wxALIGN_BOTTOM, 5);
    m_okButton = new wxButton(this, ID_OPTIONS_OK, "OK");
    terminatorBox->Add(m_okButton, 0, wxALL | wxALIGN_BOTTOM, 5);
    topSizer->Add(terminatorBox, 1, wxEXPAND, 5);

    SetSizer(topSizer);
    // GTK's radio buttons are wider than the dialog's width allows for: grow
    // to what the controls need where the given size is too small. Once a
    // window has shown the frame's size, the given size includes it.
    const wxSize needed = topSizer->GetMinSize();
    const wxSize client = GetClientSize();
    if (client.x < needed.x || client.y < needed.y)
        SetClientSize(std::max(client.x, needed.x), std::max(client.y, needed.y));
    Layout();

    m_cancelButton->Connect(wxEVT_COMMAND_BUTTON_CLICKED,
                            wxCommandEventHandler(Options::OnCancel), nullptr, this);
    m_okButton->Connect(wxEVT_COMMAND_BUTTON_CLICKED, wxCommandEventHandler(Options::OnOK),
                        nullptr, this);
}

Options::~Options()
{
    m_cancelButton->Disconnect(wxEVT_COMMAND_BUTTON_CLICKED,
                               wxCommandEventHandler(Options::OnCancel), nullptr, this);
    m_okButton->Disconnect(wxEVT_COMMAND_BUTTON_CLICKED, wxCommandEventHandler(Options::OnOK),
                           nullptr, this);
}

void Options::OnCancel(wxCommandEvent&)
{
    EndModal(0);
}

void Options::OnOK(wxCommandEvent&)
{
    EndModal(1);
}

namespace {

// The beep lengths and terminator keys with their radio buttons, in the
// order in which the buttons are read back.
struct Choice {
    wxRadioButton* Options::*button;
    int value;
};
constexpr Choice kBeeps[] = {
    {&Options::m_beepNone, 0},      {&Options::m_beep250, 250},   {&Options::m_beep500, 500},
    {&Options::m_beep1000, 1000},   {&Options::m_beep2000, 2000},
};
constexpr Choice kTerminators[] = {
    {&Options::m_terminatorNone, 0},
    {&Options::m_terminatorEnter, 13},
    {&Options::m_terminatorTab, 9},
};

// Selects the button of the value, or the fallback's for a value the
// dialog does not offer.
template <size_t N>
void ShowChoice(Options* dialog, const Choice (&choices)[N], int value, int fallback)
{
    const Choice* shown = nullptr;
    for (const Choice& choice : choices) {
        if (choice.value == value || (!shown && choice.value == fallback))
            shown = &choice;
    }
    if (shown)
        (dialog->*shown->button)->SetValue(true);
}

// The value of the first selected button; with none selected, `value` stays.
template <size_t N>
void TakeChoice(const Options* dialog, const Choice (&choices)[N], int* value)
{
    for (const Choice& choice : choices) {
        if ((dialog->*choice.button)->GetValue()) {
            *value = choice.value;
            return;
        }
    }
}

// An index outside the list selects nothing.
void Select(wxChoice* list, int index)
{
    const bool inside = index >= 0 && static_cast<unsigned>(index) < list->GetCount();
    list->SetSelection(inside ? index : wxNOT_FOUND);
}

} // namespace

void wxMainFrameEx::OnOptions(wxCommandEvent&)
{
    // The stored values, also when the last showing was cancelled, and
    // also those another reader stored meanwhile.
    ReloadSettings();
    ReadOptionValues();

    Select(m_options->m_resolutionChoice, m_resolution);
    Select(m_options->m_deviceChoice, m_camera);
    ShowChoice(m_options, kTerminators, m_terminator, 13);
    ShowChoice(m_options, kBeeps, m_beep, 250);

    if (m_options->ShowModal() != 1)
        return;

    const int camera = m_options->m_deviceChoice->GetSelection();
    m_camera = camera == wxNOT_FOUND ? 0 : camera;
    m_resolution = m_options->m_resolutionChoice->GetSelection();
    TakeChoice(m_options, kBeeps, &m_beep);
    TakeChoice(m_options, kTerminators, &m_terminator);
    WriteOptionValues();
}
