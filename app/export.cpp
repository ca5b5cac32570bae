#include "export.h"

#include <sstream>

namespace {

const wchar_t kLineEnd[] = L"\r\n";

// What XML 1.0 allows in a document: TAB, LF, CR and the code points from
// U+0020 up, except the surrogates and U+FFFE, U+FFFF.
bool IsXmlChar(wxUint32 c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Stands for a character that the document cannot carry.
constexpr wxUint32 kReplacementCharacter = 0xFFFD;

// The character that Latin1Bytes writes for one it cannot.
constexpr char kUnmappable = '?';

} // namespace

wxString& QuoteCsvField(wxString& field)
{
    const size_t quotes = field.Replace("\"", "\"\"");
    if (quotes > 0 || field.find_first_of(";\r\n") != wxString::npos)
        field = "\"" + field + "\"";
    return field;
}

wxString& EscapeXmlText(wxString& text)
{
    wxString escaped;
    escaped.reserve(text.length());
    for (wxUniChar c : text) {
        const wxUint32 code = c.GetValue();
        switch (code) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\r':
            // Written raw, a parser would hand it back as a line feed.
            escaped += "&#xD;";
            break;
        default:
            if (!IsXmlChar(code))
                escaped += wxString::Format("&#x%X;", kReplacementCharacter);
            else if (code >= 0x80)
                escaped += wxString::Format("&#x%X;", code);
            else
                escaped += c;
        }
    }
    text = escaped;
    return text;
}

void WriteXmlElement(const wxString& name, std::wostream& out, const wxString& text)
{
    out << L"    <" << name.ToStdWstring() << L">" << text.ToStdWstring() << L"</"
        << name.ToStdWstring() << L">" << kLineEnd;
}

wxString ExportText(ExportFormat format, const std::vector<HistoryRow>& rows)
{
    std::wostringstream out;
    switch (format) {
    case EXPORT_CSV:
        out << L"Date;Barcode;Type;Source" << kLineEnd;
        for (HistoryRow row : rows) {
            out << QuoteCsvField(row.when).ToStdWstring() << L";"
                << QuoteCsvField(row.value).ToStdWstring() << L";"
                << QuoteCsvField(row.type).ToStdWstring() << L";"
                << QuoteCsvField(row.source).ToStdWstring() << kLineEnd;
        }
        break;
    case EXPORT_XML:
        out << L"<?xml version=\"1.0\"?>" << kLineEnd << L"<barcodes>" << kLineEnd;
        for (HistoryRow row : rows) {
            out << L"<barcode>" << kLineEnd;
            WriteXmlElement("Date", out, EscapeXmlText(row.when));
            WriteXmlElement("Value", out, EscapeXmlText(row.value));
            WriteXmlElement("Type", out, EscapeXmlText(row.type));
            WriteXmlElement("Source", out, EscapeXmlText(row.source));
            out << L"</barcode>" << kLineEnd;
        }
        out << L"</barcodes>" << kLineEnd;
        break;
    case EXPORT_TXT:
        for (const HistoryRow& row : rows)
            out << row.value.ToStdWstring() << kLineEnd;
        break;
    }
    const std::wstring text = out.str();
    // With its length: a value may hold NUL characters.
    return wxString(text.data(), text.size());
}

std::string Latin1Bytes(const wxString& text)
{
    std::string bytes;
    bytes.reserve(text.length());
    for (wxUniChar c : text) {
        const wxUint32 code = c.GetValue();
        bytes += code <= 0xFF ? static_cast<char>(code) : kUnmappable;
    }
    return bytes;
}

wxString WithExportExtension(const wxString& path, ExportFormat format)
{
    static const char* const kExtensions[] = {".csv", ".xml", ".txt"};
    const wxString extension = kExtensions[format];
    const wxString tail = path.length() < 4 ? wxString() : path.Right(4);
    if (tail.Upper() == extension.Upper())
        return path;
    return path + extension;
}
