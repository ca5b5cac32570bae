// The user's settings file as lines of text, so that a change rewrites
// only the lines it touches: every other line keeps its bytes, its line end
// and its encoding, whatever another program or the user put there.
//
// The text is read as wxFileConfig reads it (wxConvAuto: the encoding that
// a byte-order mark names, else UTF-8, else Latin-1 for the whole file) and
// its lines are told apart as wxFileConfig tells them apart: group headers
// "[name]", entries "key=value", comments and blank lines. Group and key
// names compare without regard to letter case, as there.
#pragma once

#include <string>
#include <vector>

#include <wx/string.h>

class SettingsText {
public:
    // Why these bytes are no text that can be read and written back byte
    // for byte (not in any encoding that the reader knows, a NUL character,
    // a sequence that the encoding would not give back), or empty.
    static wxString Problem(const std::string& bytes);

    // The lines of bytes for which Problem is empty.
    explicit SettingsText(const std::string& bytes);

    // Sets the entry `key`, an absolute path such as "/Group/Key", to the
    // value as the file holds it (`written`, with wxFileConfig's quoting).
    // The entry that counts (the last of its name in its group) gets the
    // new value after its "key=" as it stands; a new entry goes after the
    // last entry of the group's last header, a new group at the end under
    // the documented header, "[Group]".
    void Set(const wxString& key, const wxString& written);

    // The file's bytes, in its own encoding and with its byte-order mark;
    // false, with the reason, when that encoding cannot hold a character.
    bool Bytes(std::string* bytes, wxString* problem) const;

    // The numbers, from 1, of the lines that begin a group header without
    // ending it with "]"; wxFileConfig skips them.
    std::vector<size_t> UnclosedHeaders() const;

    // How the text goes back to bytes.
    enum class Encoding { kUtf8, kLatin1, kUtf16Le, kUtf16Be, kUtf32Le, kUtf32Be };

private:
    struct Line {
        wxString text;   // without its end
        wxString end;    // "\r\n", "\n", "\r", or empty on a last line without one
        bool header;     // a group header
        bool unclosed;   // "[" without "]"
        wxString group;  // the group it opens, or the one its entry is in
        wxString key;    // the entry's name; empty when not an entry
        size_t valueAt;  // where the entry's value starts in `text`
    };

    // Reads what the line is, as wxFileConfig would; `group` is the group
    // that the lines before it left.
    static Line Classify(const wxString& text, const wxString& end, wxString* group);

    std::vector<Line> m_lines;
    std::string m_mark;   // the byte-order mark, as it was
    Encoding m_encoding;
    wxString m_lineEnd;   // for new lines: the file's first line end
};
