// The history table: one row per accepted camera reading or scanned image
// file, oldest first, always followed by one empty row that the next
// reading fills. The grid's own string table is the store.
#include <wx/datetime.h>
#include <wx/grid.h>
#include <wx/textctrl.h>

#include "main_frame_ex.h"

const char* BarcodeTypeName(int type)
{
    static const char* const kNames[64] = {
        "EAN 8",       // 1
        "EAN 13",      // 2
        nullptr,
        "UPC-E",       // 4
        nullptr, nullptr, nullptr,
        "CODEBAR 39",  // 8
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        "CODEBAR 128", // 16
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        "UPC-A",       // 64
    };
    const unsigned index = static_cast<unsigned>(type) - 1u;
    if (index > 63u)
        return nullptr;
    return kNames[index];
}

wxString EngineText(const std::string& text)
{
    return wxString(text.data(), wxConvISO8859_1, text.size());
}

void wxMainFrameEx::AddToHistory(wxString value, wxString type, wxString source)
{
    m_text->SetValue(value);

    const wxDateTime now = wxDateTime::Now();
    const wxString when = now.FormatISODate() + " " + now.FormatISOTime();

    const int row = m_grid->GetNumberRows() - 1;
    m_grid->SetCellValue(row, 0, when);
    m_grid->SetCellValue(row, 1, value);
    m_grid->SetCellValue(row, 2, type);
    m_grid->SetCellValue(row, 3, source);
    m_grid->AppendRows(1);
}

void wxMainFrameEx::OnClearHistory(wxCommandEvent&)
{
    m_grid->ClearGrid();
    // Row 0, now empty, stays as the table's empty last row. The grid
    // refuses a delete that starts past its last row, even of no rows.
    const int extra = m_grid->GetNumberRows() - 1;
    if (extra > 0)
        m_grid->DeleteRows(1, extra);
}
