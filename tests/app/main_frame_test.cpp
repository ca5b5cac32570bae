#include <wx/grid.h>
#include <wx/menu.h>
#include <wx/scrolwin.h>
#include <wx/settings.h>
#include <wx/splitter.h>
#include <wx/stattext.h>
#include <wx/stockitem.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>

#include "gui_test.h"
#include "my_frame.h"

namespace {

// One tool as a toolbar holds it; controls and separators have no help texts.
struct ToolRow {
    int id;             // wxID_SEPARATOR for a separator, -1 for a control
    wxItemKind kind;
    const char* label;
    const char* shortHelp;
    const char* longHelp;
};

constexpr int kControl = -1;
const ToolRow kSep = {wxID_SEPARATOR, wxITEM_SEPARATOR, "", "", ""};

void ExpectTools(wxToolBar* toolBar, const std::vector<ToolRow>& rows)
{
    ASSERT_EQ(toolBar->GetToolsCount(), rows.size());
    for (size_t pos = 0; pos < rows.size(); ++pos) {
        SCOPED_TRACE(testing::Message() << "tool at " << pos);
        const wxToolBarToolBase* tool = toolBar->GetToolByPos(static_cast<int>(pos));
        const ToolRow& row = rows[pos];
        if (row.id == kControl) {
            EXPECT_TRUE(tool->IsControl());
            continue;
        }
        if (row.id == wxID_SEPARATOR) {
            EXPECT_TRUE(tool->IsSeparator());
            continue;
        }
        EXPECT_EQ(tool->GetId(), row.id);
        EXPECT_EQ(tool->GetKind(), row.kind);
        EXPECT_EQ(tool->GetLabel(), row.label);
        EXPECT_EQ(tool->GetShortHelp(), row.shortHelp);
        EXPECT_EQ(tool->GetLongHelp(), row.longHelp);
        EXPECT_TRUE(tool->GetNormalBitmap().IsOk());
    }
}

// Records which virtual handler of the layout an event reaches.
class RecordingFrame : public wxMainFrame {
public:
    RecordingFrame() : wxMainFrame("layout", wxSize(680, 690), "mainframe") {}
    std::vector<std::string> calls;

#define RECORD(name, Event) \
    void name(Event& event) override { calls.push_back(#name); event.Skip(); }
    RECORD(OnUpcaEan13, wxCommandEvent)
    RECORD(OnEan8, wxCommandEvent)
    RECORD(OnUpce, wxCommandEvent)
    RECORD(OnCodebar39, wxCommandEvent)
    RECORD(OnCodebar128, wxCommandEvent)
    RECORD(OnOmniDirectional, wxCommandEvent)
    RECORD(OnBiDirectional, wxCommandEvent)
    RECORD(OnPlay, wxCommandEvent)
    RECORD(OnPause, wxCommandEvent)
    RECORD(OnOpenFile, wxCommandEvent)
    RECORD(OnCameraSettings, wxCommandEvent)
    RECORD(OnTextKillFocus, wxFocusEvent)
    RECORD(OnTextSetFocus, wxFocusEvent)
    RECORD(OnVideoPanelPaint, wxPaintEvent)
    RECORD(OnVideoPanelSize, wxSizeEvent)
    RECORD(OnClearHistory, wxCommandEvent)
    RECORD(OnSaveAs, wxCommandEvent)
    RECORD(OnOptions, wxCommandEvent)
    RECORD(OnExit, wxCommandEvent)
    RECORD(OnHelp, wxCommandEvent)
    RECORD(OnAbout, wxCommandEvent)
#undef RECORD
};

} // namespace

using MainFrameTest = GuiTest;

TEST_F(MainFrameTest, WindowTitleSizeAndMinimum)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    EXPECT_EQ(frame->GetTitle(), "Morvelix Barcode Reader");
    EXPECT_EQ(frame->GetName(), "mainframe");
    EXPECT_EQ(frame->GetSize(), wxSize(680, 690));
    EXPECT_EQ(frame->GetMinSize(), wxSize(677, 687));
    EXPECT_EQ(frame->GetMaxSize(), wxDefaultSize);
    ASSERT_EQ(frame->GetIcons().GetIconCount(), 1u);
    EXPECT_EQ(frame->GetIcons().GetIconByIndex(0).GetSize(), wxSize(16, 16));

