#include "main_frame.h"

#include <algorithm>

#include <wx/bitmap.h>
#include <wx/gbsizer.h>
#include <wx/grid.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/scrolwin.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/splitter.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>

#include "icons/bi_directional.xpm"
#include "icons/camera_settings.xpm"
#include "icons/clear.xpm"
#include "icons/codebar128.xpm"
#include "icons/codebar39.xpm"
#include "icons/ean8.xpm"
#include "icons/omni_directional.xpm"
#include "icons/open_file.xpm"
#include "icons/pause.xpm"
#include "icons/play.xpm"
#include "icons/save_as.xpm"
#include "icons/upca_ean13.xpm"
#include "icons/upce.xpm"
#include "gtk_look.h"

// Width of one separator of the type and main toolbars, which use runs of
// them as gaps: that of a separator on the toolbars the layout was drawn for.
static constexpr int kSeparatorWidth = 8; // pixels

wxMainFrame::wxMainFrame(const wxString& title, const wxSize& size, const wxString& name)
    : wxFrame(nullptr, wxID_ANY, title, wxDefaultPosition, size,
              wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL, name)
{
    SetSizeHints(wxSize(677, 687), wxDefaultSize);
    ShowWithoutWaiting(this);

    wxBoxSizer* frameSizer = new wxBoxSizer(wxVERTICAL);

    // Type toolbar.
    m_typeToolBar = new wxToolBar(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                  wxTB_FLAT | wxSUNKEN_BORDER, "toolbar");
    m_typeToolBar->SetToolBitmapSize(wxSize(18, 18));
    m_typeToolBar->SetToolSeparation(1);
    m_typeToolBar->SetToolPacking(0);
    m_typeToolBar->SetFont(wxFont(wxNORMAL_FONT->GetPointSize(), wxFONTFAMILY_DEFAULT,
                                  wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false, wxEmptyString));
    m_typesLabel = new wxStaticText(m_typeToolBar, wxID_ANY, "Barcode types:",
                                    wxDefaultPosition, wxDefaultSize, 0, "staticText");
    m_typesLabel->Wrap(-1);
    m_typeToolBar->AddControl(m_typesLabel, wxEmptyString);
    m_typeToolBar->AddTool(ID_UPCA_EAN13, "        UPCA", wxBitmap(upca_ean13_xpm), wxNullBitmap,
                           wxITEM_CHECK, "UPCA / EAN13", "UPCA / EAN13", nullptr);
    m_typeToolBar->AddTool(ID_EAN8, "         EAN8", wxBitmap(ean8_xpm), wxNullBitmap,
                           wxITEM_CHECK, "EAN8", "EAN8", nullptr);
    m_typeToolBar->AddTool(ID_UPCE, "        UPCE", wxBitmap(upce_xpm), wxNullBitmap,
                           wxITEM_CHECK, "UPCE", "UPCE", nullptr);
    m_typeToolBar->AddTool(ID_CODEBAR39, "        Cbr39", wxBitmap(codebar39_xpm), wxNullBitmap,
                           wxITEM_CHECK, "Codebar 39", "Codebar 39", nullptr);
    m_typeToolBar->AddTool(ID_CODEBAR128, "       Cbr128", wxBitmap(codebar128_xpm), wxNullBitmap,
                           wxITEM_CHECK, "Codebar 128", "Codebar 128", nullptr);
    m_typeToolBar->AddSeparator();
    m_typeToolBar->AddSeparator();
    m_modeLabel = new wxStaticText(m_typeToolBar, wxID_ANY, "    Mode:",
                                   wxDefaultPosition, wxDefaultSize, 0, "staticText");
    m_modeLabel->Wrap(-1);
    m_typeToolBar->AddControl(m_modeLabel, wxEmptyString);
    m_typeToolBar->AddTool(ID_OMNI_DIRECTIONAL, "Omni-directional", wxBitmap(omni_directional_xpm),
                           wxNullBitmap, wxITEM_RADIO, "Omni-directional",
                           "activate all  scanner lines", nullptr);
    m_typeToolBar->AddTool(ID_BI_DIRECTIONAL, "Bi-directional", wxBitmap(bi_directional_xpm),
                           wxNullBitmap, wxITEM_RADIO, "Bi-directional",
                           "activate horizontal scanner lines", nullptr);
    m_typeToolBar->Realize();
    MakeSeparatorsBlank(m_typeToolBar, kSeparatorWidth);
    frameSizer->Add(m_typeToolBar, 0, wxEXPAND, 5);

    wxGridBagSizer* contentSizer = new wxGridBagSizer(0, 0);
    contentSizer->AddGrowableCol(0);
    contentSizer->AddGrowableRow(1);
    contentSizer->SetFlexibleDirection(wxBOTH);
    contentSizer->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    // Main toolbar. Its runs of separators are spacing only.
    m_mainToolBar = new wxToolBar(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                  wxTB_HORIZONTAL, "toolbar");
    m_mainToolBar->SetToolBitmapSize(wxSize(32, 32));
    m_mainToolBar->AddTool(ID_PLAY, "Play", wxBitmap(play_xpm), wxNullBitmap, wxITEM_NORMAL,
                           "Play", "Play", nullptr);
    m_mainToolBar->AddTool(ID_PAUSE, "Pause", wxBitmap(pause_xpm), wxNullBitmap, wxITEM_NORMAL,
                           "Pause", "Pause", nullptr);
    m_mainToolBar->AddSeparator();
    m_mainToolBar->AddTool(ID_OPEN_FILE, "tool", wxBitmap(open_file_xpm), wxNullBitmap,
                           wxITEM_NORMAL, "Open file", "Open file", nullptr);
    for (int i = 0; i < 23; ++i)
        m_mainToolBar->AddSeparator();
    m_mainToolBar->AddTool(ID_CAMERA_SETTINGS, "Camera settings", wxBitmap(camera_settings_xpm),
                           wxNullBitmap, wxITEM_NORMAL, "Camera settings", "Camera settings",
                           nullptr);
    for (int i = 0; i < 5; ++i)
        m_mainToolBar->AddSeparator();
    m_text = new wxTextCtrl(m_mainToolBar, wxID_ANY, wxEmptyString, wxDefaultPosition,
                            wxSize(250, 31), wxSUNKEN_BORDER, wxDefaultValidator, "text");
    m_text->SetFont(wxFont(16, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL,
                           false, wxEmptyString));
    m_text->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_3DLIGHT));
    AllowCompactHeight(m_text);
    m_mainToolBar->AddControl(m_text, wxEmptyString);
    m_mainToolBar->Realize();
    MakeSeparatorsBlank(m_mainToolBar, kSeparatorWidth);
    contentSizer->Add(m_mainToolBar, wxGBPosition(0, 0), wxGBSpan(1, 1), wxEXPAND, 5);

    wxGridSizer* splitterCell = new wxGridSizer(1, 1, 0, 0);

    m_splitter = new wxSplitterWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                      wxSP_3D, "splitter");
    m_splitter->SetMinimumPaneSize(65);
    m_splitter->Connect(wxEVT_IDLE, wxIdleEventHandler(wxMainFrame::OnSplitterIdle), nullptr,
                        this);

    // Source pane.
    m_sourcePanel = new wxPanel(m_splitter, wxID_ANY, wxPoint(0, 0), wxSize(200, -1),
                                wxTAB_TRAVERSAL, "panel");
    wxStaticBoxSizer* sourceBox =
        new wxStaticBoxSizer(new wxStaticBox(m_sourcePanel, wxID_ANY, "Source"), wxVERTICAL);
    m_videoPanel = new wxScrolledWindow(m_sourcePanel, wxID_ANY, wxDefaultPosition,
                                        wxDefaultSize, wxHSCROLL | wxVSCROLL, "panel");
    m_videoPanel->SetScrollRate(5, 5);
    AllowShortScrollbars(m_videoPanel);
    sourceBox->Add(m_videoPanel, 1, wxEXPAND | wxALL, 5);
    m_sourcePanel->SetSizer(sourceBox);
    m_sourcePanel->Layout();

    // History pane.
    m_historyPanel = new wxPanel(m_splitter, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                 wxNO_BORDER, "panel");
    wxBoxSizer* historyPanelSizer = new wxBoxSizer(wxVERTICAL);
    wxStaticBoxSizer* historyBox =
        new wxStaticBoxSizer(new wxStaticBox(m_historyPanel, wxID_ANY, "History"), wxVERTICAL);
    wxFlexGridSizer* tableSizer = new wxFlexGridSizer(2, 1, 1, 0);
    tableSizer->AddGrowableCol(0);
    tableSizer->AddGrowableRow(1);
    tableSizer->SetFlexibleDirection(wxBOTH);
    tableSizer->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_ALL);

    m_historyToolBar = new wxToolBar(m_historyPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                     wxTB_HORIZONTAL | wxTB_FLAT | wxTB_DOCKABLE | wxNO_BORDER,
                                     "toolbar");
    m_historyToolBar->SetToolSeparation(3);
    m_historyToolBar->AddTool(ID_CLEAR, "tool", wxBitmap(clear_xpm), wxNullBitmap, wxITEM_NORMAL,
                              "Clear", wxEmptyString, nullptr);
    m_historyToolBar->AddSeparator();
    m_historyToolBar->AddTool(ID_SAVE_AS, "Save as", wxBitmap(save_as_xpm), wxNullBitmap,
                              wxITEM_NORMAL, "Save as", wxEmptyString, nullptr);
    m_historyToolBar->AddSeparator();
    m_historyToolBar->Realize();
    tableSizer->Add(m_historyToolBar, 0, wxEXPAND | wxALL, 0);

    m_grid = new wxGrid(m_historyPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                        wxVSCROLL | wxALWAYS_SHOW_SB, "grid");
    m_grid->CreateGrid(1, 4, wxGrid::wxGridSelectCells);
    m_grid->EnableEditing(false);
    m_grid->EnableGridLines(true);
    m_grid->EnableDragGridSize(true);
    m_grid->SetMargins(0, 0);
    m_grid->SetColSize(0, 80);
    m_grid->SetColSize(1, 150);
    m_grid->SetColSize(2, 80);
    m_grid->SetColSize(3, 320);
    m_grid->EnableDragColMove(false);
    m_grid->EnableDragColSize(true);
    m_grid->SetColLabelSize(30);
    m_grid->SetColLabelValue(0, "Date/Time");
    m_grid->SetColLabelValue(1, "Barcode");
    m_grid->SetColLabelValue(2, "Type");
    m_grid->SetColLabelValue(3, "Source");
    m_grid->SetColLabelAlignment(wxALIGN_CENTRE, wxALIGN_CENTRE);
    // 17 pixels fit a row of the normal font on Windows; GTK's normal font
    // needs more, so the first row is never lower than the grid's other rows.
    m_grid->SetRowSize(0, std::max(17, m_grid->GetDefaultRowSize()));
    m_grid->EnableDragRowSize(true);
    m_grid->SetRowLabelSize(0);
    m_grid->SetRowLabelAlignment(wxALIGN_CENTRE, wxALIGN_CENTRE);
    m_grid->SetDefaultCellAlignment(wxALIGN_LEFT, wxALIGN_TOP);
    AllowShortScrollbars(m_grid);
    tableSizer->Add(m_grid, 0, wxEXPAND | wxALL, 5);

    // wxEXPAND already fills the cell; the toolkit rejects a bottom alignment beside it.
    historyBox->Add(tableSizer, 1, wxEXPAND, 5);
    historyPanelSizer->Add(historyBox, 1, wxEXPAND, 5);
    m_historyPanel->SetSizer(historyPanelSizer);
    m_historyPanel->Layout();
    // Fitted, and never made smaller by the splitter than its table needs:
    // a shorter pane would squeeze the table's scrollbars.
    historyPanelSizer->SetSizeHints(m_historyPanel);

    m_splitter->SplitHorizontally(m_sourcePanel, m_historyPanel, 445);

    splitterCell->Add(m_splitter, 1, wxEXPAND, 5);
    contentSizer->Add(splitterCell, wxGBPosition(1, 0), wxGBSpan(1, 1), wxEXPAND, 5);
    frameSizer->Add(contentSizer, 1, wxEXPAND, 3);
    SetSizer(frameSizer);
    Layout();

    // Menus.
    m_menuBar = new wxMenuBar(0);
    m_fileMenu = new wxMenu();
    wxMenuItem* openFileItem = new wxMenuItem(m_fileMenu, ID_MENU_OPEN_FILE, "Open File",
                                              wxEmptyString, wxITEM_NORMAL);
    m_fileMenu->Append(openFileItem);
    wxMenuItem* optionsItem = new wxMenuItem(m_fileMenu, ID_MENU_OPTIONS, "Options",
                                             wxEmptyString, wxITEM_NORMAL);
    m_fileMenu->Append(optionsItem);
    m_fileMenu->AppendSeparator();
    wxMenuItem* exitItem = new wxMenuItem(m_fileMenu, wxID_EXIT, "Exit", wxEmptyString,
                                          wxITEM_NORMAL);
    m_fileMenu->Append(exitItem);
    m_menuBar->Append(m_fileMenu, "File");
    m_helpMenu = new wxMenu();
    wxMenuItem* helpItem = new wxMenuItem(m_helpMenu, wxID_HELP, "Help", wxEmptyString,
                                          wxITEM_NORMAL);
    m_helpMenu->Append(helpItem);
    m_helpMenu->AppendSeparator();
    wxMenuItem* aboutItem = new wxMenuItem(m_helpMenu, wxID_ABOUT, "About", wxEmptyString,
                                           wxITEM_NORMAL);
    m_helpMenu->Append(aboutItem);
    m_menuBar->Append(m_helpMenu, "Help");
    SetMenuBar(m_menuBar);

    m_statusBar = CreateStatusBar(2, wxST_SIZEGRIP, wxID_ANY, "status_line");

    Connections(true);
}

