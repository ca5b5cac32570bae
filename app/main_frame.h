// The main window's layout: toolbars, text box, splitter with the video
// panel and the history table, menus and status bar. Every control event is
// connected at run time to a virtual handler that only skips the event; the
// layers above override the handlers they need.
#pragma once

#include <wx/frame.h>

class wxGrid;
class wxMenu;
class wxMenuBar;
class wxPanel;
class wxScrolledWindow;
class wxSplitterWindow;
class wxStaticText;
class wxStatusBar;
class wxTextCtrl;
class wxToolBar;

enum {
    ID_UPCA_EAN13 = 1000, // check tool: EAN-13, which also yields UPC-A
    ID_EAN8,              // check tool
    ID_UPCE,              // check tool
    ID_CODEBAR39,         // check tool: Code 39
    ID_CODEBAR128,        // check tool: Code 128
    ID_OMNI_DIRECTIONAL,  // radio tool: six scan directions
    ID_BI_DIRECTIONAL,    // radio tool: horizontal lines only
    ID_PLAY,
    ID_PAUSE,
    ID_OPEN_FILE,
    ID_CAMERA_SETTINGS,
    ID_CLEAR,             // history toolbar
    ID_SAVE_AS,           // history toolbar
    ID_MENU_OPEN_FILE,    // File menu
    ID_MENU_OPTIONS,      // File menu
};

class wxMainFrame : public wxFrame {
public:
    wxMainFrame(const wxString& title, const wxSize& size, const wxString& name);
    ~wxMainFrame() override;

    wxToolBar* m_typeToolBar;       // the five type tools and the two mode tools
    wxStaticText* m_typesLabel;     // "Barcode types:"
    wxStaticText* m_modeLabel;      // "    Mode:"
    wxToolBar* m_mainToolBar;       // Play, Pause, Open file, Camera settings, text box
    wxTextCtrl* m_text;             // shows the value last added to the history
    wxSplitterWindow* m_splitter;   // Source above, History below
    wxPanel* m_sourcePanel;         // upper pane, box "Source"
    wxScrolledWindow* m_videoPanel; // the camera frame or the opened picture
    wxPanel* m_historyPanel;        // lower pane, box "History"
    wxToolBar* m_historyToolBar;    // Clear and Save as
    wxGrid* m_grid;                 // the history table
    wxMenuBar* m_menuBar;
    wxMenu* m_fileMenu;
    wxMenu* m_helpMenu;
    wxStatusBar* m_statusBar;       // two fields

    virtual void OnUpcaEan13(wxCommandEvent& event) { event.Skip(); }
    virtual void OnEan8(wxCommandEvent& event) { event.Skip(); }
    virtual void OnUpce(wxCommandEvent& event) { event.Skip(); }
    virtual void OnCodebar39(wxCommandEvent& event) { event.Skip(); }
    virtual void OnCodebar128(wxCommandEvent& event) { event.Skip(); }
    virtual void OnOmniDirectional(wxCommandEvent& event) { event.Skip(); }
    virtual void OnBiDirectional(wxCommandEvent& event) { event.Skip(); }
    virtual void OnPlay(wxCommandEvent& event) { event.Skip(); }
    virtual void OnPause(wxCommandEvent& event) { event.Skip(); }
    virtual void OnOpenFile(wxCommandEvent& event) { event.Skip(); }
    virtual void OnCameraSettings(wxCommandEvent& event) { event.Skip(); }
    virtual void OnTextKillFocus(wxFocusEvent& event) { event.Skip(); }
    virtual void OnTextSetFocus(wxFocusEvent& event) { event.Skip(); }
    virtual void OnVideoPanelPaint(wxPaintEvent& event) { event.Skip(); }
    virtual void OnVideoPanelSize(wxSizeEvent& event) { event.Skip(); }
    virtual void OnClearHistory(wxCommandEvent& event) { event.Skip(); }
    virtual void OnSaveAs(wxCommandEvent& event) { event.Skip(); }
    virtual void OnOptions(wxCommandEvent& event) { event.Skip(); }
    virtual void OnExit(wxCommandEvent& event) { event.Skip(); }
    virtual void OnHelp(wxCommandEvent& event) { event.Skip(); }
    virtual void OnAbout(wxCommandEvent& event) { event.Skip(); }

    // Moves the sash to its working place once the window has been laid
    // out, then disconnects itself.
    void OnSplitterIdle(wxIdleEvent& event);

private:
    // Makes or removes the connections of the controls to the handlers.
    void Connections(bool connect);
};