    frame->SetSize(300, 200);
    Settle();
    EXPECT_GE(frame->GetSize().x, 677);
    EXPECT_GE(frame->GetSize().y, 687);
    frame->SetSize(1200, 900);
    Settle();
    EXPECT_EQ(frame->GetSize(), wxSize(1200, 900));
    CloseWindow(frame);
}

TEST_F(MainFrameTest, ToolbarsHoldTheirToolsInOrder)
{
    MyFrame1* frame = OpenWindow();
    ExpectTools(frame->m_typeToolBar,
                {{kControl, wxITEM_NORMAL, "", "", ""},
                 {ID_UPCA_EAN13, wxITEM_CHECK, "        UPCA", "UPCA / EAN13", "UPCA / EAN13"},
                 {ID_EAN8, wxITEM_CHECK, "         EAN8", "EAN8", "EAN8"},
                 {ID_UPCE, wxITEM_CHECK, "        UPCE", "UPCE", "UPCE"},
                 {ID_CODEBAR39, wxITEM_CHECK, "        Cbr39", "Codebar 39", "Codebar 39"},
                 {ID_CODEBAR128, wxITEM_CHECK, "       Cbr128", "Codebar 128", "Codebar 128"},
                 kSep,
                 kSep,
                 {kControl, wxITEM_NORMAL, "", "", ""},
                 {ID_OMNI_DIRECTIONAL, wxITEM_RADIO, "Omni-directional", "Omni-directional",
                  "activate all  scanner lines"},
                 {ID_BI_DIRECTIONAL, wxITEM_RADIO, "Bi-directional", "Bi-directional",
                  "activate horizontal scanner lines"}});
    EXPECT_EQ(frame->m_typeToolBar->GetToolBitmapSize(), wxSize(18, 18));
    EXPECT_EQ(frame->m_typeToolBar->GetToolSeparation(), 1);
    EXPECT_EQ(frame->m_typeToolBar->GetToolPacking(), 0);
    EXPECT_EQ(frame->m_typesLabel->GetLabel(), "Barcode types:");
    EXPECT_EQ(frame->m_modeLabel->GetLabel(), "    Mode:");
    EXPECT_EQ(frame->m_typeToolBar->GetToolByPos(0)->GetControl(), frame->m_typesLabel);
    EXPECT_EQ(frame->m_typeToolBar->GetToolByPos(8)->GetControl(), frame->m_modeLabel);

    std::vector<ToolRow> main = {
        {ID_PLAY, wxITEM_NORMAL, "Play", "Play", "Play"},
        {ID_PAUSE, wxITEM_NORMAL, "Pause", "Pause", "Pause"},
        kSep,
        {ID_OPEN_FILE, wxITEM_NORMAL, "tool", "Open file", "Open file"}};
    main.insert(main.end(), 23, kSep);
    main.push_back({ID_CAMERA_SETTINGS, wxITEM_NORMAL, "Camera settings", "Camera settings",
                    "Camera settings"});
    main.insert(main.end(), 5, kSep);
    main.push_back({kControl, wxITEM_NORMAL, "", "", ""});
    ExpectTools(frame->m_mainToolBar, main);
    EXPECT_EQ(frame->m_mainToolBar->GetToolByPos(33)->GetControl(), frame->m_text);

    ExpectTools(frame->m_historyToolBar, {{ID_CLEAR, wxITEM_NORMAL, "tool", "Clear", ""},
                                          kSep,
                                          {ID_SAVE_AS, wxITEM_NORMAL, "Save as", "Save as", ""},
                                          kSep});
    EXPECT_EQ(frame->m_historyToolBar->GetToolSeparation(), 3);
    CloseWindow(frame);
}

TEST_F(MainFrameTest, ToolImagesHaveTheirSizes)
{
    MyFrame1* frame = OpenWindow();
    const struct {
        wxToolBar* bar;
        int id;
        wxSize size;
    } images[] = {
        {frame->m_typeToolBar, ID_UPCA_EAN13, {18, 18}},
        {frame->m_typeToolBar, ID_EAN8, {18, 18}},
        {frame->m_typeToolBar, ID_UPCE, {18, 18}},
        {frame->m_typeToolBar, ID_CODEBAR39, {18, 18}},
        {frame->m_typeToolBar, ID_CODEBAR128, {18, 18}},
        {frame->m_typeToolBar, ID_OMNI_DIRECTIONAL, {18, 18}},
        {frame->m_typeToolBar, ID_BI_DIRECTIONAL, {18, 18}},
        {frame->m_mainToolBar, ID_PLAY, {33, 32}},
        {frame->m_mainToolBar, ID_PAUSE, {32, 32}},
        {frame->m_mainToolBar, ID_OPEN_FILE, {32, 33}},
        {frame->m_mainToolBar, ID_CAMERA_SETTINGS, {32, 32}},
        {frame->m_historyToolBar, ID_CLEAR, {16, 16}},
        {frame->m_historyToolBar, ID_SAVE_AS, {16, 15}},
    };
    for (const auto& image : images) {
        const wxBitmap bitmap = image.bar->FindById(image.id)->GetNormalBitmap();
        EXPECT_EQ(bitmap.GetSize(), image.size) << image.id;
    }
    CloseWindow(frame);
}

TEST_F(MainFrameTest, TextBoxMenusAndStatusBar)
{
    MyFrame1* frame = OpenWindow();
    // Before any event: the toolkit shows the help text of a tool under the
    // mouse in field 0 later on.
    ASSERT_EQ(frame->GetStatusBar(), frame->m_statusBar);
    EXPECT_EQ(frame->m_statusBar->GetFieldsCount(), 2);
    EXPECT_EQ(frame->m_statusBar->GetName(), "status_line");
    EXPECT_TRUE(frame->m_statusBar->GetStatusText(0).empty());
    EXPECT_TRUE(frame->m_statusBar->GetStatusText(1).empty());
    Settle();
    EXPECT_EQ(frame->m_text->GetSize(), wxSize(250, 31));
    EXPECT_EQ(frame->m_text->GetName(), "text");
    EXPECT_EQ(frame->m_text->GetFont().GetPointSize(), 16);
    EXPECT_EQ(frame->m_text->GetBackgroundColour(),
              wxSystemSettings::GetColour(wxSYS_COLOUR_3DLIGHT));
    EXPECT_TRUE(frame->m_text->IsEmpty());

    ASSERT_EQ(frame->GetMenuBar(), frame->m_menuBar);
    ASSERT_EQ(frame->m_menuBar->GetMenuCount(), 2u);
    EXPECT_EQ(frame->m_menuBar->GetMenuLabelText(0), "File");
    EXPECT_EQ(frame->m_menuBar->GetMenuLabelText(1), "Help");
    const struct {
        wxMenu* menu;
        std::vector<std::pair<int, const char*>> items; // wxID_SEPARATOR for a separator
    } menus[] = {
        {frame->m_fileMenu,
         {{ID_MENU_OPEN_FILE, "Open File"}, {ID_MENU_OPTIONS, "Options"}, {wxID_SEPARATOR, ""},
          {wxID_EXIT, "Exit"}}},
        {frame->m_helpMenu, {{wxID_HELP, "Help"}, {wxID_SEPARATOR, ""}, {wxID_ABOUT, "About"}}},
    };
    for (const auto& menu : menus) {
        ASSERT_EQ(menu.menu->GetMenuItemCount(), menu.items.size());
        for (size_t pos = 0; pos < menu.items.size(); ++pos) {
            const wxMenuItem* item = menu.menu->FindItemByPosition(pos);
            if (menu.items[pos].first == wxID_SEPARATOR) {
                EXPECT_TRUE(item->IsSeparator());
                continue;
            }
            EXPECT_EQ(item->GetId(), menu.items[pos].first);
            EXPECT_EQ(item->GetItemLabel(), menu.items[pos].second);
            EXPECT_EQ(item->GetKind(), wxITEM_NORMAL);
            // The toolkit gives the stock items their stock help text.
            if (!wxIsStockID(item->GetId())) {
                EXPECT_TRUE(item->GetHelp().empty());
            }
        }
    }
    // The stock ids keep their values.
    EXPECT_EQ(wxID_EXIT, 5006);
    EXPECT_EQ(wxID_HELP, 5009);
    EXPECT_EQ(wxID_ABOUT, 5014);

    CloseWindow(frame);
}

TEST_F(MainFrameTest, HistoryGridStartsWithOneEmptyRow)
{
    MyFrame1* frame = OpenWindow();
    wxGrid* grid = frame->m_grid;
    ASSERT_EQ(grid->GetNumberCols(), 4);
    ASSERT_EQ(grid->GetNumberRows(), 1);
    const char* labels[] = {"Date/Time", "Barcode", "Type", "Source"};
    // The Type column is as wide as its names need: TypeColumnShowsEveryNameWhole.
    const int widths[] = {80, 150, -1, 320};
    for (int col = 0; col < 4; ++col) {
        EXPECT_EQ(grid->GetColLabelValue(col), labels[col]);
        if (widths[col] > 0) {
            EXPECT_EQ(grid->GetColSize(col), widths[col]);
        }
        EXPECT_TRUE(grid->GetCellValue(0, col).empty());
    }
    EXPECT_EQ(grid->GetColLabelSize(), 30);
    // At least 17 pixels, and as high as the rows the grid adds later.
    EXPECT_EQ(grid->GetRowSize(0), std::max(17, grid->GetDefaultRowSize()));
    EXPECT_EQ(grid->GetRowLabelSize(), 0);
    EXPECT_FALSE(grid->IsEditable());
    EXPECT_FALSE(grid->CanDragColMove());
    EXPECT_TRUE(grid->CanDragColSize(0));
    EXPECT_TRUE(grid->CanDragRowSize(0));
    EXPECT_TRUE(grid->GridLinesEnabled());
    EXPECT_EQ(grid->GetSelectionMode(), wxGrid::wxGridSelectCells);
    int horizontal = 0, vertical = 0;
    grid->GetDefaultCellAlignment(&horizontal, &vertical);
    EXPECT_EQ(horizontal, wxALIGN_LEFT);
    EXPECT_EQ(vertical, wxALIGN_TOP);
    CloseWindow(frame);
}

// Every text of the Type column fits in it with the room the grid leaves
// around a cell's text (a pixel inside the cell on each side, one before
// the text and the grid line after it), so "CODEBAR 39" and "CODEBAR 128"
// can be told apart.
TEST_F(MainFrameTest, TypeColumnShowsEveryNameWhole)
{
    MyFrame1* frame = OpenWindow();
    wxGrid* grid = frame->m_grid;
    const wxFont font = grid->GetDefaultCellFont();
    for (int type : {1, 2, 4, 8, 16, 64, -1}) {
        const wxString name = type < 0 ? "N/A" : BarcodeTypeName(type);
        frame->AddToHistory("1", name, "Camera");
        int width = 0;
        grid->GetTextExtent(name, &width, nullptr, nullptr, nullptr, &font);
        EXPECT_LE(width + 4, grid->GetColSize(2)) << name;
    }
    EXPECT_GE(grid->GetColSize(2), 80);
    CloseWindow(frame);
}

TEST_F(MainFrameTest, SashMovesOnceAfterTheFirstIdle)
{
    MyFrame1* frame = OpenWindow();
    EXPECT_EQ(frame->m_splitter->GetSashPosition(), 445);
    EXPECT_EQ(frame->m_splitter->GetMinimumPaneSize(), 65);
    EXPECT_EQ(frame->m_splitter->GetSplitMode(), wxSPLIT_HORIZONTAL);
    EXPECT_EQ(frame->m_splitter->GetWindow1(), frame->m_sourcePanel);
    EXPECT_EQ(frame->m_splitter->GetWindow2(), frame->m_historyPanel);
    Settle();
    EXPECT_EQ(frame->m_splitter->GetSashPosition(), 396);

    // Later idle events leave a sash that the user moved where it is.
    frame->m_splitter->SetSashPosition(300);
    Settle();
    EXPECT_EQ(frame->m_splitter->GetSashPosition(), 300);

    // Dragged to the bottom, the sash leaves the history table the room its
    // scrollbars need (GTK would report a squeezed one).
    frame->m_splitter->SetSashPosition(frame->m_splitter->GetSize().y);
    Settle();
    EXPECT_LT(frame->m_splitter->GetSashPosition(), frame->m_splitter->GetSize().y - 65);
    EXPECT_GE(frame->m_grid->GetSize().y, frame->m_grid->GetMinSize().y);
    CloseWindow(frame);
}

TEST_F(MainFrameTest, VideoPanelSizeIsKept)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    const wxSize panel = frame->m_videoPanel->GetSize();
    EXPECT_GT(panel.x, 0);
    EXPECT_GT(panel.y, 0);
    EXPECT_EQ(frame->m_panelWidth, panel.x);
    EXPECT_EQ(frame->m_panelHeight, panel.y);

