// The Options dialog: capture device, capture resolution, beep length and
// the key sent after each typed value. Built once by the main window and
// shown modally; it ends with 1 for OK and 0 for Cancel.
#pragma once

#include <wx/dialog.h>

class wxButton;
class wxChoice;
class wxRadioButton;
class wxStaticText;

enum {
    ID_BEEP_NONE = 1000,
    ID_BEEP_250,
    ID_BEEP_500,
    ID_BEEP_1000,
    ID_BEEP_2000,
    ID_TERMINATOR_NONE,
    ID_TERMINATOR_ENTER,
    ID_TERMINATOR_TAB,
    ID_OPTIONS_CANCEL,
    ID_OPTIONS_OK,
};

class Options : public wxDialog {
public:
    Options(wxWindow* parent, const wxString& title, const wxSize& size);
    ~Options() override;

    virtual void OnCancel(wxCommandEvent& event);
    virtual void OnOK(wxCommandEvent& event);

    wxButton* m_cancelButton;
    wxButton* m_okButton;
    wxStaticText* m_deviceLabel;
    wxChoice* m_deviceChoice;        // item i is capture device i, client data i
    wxStaticText* m_resolutionLabel;
    wxChoice* m_resolutionChoice;    // item index is the Resolution setting
    wxRadioButton* m_beepNone;       // 0 ms
    wxRadioButton* m_beep250;
    wxRadioButton* m_beep500;
    wxRadioButton* m_beep1000;
    wxRadioButton* m_beep2000;
    wxRadioButton* m_terminatorNone; // key code 0
    wxRadioButton* m_terminatorEnter; // 13
    wxRadioButton* m_terminatorTab;  // 9
};
