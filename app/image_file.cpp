// The still-image road of the main window: an opened file is loaded into the
// window's picture, scanned once and recorded in the history, whatever the
// outcome; and the drawing of that picture, from a file or from the camera.
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/filedlg.h>
#include <wx/scrolwin.h>
#include <wx/settings.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "display_bitmap.h"
#include "image_loading.h"
#include "main_frame_ex.h"

namespace {

// The scroll area is this much larger than the picture in each direction.
constexpr int kScrollMargin = 60; // pixels
constexpr int kScrollUnit = 20;   // pixels per scroll step

} // namespace

void wxMainFrameEx::OnOpenFile(wxCommandEvent&)
{
    // First, so that it holds also when the dialog is cancelled: the live
    // loop ends at its next tick, while the camera stays open.
    m_state = STATE_IDLE;

    // GTK's chooser opens at its recent files unless it is given a folder;
    // told its own, it starts where it was left, also after a cancel.
    const wxString folder = m_openDialog->GetDirectory();
    if (!folder.empty())
        m_openDialog->SetDirectory(folder);
    // The decoder loads while the user picks the file; it is gone when
    // this handler ends, used or not.
    ImageDecoderStandby decoder;
    if (m_openDialog->ShowModal() != wxID_OK)
        return;

    wxString path;
    // A file that fails to load leaves no picture, not the previous one;
    // and the previous one's memory is free before the next is decoded.
    m_image.Destroy();
    m_displayBitmap = wxBitmap();
    try {
        path = m_openDialog->GetPath();
        // The decoder may take seconds, up to its deadline, on a large or
        // hostile file. The toolkit shows the cursor once it has seen the
        // pointer come back from the dialog, and repaints where the dialog
        // was: both wait for the events that are pending.
        wxBusyCursor busy;
        wxYieldIfNeeded();
        LoadImageFile(m_image, path);
    } catch (...) {
        // Whatever the loader left is scanned; an unusable file reads as nothing found.
    }

    const bool valid = m_image.IsOk();
    const int width = valid ? m_image.GetWidth() : 0;
    const int height = valid ? m_image.GetHeight() : 0;
    const int scrollWidth = width + kScrollMargin;
    const int scrollHeight = height + kScrollMargin;

    const barcode::Image image = {
        valid ? m_image.GetData() : nullptr,
        static_cast<uint32_t>(width),
        static_cast<uint32_t>(height),
        width,
        barcode::PIXEL_RGB24,
    };

    m_stopwatch.Start(0);
    // Files are read with Code 128 too; the set stays so until a type tool
    // is clicked.
    m_scanner.SetTypes(m_scanner.m_decoderSet.GetTypes() | barcode::TYPE_CODE128);
    const barcode::Result result = m_scanner.Scan(&image);
    m_stopwatch.Stop(0);

    if (m_addToHistory) {
        if (result.type != barcode::TYPE_NONE) {
            const char* name = BarcodeTypeName(result.type);
            AddToHistory(EngineText(result.value), name ? wxString(name) : wxString(), path);
        } else {
            AddToHistory("NONE", "N/A", path);
        }
    }

    m_videoPanel->Refresh(true);
    m_videoPanel->SetScrollbars(kScrollUnit, kScrollUnit, scrollWidth / kScrollUnit,
                                scrollHeight / kScrollUnit, 0, 0, false);
}

void wxMainFrameEx::OnVideoPanelPaint(wxPaintEvent&)
{
    wxPaintDC dc(m_videoPanel);
    m_videoPanel->PrepareDC(dc);
    if (!m_image.IsOk())
        return;

    // Made once per picture: scrolling and uncovering only copy from it.
    if (!m_displayBitmap.IsOk())
        m_displayBitmap = DisplayBitmap(m_image);
    if (m_clearOnPaint) {
        dc.Clear();
        m_clearOnPaint = false;
    }
    if (!m_displayBitmap.IsOk())
        return; // no memory for it, or too big to draw: the scan had it all the same
    wxMemoryDC memory;
    memory.SelectObjectAsSource(m_displayBitmap);
    dc.Blit(0, 0, m_image.GetWidth(), m_image.GetHeight(), &memory, 0, 0, wxCOPY, false);
}

void wxMainFrameEx::OnTextKillFocus(wxFocusEvent& event)
{
    m_text->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_3DLIGHT));
    event.Skip();
}

void wxMainFrameEx::OnTextSetFocus(wxFocusEvent& event)
{
    m_text->SetBackgroundColour(wxColour(255, 255, 255, 255));
    event.Skip();
}
