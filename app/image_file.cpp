// The still-image road of the main window: an opened file is loaded into the
// window's picture, scanned once and recorded in the history, whatever the
// outcome; and the drawing of that picture, from a file or from the camera.
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/filedlg.h>
#include <wx/scrolwin.h>
#include <wx/settings.h>
#include <wx/textctrl.h>
#include <cstdio>

#include "display_bitmap.h"
#include "image_loading.h"
#include "image_opening.h"
#include "main_frame_ex.h"

namespace {

// The scroll area is this much larger than the picture in each direction.
constexpr int kScrollMargin = 60; // pixels
constexpr int kScrollUnit = 20;   // pixels per scroll step

} // namespace

void wxMainFrameEx::OnOpenFile(wxCommandEvent&)
{
    // One file at a time: the command is refused while one is opening.
    if (m_opening)
        return;
    // First, so that it holds also when the dialog is cancelled: the live
    // loop ends at its next tick, while the camera stays open.
    m_state = STATE_IDLE;

    // GTK's chooser opens at its recent files unless it is given a folder;
    // told its own, it starts where it was left, also after a cancel.
    const wxString folder = m_openDialog->GetDirectory();
    if (!folder.empty())
        m_openDialog->SetDirectory(folder);
    // The decoder loads while the user picks the file; it is gone when
    // this handler ends, unless the file goes to it.
    std::unique_ptr<HelperStandby> decoder = StartImageDecoder();
    if (m_openDialog->ShowModal() != wxID_OK)
        return;

    wxString path;
    try {
        path = m_openDialog->GetPath();
    } catch (...) {
        // No path: the file reads as one that does not load.
    }
    // A file that fails to load leaves no picture, not the previous one;
    // and the previous one's memory is free before the next is decoded.
    m_image.Destroy();
    m_displayBitmap = wxBitmap();
    m_videoPanel->Refresh(true);

    m_stopwatch.Start(0);
    // Files are read with Code 128 too; the set stays so until a type tool
    // is clicked.
    m_scanner.SetTypes(m_scanner.m_decoderSet.GetTypes() | barcode::TYPE_CODE128);
    // The decoder may take seconds, up to its deadline, on a large or
    // hostile file, and the scan of a large picture as long: both run on
    // a thread of their own, and the window goes on meanwhile, with the
    // busy cursor. OnImageFileOpened takes the outcome.
    m_opening = std::make_unique<ImageFileOpening>(
        this, path, std::move(decoder), m_scanner.m_decoderSet.GetTypes(),
        m_scanner.m_directionCount > 1, std::chrono::steady_clock::now() + m_openTimeLimit);
}

void wxMainFrameEx::OnImageFileOpened(wxThreadEvent&)
{
    // None: stopped by a close, whose event was already on its way.
    if (!m_opening)
        return;
    const std::unique_ptr<ImageFileOpening> opening = std::move(m_opening);
    OpenedImageFile& outcome = opening->Outcome();
    const wxString& path = opening->Path();
    ReportImageFile(outcome.decoded, m_image, path);
    m_displayBitmap = wxBitmap();
    if (outcome.cutOff)
        std::fprintf(stderr, "morvelix: image file \"%s\" not read to the end: the scan was "
                             "stopped after %lld s\n",
                     path.utf8_string().c_str(),
                     static_cast<long long>(
                         std::chrono::duration_cast<std::chrono::seconds>(m_openTimeLimit)
                             .count()));
    m_stopwatch.Stop(0);

    const bool valid = m_image.IsOk();
    const int scrollWidth = (valid ? m_image.GetWidth() : 0) + kScrollMargin;
    const int scrollHeight = (valid ? m_image.GetHeight() : 0) + kScrollMargin;
    const barcode::Result& result = outcome.result;
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

void wxMainFrameEx::OnCloseWindow(wxCloseEvent& event)
{
    // The decoder is killed and the scan stopped: the window closes as
    // asked, with no message about the file.
    m_opening.reset();
    event.Skip();
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