wxMainFrame::~wxMainFrame()
{
    Connections(false);
}

// The 22 connections, made by the constructor and removed in the same order
// by the destructor. Tool clicks of all three toolbars and menu selections
// reach the frame as command events; the rows on child windows are handled by
// the frame too.
void wxMainFrame::Connections(bool connect)
{
    struct Row {
        wxEvtHandler* on;
        wxEventType type;
        int id;
        wxObjectEventFunction handler;
    };
    const wxEventType command = wxEVT_COMMAND_MENU_SELECTED;
    const Row rows[] = {
        {this, command, ID_UPCA_EAN13, wxCommandEventHandler(wxMainFrame::OnUpcaEan13)},
        {this, command, ID_EAN8, wxCommandEventHandler(wxMainFrame::OnEan8)},
        {this, command, ID_UPCE, wxCommandEventHandler(wxMainFrame::OnUpce)},
        {this, command, ID_CODEBAR39, wxCommandEventHandler(wxMainFrame::OnCodebar39)},
        {this, command, ID_CODEBAR128, wxCommandEventHandler(wxMainFrame::OnCodebar128)},
        {this, command, ID_OMNI_DIRECTIONAL, wxCommandEventHandler(wxMainFrame::OnOmniDirectional)},
        {this, command, ID_BI_DIRECTIONAL, wxCommandEventHandler(wxMainFrame::OnBiDirectional)},
        {this, command, ID_PLAY, wxCommandEventHandler(wxMainFrame::OnPlay)},
        {this, command, ID_PAUSE, wxCommandEventHandler(wxMainFrame::OnPause)},
        {this, command, ID_OPEN_FILE, wxCommandEventHandler(wxMainFrame::OnOpenFile)},
        {this, command, ID_CAMERA_SETTINGS, wxCommandEventHandler(wxMainFrame::OnCameraSettings)},
        {m_text, wxEVT_KILL_FOCUS, wxID_ANY, wxFocusEventHandler(wxMainFrame::OnTextKillFocus)},
        {m_text, wxEVT_SET_FOCUS, wxID_ANY, wxFocusEventHandler(wxMainFrame::OnTextSetFocus)},
        {m_videoPanel, wxEVT_PAINT, wxID_ANY, wxPaintEventHandler(wxMainFrame::OnVideoPanelPaint)},
        {m_videoPanel, wxEVT_SIZE, wxID_ANY, wxSizeEventHandler(wxMainFrame::OnVideoPanelSize)},
        {this, command, ID_CLEAR, wxCommandEventHandler(wxMainFrame::OnClearHistory)},
        {this, command, ID_SAVE_AS, wxCommandEventHandler(wxMainFrame::OnSaveAs)},
        {this, command, ID_MENU_OPEN_FILE, wxCommandEventHandler(wxMainFrame::OnOpenFile)},
        {this, command, ID_MENU_OPTIONS, wxCommandEventHandler(wxMainFrame::OnOptions)},
        {this, command, wxID_EXIT, wxCommandEventHandler(wxMainFrame::OnExit)},
        {this, command, wxID_HELP, wxCommandEventHandler(wxMainFrame::OnHelp)},
        {this, command, wxID_ABOUT, wxCommandEventHandler(wxMainFrame::OnAbout)},
    };
    for (const Row& row : rows) {
        wxEvtHandler* const sink = row.on == this ? nullptr : this;
        if (connect)
            row.on->Connect(row.id, row.type, row.handler, nullptr, sink);
        else
            row.on->Disconnect(row.id, row.type, row.handler, nullptr, sink);
    }
}

void wxMainFrame::OnSplitterIdle(wxIdleEvent&)
{
    m_splitter->SetSashPosition(396, true);
    m_splitter->Disconnect(wxEVT_IDLE, wxIdleEventHandler(wxMainFrame::OnSplitterIdle), nullptr,
                           this);
}
