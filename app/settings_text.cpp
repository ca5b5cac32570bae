#include "settings_text.h"

#include <wx/arrstr.h>
#include <wx/convauto.h>
#include <wx/wxcrt.h>

namespace {

// The lines of the group that the reader keeps its settings in are written
// under this header when the file has none: the one that people write by
// hand and that the README shows, not wxFileConfig's "[Morvelix\ Barcode\ Reader]".
// Both name the same group.
wxString Header(const wxString& group)
{
    wxString name;
    for (wxUniChar c : group.Mid(1)) {
        if (c == '\\' || c == ']')
            name += '\\';
        name += c;
    }
    return "[" + name + "]";
}

// A key as wxFileConfig's parser takes it back: anything but a letter, a
// digit, "_", "-" and "." behind a backslash.
wxString KeyName(const wxString& key)
{
    wxString name;
    for (wxUniChar c : key) {
        if (!wxIsalnum(c) && c != '_' && c != '-' && c != '.')
            name += '\\';
        name += c;
    }
    return name;
}

// The group as wxFileConfig's paths name it: "/" and the names of its
// parents and itself, each once ("[/a//b/]" is "/a/b"; ".." goes up).
wxString GroupPath(const wxString& name)
{
    std::vector<wxString> parts;
    for (const wxString& part : wxSplit(name, '/', '\0')) {
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    wxString path;
    for (const wxString& part : parts)
        path += "/" + part;
    return path;
}

bool Encode(const wxMBConv& conv, const wxString& text, std::string* bytes)
{
    // The toolkit's converters would assert on these.
    for (wxUniChar c : text) {
        if (c.GetValue() > 0x10FFFF)
            return false;
    }
    const std::wstring wide = text.ToStdWstring();
    const size_t size = conv.FromWChar(nullptr, 0, wide.data(), wide.size());
    if (size == wxCONV_FAILED)
        return false;
    bytes->assign(size, '\0');
    return size == 0 || conv.FromWChar(&(*bytes)[0], size, wide.data(), wide.size()) == size;
}

bool Encode(SettingsText::Encoding encoding, const wxString& text, std::string* bytes)
{
    using Encoding = SettingsText::Encoding;
    switch (encoding) {
    case Encoding::kUtf8:
        return Encode(wxConvUTF8, text, bytes);
    case Encoding::kUtf16Le:
        return Encode(wxMBConvUTF16LE(), text, bytes);
    case Encoding::kUtf16Be:
        return Encode(wxMBConvUTF16BE(), text, bytes);
    case Encoding::kUtf32Le:
        return Encode(wxMBConvUTF32LE(), text, bytes);
    case Encoding::kUtf32Be:
        return Encode(wxMBConvUTF32BE(), text, bytes);
    case Encoding::kLatin1:
        break;
    }
    bytes->clear();
    for (wxUniChar c : text) {
        if (c.GetValue() > 0xFF)
            return false;
        *bytes += static_cast<char>(c.GetValue());
    }
    return true;
}

// The text of the bytes as wxFileConfig reads them, with the encoding that
// it was read in and the byte-order mark; an empty text for bytes that no
// encoding takes.
wxString Decode(const std::string& bytes, SettingsText::Encoding* encoding, std::string* mark)
{
    using Encoding = SettingsText::Encoding;
    size_t markLength = 0;
    const wxBOM bom = wxConvAuto::DetectBOM(bytes.data(), bytes.size());
    if (bom != wxBOM_None && bom != wxBOM_Unknown)
        wxConvAuto::GetBOMChars(bom, &markLength);
    mark->assign(bytes, 0, markLength);
    switch (bom) {
    case wxBOM_UTF16LE:
        *encoding = Encoding::kUtf16Le;
        break;
    case wxBOM_UTF16BE:
        *encoding = Encoding::kUtf16Be;
        break;
    case wxBOM_UTF32LE:
        *encoding = Encoding::kUtf32Le;
        break;
    case wxBOM_UTF32BE:
        *encoding = Encoding::kUtf32Be;
        break;
    default:
        *encoding = Encoding::kUtf8;
    }
    if (bytes.size() == markLength)
        return wxString();
    wxConvAuto conv;
    const wxString text(bytes.data(), conv, bytes.size());
    if (conv.IsUsingFallbackEncoding())
        *encoding = Encoding::kLatin1;
    return text;
}

} // namespace

wxString SettingsText::Problem(const std::string& bytes)
{
    Encoding encoding;
    std::string mark;
    const wxString text = Decode(bytes, &encoding, &mark);
    // A byte-order mark alone is an empty text, though no conversion takes it.
    if (bytes.size() == mark.size())
        return wxString();
    if (text.empty())
        return "it is not text in an encoding that the reader knows";
    // It would end a line in wxFileConfig's parser where the file goes on.
    if (text.find(wxUniChar(0)) != wxString::npos)
        return "it holds a NUL character";
    // UTF-8 for a code point beyond Unicode, for one: read, but never
    // written back, so its line would go at the next save.
    std::string again;
    if (!Encode(encoding, text, &again) || mark + again != bytes)
        return "it holds a byte sequence that is no character";
    return wxString();
}

SettingsText::SettingsText(const std::string& bytes)
{
    const wxString text = Decode(bytes, &m_encoding, &m_mark);
    wxString group;
    size_t start = 0;
    while (start < text.length()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == wxString::npos) {
            m_lines.push_back(Classify(text.Mid(start), wxString(), &group));
            break;
        }
        // Line ends as wxTextBuffer knows them: CR LF, LF, and CR alone.
        const size_t length = text[end] == '\r' && end + 1 < text.length() && text[end + 1] == '\n'
                                  ? 2
                                  : 1;
        m_lines.push_back(Classify(text.Mid(start, end - start), text.Mid(end, length), &group));
        if (m_lineEnd.empty())
            m_lineEnd = text.Mid(end, length);
        start = end + length;
    }
    if (m_lineEnd.empty())
        m_lineEnd = "\n";
}

