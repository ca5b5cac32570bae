// The history as a file: a semicolon-separated table, an XML document or a
// plain list of values. The text is built whole in memory and written in
// one go (ReplaceFile), so that a failed export leaves any earlier file as
// it was.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include <wx/string.h>

// The export format, as the save dialog's zero-based filter index gives it.
enum ExportFormat {
    EXPORT_CSV = 0, // "Date;Barcode;Type;Source" and one line per row
    EXPORT_XML = 1, // <barcodes> with one <barcode> element per row
    EXPORT_TXT = 2, // the values only, one per line
};

// One row of the history table, as the grid holds it.
struct HistoryRow {
    wxString when;   // "%Y-%m-%d %H:%M:%S"
    wxString value;  // the decoded text, or "NONE"
    wxString type;   // the type's display name, or "N/A", or empty
    wxString source; // "Camera" or the image file's path
};

// Doubles every double quote; a field that held one, or holds ";", CR or
// LF, is then put between double quotes. Changes the field in place.
wxString& QuoteCsvField(wxString& field);

// Escapes the text for element content: "&", "<", ">" and the double quote
// as entities, CR and characters from U+0080 up as numeric character
// references, and a character that XML 1.0 cannot carry as a reference to
// U+FFFD.
// Changes the text in place.
wxString& EscapeXmlText(wxString& text);

// One indented line: <name>text</name>, the text written as it is given.
void WriteXmlElement(const wxString& name, std::wostream& out, const wxString& text);

// The whole file's text in the given format; every line ends with CR LF.
wxString ExportText(ExportFormat format, const std::vector<HistoryRow>& rows);

// The file's bytes: U+0000 to U+00FF as the byte of the same value, any
// other character as "?", so that the text keeps its length and the rest of
// the file is exact.
std::string Latin1Bytes(const wxString& text);

// The path with the format's extension: ".csv", ".xml" or ".txt" is
// appended unless the path ends with it in any letter case.
wxString WithExportExtension(const wxString& path, ExportFormat format);
