// The top layer of the main window, the window class that the application
// creates. It keeps the size that camera frames are displayed at.
#pragma once

#include "main_frame_ex.h"

class MyFrame1 : public wxMainFrameEx {
public:
    MyFrame1(const wxString& title, const wxSize& size);

    void OnVideoPanelSize(wxSizeEvent& event) override;

    int m_panelWidth;  // current width of the video panel
    int m_panelHeight; // current height of the video panel
};
