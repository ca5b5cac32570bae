#include "main_frame_ex.h"

#include <algorithm>
#include <climits>

#include <wx/filedlg.h>
#include <wx/grid.h>
#include <wx/icon.h>
#include <wx/intl.h>
#include <wx/toolbar.h>

#include "app_info.h"
#include "file_dialogs.h"
#include "icons/morvelix16.xpm"
#include "image_decoder_reply.h"
#include "image_opening.h"
#include "options.h"
#include "settings_file.h"

// Static initialisation order within this file matters: the event type
// exists before the table that names it.
const wxString APP_NAME_W(APP_NAME);
wxEventType wxEVT_PROCESS_FRAME = wxNewEventType();

wxBEGIN_EVENT_TABLE(wxMainFrameEx, wxFrame)
    EVT_TIMER(ID_SCAN_TIMER, wxMainFrameEx::OnTimer)
    wx__DECLARE_EVT0(wxEVT_PROCESS_FRAME, wxCommandEventHandler(wxMainFrameEx::OnProcessFrame))
wxEND_EVENT_TABLE()

namespace {

const wxString kGroup = "/Morvelix Barcode Reader/";
// Names the settings files: ~/.Morvelix and /etc/Morvelix.conf.
const char kSettingsName[] = "Morvelix";

// Settings are plain text in a file that people edit by hand: a value that
// is not a number yields the default. `stored` gets the value as read.
long ReadLong(const wxConfigBase* config, const wxString& key, long defaultValue, long* stored)
{
    *stored = defaultValue;
    config->Read(kGroup + key, stored, defaultValue);
    return *stored;
}

// The same as an int: one beyond int is clamped.
int ReadInt(const wxConfigBase* config, const wxString& key, int defaultValue, long* stored)
{
    const long value = ReadLong(config, key, defaultValue, stored);
    if (value < INT_MIN)
        return INT_MIN;
    if (value > INT_MAX)
        return INT_MAX;
    return static_cast<int>(value);
}

// Writes the value where it differs from the stored one, which it becomes.
template <typename Value>
void WriteChanged(wxConfigBase* config, const wxString& key, const Value& value, Value* stored)
{
    if (value == *stored)
        return;
    config->Write(kGroup + key, value);
    *stored = value;
}

// The longest beep the Options dialog offers; a longer one would block the
// window for as long (the beep is synchronous).
constexpr int kLongestBeep = 2000; // ms
constexpr int kDefaultBeep = 250;  // ms

// The five type tools with their type bits, in the order the toolbar reads them.
struct TypeTool {
    int id;
    int bit;
};
constexpr TypeTool kTypeTools[] = {
    {ID_UPCA_EAN13, barcode::TYPE_EAN13},
    {ID_EAN8, barcode::TYPE_EAN8},
    {ID_UPCE, barcode::TYPE_UPCE},
    {ID_CODEBAR39, barcode::TYPE_CODE39},
    {ID_CODEBAR128, barcode::TYPE_CODE128},
};
constexpr int kAllTypes = barcode::TYPE_EAN8 | barcode::TYPE_EAN13 | barcode::TYPE_UPCE |
                          barcode::TYPE_CODE39 | barcode::TYPE_CODE128;

// The Type column of the history table and the width the layout gives it.
constexpr int kTypeColumn = 2;
constexpr int kTypeColumnWidth = 80; // pixels
// Room the grid leaves around a cell's text: a pixel inside the cell on
// each side, another before the text and the grid line after it.
constexpr int kCellTextRoom = 4; // pixels

// The Type column's width: the layout's, or what the longest text of the
// column needs in the grid's cell font where that is more. The layout's
// width fits the names in the font it was drawn for; GTK's is wider.
int TypeColumnWidth(wxGrid* grid)
{
    const wxFont font = grid->GetDefaultCellFont();
    // The six type names, and the type of a file in which nothing was found.
    const char* const texts[] = {
        BarcodeTypeName(barcode::TYPE_EAN8),   BarcodeTypeName(barcode::TYPE_EAN13),
        BarcodeTypeName(barcode::TYPE_UPCE),   BarcodeTypeName(barcode::TYPE_CODE39),
        BarcodeTypeName(barcode::TYPE_CODE128), BarcodeTypeName(barcode::TYPE_UPCA),
        "N/A",
    };
    int widest = 0;
    for (const char* text : texts) {
        int width = 0;
        grid->GetTextExtent(text, &width, nullptr, nullptr, nullptr, &font);
        widest = std::max(widest, width);
    }
    return std::max(kTypeColumnWidth, widest + kCellTextRoom);
}

} // namespace