    frame->SetSize(1000, 900);
    Settle();
    EXPECT_EQ(frame->m_panelWidth, frame->m_videoPanel->GetSize().x);
    EXPECT_EQ(frame->m_panelHeight, frame->m_videoPanel->GetSize().y);
    EXPECT_GT(frame->m_panelWidth, panel.x);
    CloseWindow(frame);
}

TEST_F(MainFrameTest, EveryControlReachesItsHandler)
{
    RecordingFrame* frame = new RecordingFrame;
    frame->Show();
    Settle();
    const struct {
        int id;
        const char* handler;
    } commands[] = {
        {ID_UPCA_EAN13, "OnUpcaEan13"},     {ID_EAN8, "OnEan8"},
        {ID_UPCE, "OnUpce"},                {ID_CODEBAR39, "OnCodebar39"},
        {ID_CODEBAR128, "OnCodebar128"},    {ID_OMNI_DIRECTIONAL, "OnOmniDirectional"},
        {ID_BI_DIRECTIONAL, "OnBiDirectional"}, {ID_PLAY, "OnPlay"},
        {ID_PAUSE, "OnPause"},              {ID_OPEN_FILE, "OnOpenFile"},
        {ID_CAMERA_SETTINGS, "OnCameraSettings"}, {ID_CLEAR, "OnClearHistory"},
        {ID_SAVE_AS, "OnSaveAs"},           {ID_MENU_OPEN_FILE, "OnOpenFile"},
        {ID_MENU_OPTIONS, "OnOptions"},     {wxID_EXIT, "OnExit"},
        {wxID_HELP, "OnHelp"},              {wxID_ABOUT, "OnAbout"},
    };
    for (const auto& command : commands) {
        frame->calls.clear();
        SendCommand(frame, command.id);
        EXPECT_EQ(frame->calls, std::vector<std::string>{command.handler}) << command.id;
    }

    frame->calls.clear();
    wxFocusEvent lost(wxEVT_KILL_FOCUS, frame->m_text->GetId());
    frame->m_text->GetEventHandler()->ProcessEvent(lost);
    wxFocusEvent got(wxEVT_SET_FOCUS, frame->m_text->GetId());
    frame->m_text->GetEventHandler()->ProcessEvent(got);
    wxSizeEvent size(wxSize(10, 10), frame->m_videoPanel->GetId());
    frame->m_videoPanel->GetEventHandler()->ProcessEvent(size);
    EXPECT_EQ(frame->calls,
              (std::vector<std::string>{"OnTextKillFocus", "OnTextSetFocus", "OnVideoPanelSize"}));

    // The panel's own paint events reach the paint handler.
    frame->calls.clear();
    frame->m_videoPanel->Refresh();
    frame->m_videoPanel->Update();
    Settle();
    EXPECT_NE(std::find(frame->calls.begin(), frame->calls.end(), "OnVideoPanelPaint"),
              frame->calls.end());
    CloseWindow(frame);
}
