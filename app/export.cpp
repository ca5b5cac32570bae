#include "export.h"

#include <sys/stat.h>

#include <cerrno>
#include <random>
#include <sstream>

#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/log.h>

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

// A file name in the target's folder that nothing else uses: the target's
// name, hidden, with a random tail.
wxString TemporaryName(const wxFileName& target, std::mt19937& random)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    wxString tail;
    for (int i = 0; i < 8; ++i)
        tail += kLetters[random() % (sizeof kLetters - 1)];
    return target.GetPathWithSep() + "." + target.GetFullName() + "." + tail;
}

bool Fail(wxString* error, const wxString& reason)
{
    if (error)
        *error = reason;
    return false;
}

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

bool ReplaceFile(const wxString& path, const std::string& bytes, wxString* error)
{
    // The toolkit's own messages would come as extra boxes; the caller
    // reports the reason once.
    wxLogNull quiet;

    wxFileName target(path);
    target.MakeAbsolute();
    // A link keeps pointing at the file, which gets the new content.
    for (int depth = 0; depth < 16; ++depth) {
        wxFileName link(target);
        link.DontFollowLink();
        if (!link.Exists(wxFILE_EXISTS_SYMLINK))
            break;
        const wxFileName resolved = link.ResolveLink();
        if (!resolved.IsOk())
            break;
        target = resolved;
    }
    const wxString targetPath = target.GetFullPath();

    wxStructStat old;
    const bool exists = wxStat(targetPath, &old) == 0;
    if (exists) {
        if (S_ISDIR(old.st_mode))
            return Fail(error, wxSysErrorMsgStr(EISDIR));
        // Not replaced by a plain file: a device, a pipe, a socket.
        if (!S_ISREG(old.st_mode))
            return Fail(error, "It is not a regular file.");
        // The folder may allow the replacement; a read-only file does not.
        // Opening for appending asks exactly that and changes nothing.
        wxFile probe;
        if (!probe.Open(targetPath, wxFile::write_append))
            return Fail(error, wxSysErrorMsgStr(wxSysErrorCode()));
    }

    std::mt19937 random(std::random_device{}());
    wxFile file;
    wxString temporary;
    for (int attempt = 0;; ++attempt) {
        temporary = TemporaryName(target, random);
        // Exclusive creation with the usual mode for a new file.
        if (file.Create(temporary, false, wxS_DEFAULT))
            break;
        const unsigned long code = wxSysErrorCode();
        if (code != EEXIST || attempt == 100)
            return Fail(error, wxSysErrorMsgStr(code));
    }

    // A short write (a full disk) is followed by one that says why.
    bool written = true;
    unsigned long code = 0;
    for (size_t done = 0; done < bytes.size();) {
        const size_t count = file.Write(bytes.data() + done, bytes.size() - done);
        if (count == 0) {
            written = false;
            code = file.GetLastError();
            break;
        }
        done += count;
    }
    if (written && !file.Flush()) {
        written = false;
        code = wxSysErrorCode();
    }
    if (!file.Close() && written) {
        written = false;
        code = wxSysErrorCode();
    }
    if (written && exists && !wxFileName(temporary).SetPermissions(old.st_mode & 07777)) {
        written = false;
        code = wxSysErrorCode();
    }
    if (written && wxRename(temporary, targetPath) != 0) {
        written = false;
        code = wxSysErrorCode();
    }
    if (!written) {
        wxRemove(temporary);
        return Fail(error, wxSysErrorMsgStr(code));
    }
    return true;
}