SettingsText::Line SettingsText::Classify(const wxString& text, const wxString& end,
                                          wxString* group)
{
    Line line{text, end, false, false, *group, wxString(), 0};
    const size_t length = text.length();
    size_t at = 0;
    while (at < length && wxIsspace(text[at]))
        ++at;
    if (at == length || text[at] == ';' || text[at] == '#')
        return line;
    if (text[at] == '[') {
        line.unclosed = true;
        // A backslash takes the next character as it is, "]" too.
        wxString name;
        for (size_t i = at + 1; i < length; ++i) {
            if (text[i] == '\\') {
                if (++i == length)
                    break;
            } else if (text[i] == ']') {
                line.header = true;
                line.unclosed = false;
                line.group = *group = GroupPath(name);
                break;
            }
            name += text[i];
        }
        return line;
    }
    wxString key;
    for (; at < length && !wxIsspace(text[at]) && text[at] != '='; ++at) {
        if (text[at] == '\\' && ++at == length)
            break;
        key += text[at];
    }
    while (at < length && wxIsspace(text[at]))
        ++at;
    if (at == length || text[at] != '=')
        return line;
    ++at;
    while (at < length && wxIsspace(text[at]))
        ++at;
    line.key = key;
    line.valueAt = at;
    return line;
}

void SettingsText::Set(const wxString& key, const wxString& written)
{
    const size_t slash = key.rfind('/');
    const wxString group = GroupPath(key.Left(slash));
    const wxString name = key.Mid(slash + 1);
    auto inGroup = [&](const Line& line) { return line.group.CmpNoCase(group) == 0; };

    // Of a key given twice, wxFileConfig takes the last.
    for (size_t i = m_lines.size(); i-- > 0;) {
        Line& line = m_lines[i];
        if (!line.key.empty() && inGroup(line) && line.key.CmpNoCase(name) == 0) {
            line.text = line.text.Left(line.valueAt) + written;
            return;
        }
    }

    Line entry{KeyName(name) + "=" + written, m_lineEnd, false, false, group, name, 0};
    entry.valueAt = entry.text.length() - written.length();
    // Where the group's lines begin: its last header, or the top of the
    // file for the entries that come before any header.
    ptrdiff_t header = group.empty() ? -1 : -2;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i].header && inGroup(m_lines[i]))
            header = static_cast<ptrdiff_t>(i);
    }
    size_t at = m_lines.size();
    std::vector<Line> added;
    if (header == -2) {
        added.push_back({Header(group), m_lineEnd, true, false, group, wxString(), 0});
    } else {
        // After the group's last entry: comments and blank lines that follow
        // it may well be about the next group.
        at = static_cast<size_t>(header + 1);
        for (size_t i = at; i < m_lines.size() && !m_lines[i].header; ++i) {
            if (!m_lines[i].key.empty())
                at = i + 1;
        }
    }
    added.push_back(entry);
    if (at > 0 && m_lines[at - 1].end.empty())
        m_lines[at - 1].end = m_lineEnd;
    m_lines.insert(m_lines.begin() + static_cast<ptrdiff_t>(at), added.begin(), added.end());
}

bool SettingsText::Bytes(std::string* bytes, wxString* problem) const
{
    wxString text;
    for (const Line& line : m_lines)
        text += line.text + line.end;
    std::string encoded;
    if (!Encode(m_encoding, text, &encoded)) {
        *problem = m_encoding == Encoding::kLatin1
                       ? "it is in Latin-1, which cannot hold every character of the new values"
                       : "its encoding cannot hold every character of the new values";
        return false;
    }
    *bytes = m_mark + encoded;
    return true;
}

std::vector<size_t> SettingsText::UnclosedHeaders() const
{
    std::vector<size_t> numbers;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i].unclosed)
            numbers.push_back(i + 1);
    }
    return numbers;
}
