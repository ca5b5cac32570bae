// The "Save as" tool: the history table to a file of the format that the
// save dialog's file type names.
#include <vector>

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/grid.h>
#include <wx/msgdlg.h>

#include "export.h"
#include "file_dialogs.h"
#include "file_replace.h"
#include "main_frame_ex.h"

void wxMainFrameEx::OnSaveAs(wxCommandEvent&)
{
    // The same dialog serves every export, so each one starts where the
    // previous one left folder, name and file type.
    if (m_saveDialog->ShowModal() != wxID_OK)
        return;

    wxString path = m_saveDialog->GetPath();
    path.Trim(true);
    const int index = m_saveDialog->GetFilterIndex();
    if (index < EXPORT_CSV || index > EXPORT_TXT)
        return;
    const ExportFormat format = static_cast<ExportFormat>(index);
    const wxString chosen = path;
    path = WithExportExtension(path, format);
    // The dialog asked about the name as it was typed; a name that the
    // extension made is asked about here, before anything is written.
    if (path != chosen && wxFileName::Exists(path, wxFILE_EXISTS_ANY | wxFILE_EXISTS_NO_FOLLOW) &&
        !ConfirmReplace(this, path))
        return;

    // The last row is the table's empty row, never an entry.
    std::vector<HistoryRow> rows;
    const int entries = m_grid->GetNumberRows() - 1;
    for (int row = 0; row < entries; ++row) {
        rows.push_back({m_grid->GetCellValue(row, 0), m_grid->GetCellValue(row, 1),
                        m_grid->GetCellValue(row, 2), m_grid->GetCellValue(row, 3)});
    }

    wxString reason;
    if (!ReplaceFile(path, Latin1Bytes(ExportText(format, rows)), &reason)) {
        wxMessageBox("The history could not be saved to\n\n" + path + "\n\n" + reason, "Error",
                     wxOK | wxCENTRE | wxICON_ERROR, this);
    }
}
