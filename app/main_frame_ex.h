// The main window's logic layer: the decoding engine, the stopwatch, the
// displayed picture, the file dialogs, the scan timer, the settings store and
// the options dialog. Reads the settings at construction, applies them to
// the engine and the toolbar, and writes three of them back at destruction
// where they changed.
#pragma once

#include <chrono>
#include <memory>

#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/timer.h>

#include "main_frame.h"
#include "scanner.h"
#include "timer.h"

class ImageFileOpening;
class Options;
class SettingsFile;
class wxFileDialog;

// Run state of the main window (m_state). The value 1 is not used.
enum RunState {
    STATE_IDLE = 0,    // at start and from the moment a file is opened
    STATE_STOPPED = 2, // after Pause or a failed camera set-up
    STATE_PLAYING = 3, // live camera scanning
};

enum { ID_SCAN_TIMER = 1 };

// Queued by every timer tick while live scanning runs; handled by the camera layer.
extern wxEventType wxEVT_PROCESS_FRAME;

// The display name of a result type, or null for a type without one.
const char* BarcodeTypeName(int type);

// The engine's 8-bit text as the window shows it: every byte is the
// character of the same value (ISO 8859-1), whatever the locale.
wxString EngineText(const std::string& text);

class wxMainFrameEx : public wxMainFrame {
public:
    wxMainFrameEx(const wxString& title, const wxSize& size);
    ~wxMainFrameEx() override;

    // Makes the scanner's types equal to the type tools that are on.
    void UpdateBarcodeTypes();
    void AddToHistory(wxString value, wxString type, wxString source);

    void OnUpcaEan13(wxCommandEvent& event) override;
    void OnEan8(wxCommandEvent& event) override;
    void OnUpce(wxCommandEvent& event) override;
    void OnCodebar39(wxCommandEvent& event) override;
    void OnCodebar128(wxCommandEvent& event) override;
    void OnOmniDirectional(wxCommandEvent& event) override;
    void OnBiDirectional(wxCommandEvent& event) override;
    void OnOpenFile(wxCommandEvent& event) override;
    void OnTextKillFocus(wxFocusEvent& event) override;
    void OnTextSetFocus(wxFocusEvent& event) override;
    void OnVideoPanelPaint(wxPaintEvent& event) override;
    void OnClearHistory(wxCommandEvent& event) override;
    void OnSaveAs(wxCommandEvent& event) override;
    void OnOptions(wxCommandEvent& event) override;
    void OnExit(wxCommandEvent& event) override;
    void OnHelp(wxCommandEvent& event) override;
    void OnAbout(wxCommandEvent& event) override;

    virtual void OnTimer(wxTimerEvent& event);
    virtual void OnProcessFrame(wxCommandEvent& event) { event.Skip(); }
    // The end of an opened file's decoding and scan: its row and its picture.
    void OnImageFileOpened(wxThreadEvent& event);
    // A file still opening is given up at once, without a word.
    void OnCloseWindow(wxCloseEvent& event);

    barcode::Timer m_stopwatch;  // times the scan of an opened image file
    wxFileDialog* m_openDialog;  // image files
    wxFileDialog* m_saveDialog;  // history export
    SettingsFile* m_config;      // the settings store
    Options* m_options;          // built once and reused
    int m_beep;                  // ms of beep after an accepted camera read; 0: none
    int m_terminator;            // key code sent after a typed value: 13, 9 or 0
    int m_camera;                // capture device index, never negative
    int m_resolution;            // 0: 640 x 480, 1: 800 x 600, 2: 1280 x 960
    wxImage m_image;             // the picture shown in the video panel
    wxBitmap m_displayBitmap;    // m_image as drawn, made at its first paint; reset with each new one
    wxTimer* m_timer;            // the scan timer, ID_SCAN_TIMER
    int m_state;                 // a RunState
    bool m_clearOnPaint;         // the next paint of a valid picture clears the panel first
    bool m_sendKeystrokes;       // accepted camera reads are typed into the focus window
    bool m_addToHistory;         // accepted reads and opened files add a history row
    barcode::Scanner m_scanner;
    // The file being opened, decoded and scanned off this thread; null
    // when none is. One at a time.
    std::unique_ptr<ImageFileOpening> m_opening;
    // How long an opening may take, decoding and scan together; a scan
    // still running then is stopped.
    std::chrono::milliseconds m_openTimeLimit;

private:
    // The settings as they were read (a missing one as its default) or last
    // written: a value is written only where this reader changed it, so that
    // what other readers and the user store meanwhile stays.
    struct StoredValues {
        long types;
        long mode;
        wxString path;
        long beep;
        long terminator;
        long camera;
        long resolution;
    };

    // Beep, Camera, Terminator and Resolution from the store, made safe to use.
    void ReadOptionValues();
    // Reads the settings files again, as they are now: another reader may
    // have stored its options since.
    void ReloadSettings();
    // Stores those of the four values of the Options dialog that differ
    // from the stored ones in the user's file.
    void WriteOptionValues();

    StoredValues m_stored;

    wxDECLARE_EVENT_TABLE();
};