wxMainFrameEx::wxMainFrameEx(const wxString& title, const wxSize& size)
    : wxMainFrame(title, size, "mainframe"),
      m_state(STATE_IDLE),
      m_openTimeLimit(std::chrono::seconds(decoder_reply::kDeadlineSeconds))
{
    wxIcon icon(morvelix16_xpm);

    m_openDialog = new wxFileDialog(
        this, "Select a file", wxEmptyString, wxEmptyString,
        wxGetTranslation("All image types (*.bmp;*.gif;*.jpg;*.jpeg;*.tiff;*.tif;*.png)|"
                         "*.bmp;*.gif;*.jpg;*.jpeg;*.tiff;*.tif;*.png|BMP (*.bmp)|*.bmp|"
                         "JPEG (*.jpg;*.jpeg)|*.jpg;*.jpeg|PNG (*.png)|*.png|GIF (*.gif)|*.gif|"
                         "TIFF (*.tiff;*.tif)|*.tiff;*.tif"),
        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    MatchAnyLetterCase(m_openDialog);
    m_saveDialog = new wxFileDialog(
        this, wxGetTranslation("Save File As"), wxEmptyString, wxEmptyString,
        wxGetTranslation("CSV (Comma delimited) (*.csv)|*.csv|XML Data (*.xml)|*.xml|"
                         "Barcode Values Only (*.txt)|*.txt"),
        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    m_timer = new wxTimer(this, ID_SCAN_TIMER);
    m_sendKeystrokes = true;
    m_addToHistory = true;
    m_clearOnPaint = true;

    SetTitle(APP_NAME_W);
    SetIcon(icon);

    // The user's file takes the writes; reads fall back to the machine-wide file.
    m_config = SettingsFile::Open(kSettingsName);
    SetSize(680, 690);

    // Bits other than the five type bits enable nothing.
    const long types = ReadLong(m_config, "BarcodeTypes", 31, &m_stored.types) & kAllTypes;
    const long mode = ReadLong(m_config, "Mode", 1, &m_stored.mode);
    m_scanner.SetTypes(static_cast<int>(types));
    m_scanner.SetMode(mode != 0);

    m_config->Read(kGroup + "Path", &m_stored.path, wxEmptyString);
    ReadOptionValues();
    m_openDialog->SetDirectory(m_stored.path);

    m_options = new Options(this, "Options", wxSize(400, 419));

    m_grid->EnableEditing(false);
    m_grid->SetColSize(kTypeColumn, TypeColumnWidth(m_grid));

    for (const TypeTool& tool : kTypeTools) {
        if (types & tool.bit)
            m_typeToolBar->ToggleTool(tool.id, true);
    }
    m_typeToolBar->ToggleTool(mode != 0 ? ID_OMNI_DIRECTIONAL : ID_BI_DIRECTIONAL, true);

    Bind(wxEVT_IMAGE_FILE_OPENED, &wxMainFrameEx::OnImageFileOpened, this);
    Bind(wxEVT_CLOSE_WINDOW, &wxMainFrameEx::OnCloseWindow, this);
}

wxMainFrameEx::~wxMainFrameEx()
{
    // Nothing of a file still opening outlives the window.
    m_opening.reset();

    // A reader that changed nothing leaves what others stored meanwhile.
    WriteChanged(m_config, "BarcodeTypes", static_cast<long>(m_scanner.m_decoderSet.GetTypes()),
                 &m_stored.types);
    WriteChanged(m_config, "Mode", m_scanner.m_directionCount > 1 ? 1L : 0L, &m_stored.mode);
    WriteChanged(m_config, "Path", m_openDialog->GetDirectory(), &m_stored.path);

    m_timer->Stop();

    delete m_openDialog;
    delete m_saveDialog;
    delete m_timer;
    delete m_config;
    delete m_options;
}

void wxMainFrameEx::ReadOptionValues()
{
    m_beep = ReadInt(m_config, "Beep", kDefaultBeep, &m_stored.beep);
    if (m_beep < 0 || m_beep > kLongestBeep)
        m_beep = kDefaultBeep;
    m_camera = ReadInt(m_config, "Camera", 0, &m_stored.camera);
    if (m_camera < 0)
        m_camera = 0;
    m_terminator = ReadInt(m_config, "Terminator", 13, &m_stored.terminator);
    m_resolution = ReadInt(m_config, "Resolution", 0, &m_stored.resolution);
}

void wxMainFrameEx::WriteOptionValues()
{
    WriteChanged(m_config, "Beep", static_cast<long>(m_beep), &m_stored.beep);
    WriteChanged(m_config, "Terminator", static_cast<long>(m_terminator), &m_stored.terminator);
    WriteChanged(m_config, "Camera", static_cast<long>(m_camera), &m_stored.camera);
    WriteChanged(m_config, "Resolution", static_cast<long>(m_resolution), &m_stored.resolution);
    // On disk now, not only when the window closes. A failure is said by
    // the store, which keeps the values for its next write; this window
    // goes on with them.
    m_config->Flush();
}

void wxMainFrameEx::ReloadSettings()
{
    m_config = SettingsFile::Reopen(m_config);
}

void wxMainFrameEx::UpdateBarcodeTypes()
{
    int mask = 0;
    for (const TypeTool& tool : kTypeTools) {
        if (m_typeToolBar->GetToolState(tool.id))
            mask |= tool.bit;
    }
    m_scanner.SetTypes(mask);
}

void wxMainFrameEx::OnUpcaEan13(wxCommandEvent&)
{
    UpdateBarcodeTypes();
}

void wxMainFrameEx::OnEan8(wxCommandEvent&)
{
    UpdateBarcodeTypes();
}

void wxMainFrameEx::OnUpce(wxCommandEvent&)
{
    UpdateBarcodeTypes();
}

void wxMainFrameEx::OnCodebar39(wxCommandEvent&)
{
    UpdateBarcodeTypes();
}

void wxMainFrameEx::OnCodebar128(wxCommandEvent&)
{
    UpdateBarcodeTypes();
}

void wxMainFrameEx::OnOmniDirectional(wxCommandEvent&)
{
    m_scanner.SetMode(true);
}

void wxMainFrameEx::OnBiDirectional(wxCommandEvent&)
{
    m_scanner.SetMode(false);
}

void wxMainFrameEx::OnExit(wxCommandEvent&)
{
    Close(false);
}

void wxMainFrameEx::OnTimer(wxTimerEvent&)
{
    // Started as a repeating timer but stopped at every tick: the frame step
    // re-arms it, so at most one frame event is in flight.
    m_timer->Stop();
    if (m_state == STATE_PLAYING)
        QueueEvent(new wxCommandEvent(wxEVT_PROCESS_FRAME, 0));
}
