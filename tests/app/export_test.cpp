#include "export.h"
#include "file_replace.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/acl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <acl/libacl.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <sstream>

#include <wx/dir.h>
#include <wx/filename.h>

#include "folder_listing.h"
#include "permissions.h"

namespace {

// Lines ended as the export ends them.
std::string Lines(std::initializer_list<std::string> lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

// Rows that try every rule: separators and quotes, markup, control
// characters, a path beyond Latin-1, and a plain row.
const std::vector<HistoryRow>& HostileRows()
{
    static const std::vector<HistoryRow> rows = {
        {"2026-12-06 14:58:08", "A;B", "CODEBAR 39", "Camera"},
        {"2026-12-06 14:58:09", "say \"hi\"", "CODEBAR 128", "/tmp/a;b/c\"d.png"},
        {"2026-12-06 14:58:10", "&lt;&<>'", "CODEBAR 128", "/p/R&D <x>.png"},
        {"2026-12-06 14:58:11", "AB\tcd\r\n", "CODEBAR 128", "Camera"},
        {"2026-12-06 14:58:12", "\x1b" "PART\r", "CODEBAR 128", "Camera"},
        {"2026-12-06 14:58:13", "NONE", "N/A",
         wxString(L"/home/u/\u0424\u043e\u0442\u043e/\u8c93 \u00e9") + wxUniChar(0x1f600) + ".png"},
        {"2026-12-06 14:58:14", "4006381333931", "EAN 13", "/plain/path, with comma.png"},
        {"2026-12-06 14:58:15", wxString(L"Caf\u00e9") + wxUniChar(0) + "B", "CODEBAR 128",
         "Camera"},
    };
    return rows;
}

const std::string kNul(1, '\0');

std::string Bytes(ExportFormat format, const std::vector<HistoryRow>& rows)
{
    return Latin1Bytes(ExportText(format, rows));
}

std::string ReadBytes(const wxString& path)
{
    std::ifstream in(static_cast<const char*>(path.fn_str()), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteBytes(const wxString& path, const std::string& bytes)
{
    std::ofstream out(static_cast<const char*>(path.fn_str()), std::ios::binary);
    out << bytes;
}

// Splits a semicolon-separated file as a spreadsheet reads it: a field in
// double quotes may hold ";", CR, LF and doubled quotes.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else if (c == ';') {
            fields.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            fields.push_back(field);
            records.push_back(fields);
            fields.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

// Runs a command and returns what it printed; the exit status goes to `status`.
std::string RunCommand(const std::string& command, int* status)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        *status = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    *status = pclose(pipe);
    return output;
}

class TempFolder {
public:
    TempFolder()
    {
        char pattern[] = P_tmpdir "/morvelix-export-XXXXXX";
        if (mkdtemp(pattern))
            m_path = pattern;
    }
    ~TempFolder()
    {
        chmod(m_path.utf8_str(), 0700);
        wxFileName::Rmdir(m_path, wxPATH_RMDIR_RECURSIVE);
    }
    wxString File(const wxString& name) const { return m_path + "/" + name; }
    // The names in the folder, hidden ones included.
    std::vector<wxString> Names() const { return FilesIn(m_path); }
    const wxString& Path() const { return m_path; }

private:
    wxString m_path;
};

int FileMode(const wxString& path)
{
    struct stat info;
    return stat(path.utf8_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

} // namespace

TEST(ExportTest, EmptyHistory)
{
    EXPECT_EQ(Bytes(EXPORT_CSV, {}), "Date;Barcode;Type;Source\r\n");
    EXPECT_EQ(Bytes(EXPORT_XML, {}), "<?xml version=\"1.0\"?>\r\n<barcodes>\r\n</barcodes>\r\n");
    EXPECT_EQ(Bytes(EXPORT_TXT, {}), "");
}

TEST(ExportTest, CsvBytesOfHostileRows)
{
    const std::string expected = Lines({
        "Date;Barcode;Type;Source",
        "2026-12-06 14:58:08;\"A;B\";CODEBAR 39;Camera",
        "2026-12-06 14:58:09;\"say \"\"hi\"\"\";CODEBAR 128;\"/tmp/a;b/c\"\"d.png\"",
        "2026-12-06 14:58:10;\"&lt;&<>'\";CODEBAR 128;/p/R&D <x>.png",
        "2026-12-06 14:58:11;\"AB\tcd\r\n\";CODEBAR 128;Camera",
        "2026-12-06 14:58:12;\"\x1bPART\r\";CODEBAR 128;Camera",
        // Beyond Latin-1 one "?" per character; the e acute is its byte.
        "2026-12-06 14:58:13;NONE;N/A;/home/u/\?\?\?\?/\? \xe9\?.png",
        "2026-12-06 14:58:14;4006381333931;EAN 13;/plain/path, with comma.png",
        "2026-12-06 14:58:15;Caf\xe9" + kNul + "B;CODEBAR 128;Camera",
    });
    EXPECT_EQ(Bytes(EXPORT_CSV, HostileRows()), expected);
}

TEST(ExportTest, CsvRowsReadBackAsFourFields)
{
    const auto records = ReadCsv(Bytes(EXPORT_CSV, HostileRows()));
    ASSERT_EQ(records.size(), HostileRows().size() + 1);
    EXPECT_EQ(records[0], (std::vector<std::string>{"Date", "Barcode", "Type", "Source"}));
    for (size_t i = 0; i < HostileRows().size(); ++i) {
        const HistoryRow& row = HostileRows()[i];
        const std::vector<std::string> fields = {Latin1Bytes(row.when), Latin1Bytes(row.value),
                                                 Latin1Bytes(row.type), Latin1Bytes(row.source)};
        EXPECT_EQ(records[i + 1], fields) << "row " << i;
    }
}

TEST(ExportTest, XmlBytesOfHostileRows)
{
    auto entry = [](const std::string& date, const std::string& value, const std::string& type,
                    const std::string& source) {
        return Lines({"<barcode>", "    <Date>" + date + "</Date>",
                      "    <Value>" + value + "</Value>", "    <Type>" + type + "</Type>",
                      "    <Source>" + source + "</Source>", "</barcode>"});
    };
    const std::string expected =
        Lines({"<?xml version=\"1.0\"?>", "<barcodes>"}) +
        entry("2026-12-06 14:58:08", "A;B", "CODEBAR 39", "Camera") +
        entry("2026-12-06 14:58:09", "say &quot;hi&quot;", "CODEBAR 128",
              "/tmp/a;b/c&quot;d.png") +
        entry("2026-12-06 14:58:10", "&amp;lt;&amp;&lt;&gt;'", "CODEBAR 128",
              "/p/R&amp;D &lt;x&gt;.png") +
        entry("2026-12-06 14:58:11", "AB\tcd&#xD;\n", "CODEBAR 128", "Camera") +
        entry("2026-12-06 14:58:12", "&#xFFFD;PART&#xD;", "CODEBAR 128", "Camera") +
        entry("2026-12-06 14:58:13", "NONE", "N/A",
              "/home/u/&#x424;&#x43E;&#x442;&#x43E;/&#x8C93; &#xE9;&#x1F600;.png") +
        entry("2026-12-06 14:58:14", "4006381333931", "EAN 13", "/plain/path, with comma.png") +
        entry("2026-12-06 14:58:15", "Caf&#xE9;&#xFFFD;B", "CODEBAR 128", "Camera") +
        Lines({"</barcodes>"});
    EXPECT_EQ(Bytes(EXPORT_XML, HostileRows()), expected);
}

TEST(ExportTest, TxtBytesOfHostileRows)
{
    const std::string expected = Lines({
        "A;B", "say \"hi\"", "&lt;&<>'", "AB\tcd\r\n", "\x1bPART\r", "NONE", "4006381333931",
        "Caf\xe9" + kNul + "B",
    });
    EXPECT_EQ(Bytes(EXPORT_TXT, HostileRows()), expected);
}

// A real parser takes the file, and reads back every value and path.
TEST(ExportTest, XmlParsesWithXmllint)
{
    TempFolder folder;
    const wxString path = folder.File("history.xml");
    WriteBytes(path, Bytes(EXPORT_XML, HostileRows()));
    int status = 0;
    const std::string errors = RunCommand("xmllint --noout '" + path.ToStdString() + "' 2>&1", &status);
    ASSERT_EQ(status, 0) << errors;

    const char* const elements[] = {"Date", "Value", "Type", "Source"};
    for (size_t i = 0; i < HostileRows().size(); ++i) {
        const HistoryRow& row = HostileRows()[i];
        const wxString cells[] = {row.when, row.value, row.type, row.source};
        for (int column = 0; column < 4; ++column) {
            const std::string query = "string(/barcodes/barcode[" + std::to_string(i + 1) + "]/" +
                                      elements[column] + ")";
            std::string text = RunCommand("xmllint --xpath '" + query + "' '" +
                                             path.ToStdString() + "'",
                                         &status);
            ASSERT_EQ(status, 0) << query;
            // xmllint ends what it prints with a line feed of its own.
            ASSERT_FALSE(text.empty()) << query;
            text.pop_back();
            // CR, LF and TAB come back as they were; characters XML cannot
            // carry come back as U+FFFD.
            wxString expected = cells[column];
            expected.Replace(wxString(wxUniChar(0x1b)), wxString(wxUniChar(0xfffd)));
            expected.Replace(wxString(wxUniChar(0)), wxString(wxUniChar(0xfffd)));
            EXPECT_EQ(wxString::FromUTF8(text.data(), text.size()), expected) << query;
        }
    }
}

TEST(ExportTest, QuoteCsvField)
{
    const struct {
        const char* field;
        const char* quoted;
    } cases[] = {
        {"4006381333931", "4006381333931"},
        {"", ""},
        {"A;B", "\"A;B\""},
        {"\"", "\"\"\"\""},
        {"a\"b", "\"a\"\"b\""},
        {";", "\";\""},
        {"line\rbreak", "\"line\rbreak\""},
        {"line\nbreak", "\"line\nbreak\""},
        {"a,b c\td", "a,b c\td"}, // comma, blank and tab need no quotes
        {"'", "'"},
    };
    for (const auto& c : cases) {
        wxString field = c.field;
        EXPECT_EQ(QuoteCsvField(field), c.quoted) << c.field;
        EXPECT_EQ(field, c.quoted) << "changed in place";
    }
}

TEST(ExportTest, EscapeXmlText)
{
    const struct {
        wxString text;
        const char* escaped;
    } cases[] = {
        {"plain", "plain"},
        {"&", "&amp;"},
        {"&lt;", "&amp;lt;"},
        {"<a href=\"x\">'b'</a>", "&lt;a href=&quot;x&quot;&gt;'b'&lt;/a&gt;"},
        // A raw CR would reach a parser's reader as LF.
        {"\t\r\n", "\t&#xD;\n"},
        {"\r", "&#xD;"},
        {wxString(wxUniChar(0x7f)), "\x7f"},
        {wxString(wxUniChar(0x80)), "&#x80;"},
        {wxString(wxUniChar(0xff)), "&#xFF;"},
        {wxString(wxUniChar(0xd7ff)), "&#xD7FF;"},
        {wxString(wxUniChar(0xfffd)), "&#xFFFD;"},
        {wxString(wxUniChar(0x10ffff)), "&#x10FFFF;"},
        // Not allowed in XML 1.0: the substitute instead.
        {wxString(wxUniChar(0)), "&#xFFFD;"},
        {wxString(wxUniChar(0x8)), "&#xFFFD;"},
        {wxString(wxUniChar(0xb)), "&#xFFFD;"},
        {wxString(wxUniChar(0x1f)), "&#xFFFD;"},
        {wxString(wxUniChar(0xfffe)), "&#xFFFD;"},
        {wxString(wxUniChar(0xffff)), "&#xFFFD;"},
    };
    for (const auto& c : cases) {
        wxString text = c.text;
        EXPECT_EQ(EscapeXmlText(text), c.escaped) << c.escaped;
        EXPECT_EQ(text, c.escaped) << "changed in place";
    }
}

TEST(ExportTest, WriteXmlElement)
{
    std::wostringstream out;
    WriteXmlElement("Value", out, "a&amp;b");
    EXPECT_EQ(out.str(), L"    <Value>a&amp;b</Value>\r\n");
}

TEST(ExportTest, Latin1BytesKeepEveryPosition)
{
    const wxString text = wxString("A") + wxUniChar(0) + wxUniChar(0xe9) + wxUniChar(0xff) +
                          wxUniChar(0x100) + wxUniChar(0x1f600) + "Z";
    EXPECT_EQ(Latin1Bytes(text), std::string("A\0\xe9\xff??Z", 7));
}

TEST(ExportTest, ExtensionRule)
{
    const struct {
        const char* path;
        ExportFormat format;
        const char* result;
    } cases[] = {
        {"/h/list", EXPORT_CSV, "/h/list.csv"},
        {"/h/LIST.CSV", EXPORT_CSV, "/h/LIST.CSV"},
        {"/h/list.Csv", EXPORT_CSV, "/h/list.Csv"},
        {"/h/list.xml", EXPORT_CSV, "/h/list.xml.csv"},
        {"/h/list.csv", EXPORT_XML, "/h/list.csv.xml"},
        {"/h/list.XmL", EXPORT_XML, "/h/list.XmL"},
        {"/h/list.txt", EXPORT_TXT, "/h/list.txt"},
        {"/h/listtxt", EXPORT_TXT, "/h/listtxt.txt"},
        {".txt", EXPORT_TXT, ".txt"},
        {"txt", EXPORT_TXT, "txt.txt"},
        {"", EXPORT_CSV, ".csv"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WithExportExtension(c.path, c.format), c.result) << c.path << " " << c.format;
}

TEST(ReplaceFileTest, WritesExactBytesAndReplaces)
{
    // Names up to the longest that the file system takes, some cut in the
    // middle of a character: the temporary file beside them fits too.
    std::string accented;
    for (int i = 0; i < 125; ++i)
        accented += "\xc3\xa9";
    const std::string names[] = {"list.csv", std::string(242, 'n') + ".csv",
                                 std::string(251, 'n') + ".csv", accented + ".csv"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name.size());
        TempFolder folder;
        const wxString path = folder.File(wxString::FromUTF8(name));
        const std::string bytes = std::string("a\0b\r\n\xff", 6);
        wxString error;
        ASSERT_TRUE(ReplaceFile(path, bytes, &error)) << error;
        EXPECT_EQ(ReadBytes(path), bytes);
        // A new file gets the mode that any new file gets.
        const mode_t mask = umask(0);
        umask(mask);
        EXPECT_EQ(FileMode(path), 0666 & ~static_cast<int>(mask));

        // A shorter text replaces a longer one completely; the mode stays.
        ASSERT_EQ(chmod(path.utf8_str(), 0640), 0);
        ASSERT_TRUE(ReplaceFile(path, "new", &error)) << error;
        EXPECT_EQ(ReadBytes(path), "new");
        EXPECT_EQ(FileMode(path), 0640);
        ASSERT_TRUE(ReplaceFile(path, "", &error)) << error;
        EXPECT_EQ(ReadBytes(path), "");
        EXPECT_EQ(folder.Names(), std::vector<wxString>{wxString::FromUTF8(name)})
            << "no temporary file is left";
    }
}

namespace {

// A chain of `links` links, l0 to the last, that ends at target.csv.
std::vector<std::string> Chain(int links)
{
    std::vector<std::string> layout = {"target.csv=old"};
    for (int i = 0; i < links; ++i) {
        const std::string next = i + 1 < links ? "l" + std::to_string(i + 1) : "target.csv";
        layout.push_back("l" + std::to_string(i) + " -> " + next);
    }
    return layout;
}

} // namespace

// Links stay links and lead the bytes to the file they point at, found as
// the kernel finds it: a relative target counts from the link's own folder,
// also when that folder was reached through a link; at most 40 links are
// followed; in a sticky world-writable folder only the user's own links and
// those of the folder's owner. In a layout, "name/" is a folder ("name/ 1777"
// with that mode), "name=bytes" a file and "name -> target" a link, and
// " @uid" gives a folder or link that owner. Afterwards every file holds the
// bytes given and every link is still there; a replacement that fails says
// the kernel's reason and changes nothing.
TEST(ReplaceFileTest, LinksLeadToTheFileTheyPointAt)
{
    const char* const kLoop = "Too many levels of symbolic links";
    const char* const kDenied = "Permission denied";
    const struct {
        const char* what;
        std::vector<std::string> layout;
        const char* written;
        const char* error; // null when the replacement succeeds
        std::vector<std::string> after;
    } cases[] = {
        {"a link beside its file",
         {"real.csv=old", "link.csv -> real.csv"},
         "link.csv", nullptr,
         {"real.csv=new", "link.csv -> real.csv"}},
        {"\"..\" in a folder reached through a link",
         {"real/", "real/a/", "real/a/b/", "alias -> real/a/b", "real/a/target.csv=old",
          "target.csv=unrelated", "real/a/b/link.csv -> ../target.csv"},
         "alias/link.csv", nullptr,
         {"real/a/target.csv=new", "target.csv=unrelated", "alias -> real/a/b",
          "real/a/b/link.csv -> ../target.csv"}},
        // Each link of a chain counts from its own folder.
        {"a chain through two folders",
         {"x/", "y/", "y/z/", "x/link.csv -> ../y/z/hop.csv", "y/z/hop.csv -> target.csv",
          "y/z/target.csv=old"},
         "x/link.csv", nullptr,
         {"y/z/target.csv=new", "x/link.csv -> ../y/z/hop.csv", "y/z/hop.csv -> target.csv"}},
        // A missing target is made; a loop or a chain longer than the
        // kernel follows is refused as the kernel refuses it, and no link
        // becomes a file.
        {"a link to a missing file", {"link.csv -> made.csv"}, "link.csv", nullptr,
         {"made.csv=new", "link.csv -> made.csv"}},
        {"a loop", {"a.csv -> b.csv", "b.csv -> a.csv"}, "a.csv", kLoop,
         {"a.csv -> b.csv", "b.csv -> a.csv"}},
        {"a link to itself", {"a.csv -> a.csv"}, "a.csv", kLoop, {"a.csv -> a.csv"}},
        {"40 links", Chain(40), "l0", nullptr, {"target.csv=new", "l0 -> l1", "l39 -> target.csv"}},
        {"41 links", Chain(41), "l0", kLoop, {"target.csv=old", "l0 -> l1", "l40 -> target.csv"}},
        // Sticky world-writable folders, as /tmp: a link planted there by
        // someone else does not lead the bytes into the user's files.
        {"another user's link in a sticky shared folder",
         {"shared/ 1777", "home/", "home/.bashrc=old", "shared/list.csv -> ../home/.bashrc @4322"},
         "shared/list.csv", kDenied,
         {"home/.bashrc=old", "shared/list.csv -> ../home/.bashrc"}},
        {"another user's link in another user's sticky folder",
         {"shared/ 1777 @4321", "victim.csv=old", "shared/list.csv -> ../victim.csv @4322"},
         "shared/list.csv", kDenied, {"victim.csv=old", "shared/list.csv -> ../victim.csv"}},
        {"the folder owner's link in a sticky folder",
         {"shared/ 1777 @4321", "kept.csv=old", "shared/list.csv -> ../kept.csv @4321"},
         "shared/list.csv", nullptr, {"kept.csv=new", "shared/list.csv -> ../kept.csv"}},
        {"the user's own link in another user's sticky folder",
         {"shared/ 1777 @4321", "kept.csv=old", "shared/list.csv -> ../kept.csv"},
         "shared/list.csv", nullptr, {"kept.csv=new", "shared/list.csv -> ../kept.csv"}},
        {"another user's link in a folder that is not sticky",
         {"shared/ 0777", "kept.csv=old", "shared/list.csv -> ../kept.csv @4322"},
         "shared/list.csv", nullptr, {"kept.csv=new", "shared/list.csv -> ../kept.csv"}},
        {"another user's link in a sticky folder that only its group may write",
         {"shared/ 1775", "kept.csv=old", "shared/list.csv -> ../kept.csv @4322"},
         "shared/list.csv", nullptr, {"kept.csv=new", "shared/list.csv -> ../kept.csv"}},
    };
    const std::string kLink = " -> ";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        std::vector<std::pair<wxString, mode_t>> modes;
        bool skipped = false;
        for (std::string entry : c.layout) {
            uid_t owner = static_cast<uid_t>(-1);
            const size_t at = entry.find(" @");
            if (at != std::string::npos) {
                owner = static_cast<uid_t>(std::stoul(entry.substr(at + 2)));
                entry.erase(at);
            }
            const size_t link = entry.find(kLink);
            const size_t equals = entry.find('=');
            const size_t slash = entry.find("/ ");
            std::string name;
            if (entry.back() == '/' || slash != std::string::npos) {
                name = entry.substr(0, slash == std::string::npos ? entry.size() - 1 : slash);
                ASSERT_TRUE(wxMkdir(folder.File(name)));
                if (slash != std::string::npos) {
                    const auto mode = std::stoul(entry.substr(slash + 2), nullptr, 8);
                    modes.emplace_back(folder.File(name), static_cast<mode_t>(mode));
                }
            } else if (link != std::string::npos) {
                name = entry.substr(0, link);
                ASSERT_EQ(symlink(entry.substr(link + kLink.size()).c_str(),
                                  folder.File(name).utf8_str()),
                          0);
            } else {
                name = entry.substr(0, equals);
                WriteBytes(folder.File(name), entry.substr(equals + 1));
            }
            if (owner != static_cast<uid_t>(-1) &&
                lchown(folder.File(name).utf8_str(), owner, static_cast<gid_t>(-1)) != 0)
                skipped = true;
        }
        if (skipped) {
            ASSERT_NE(geteuid(), 0u);
            std::cout << "[  SKIPPED ] " << c.what << ": only root may give a link away\n";
            continue;
        }
        for (const auto& [path, mode] : modes)
            ASSERT_EQ(chmod(path.utf8_str(), mode), 0) << path;
        wxString error;
        if (c.error) {
            EXPECT_FALSE(ReplaceFile(folder.File(c.written), "new", &error));
            EXPECT_EQ(error, c.error);
        } else {
            EXPECT_TRUE(ReplaceFile(folder.File(c.written), "new", &error)) << error;
        }
        for (const std::string& entry : c.after) {
            const size_t link = entry.find(kLink);
            if (link == std::string::npos) {
                const size_t equals = entry.find('=');
                EXPECT_EQ(ReadBytes(folder.File(entry.substr(0, equals))), entry.substr(equals + 1))
                    << entry;
                continue;
            }
            char target[PATH_MAX] = {};
            EXPECT_GT(readlink(folder.File(entry.substr(0, link)).utf8_str(), target,
                               sizeof target - 1),
                      0)
                << entry;
            EXPECT_EQ(target, entry.substr(link + kLink.size()));
        }
    }
}

namespace {

// The file's access list as text: its mode's three entries when it has no
// list of its own.
std::string AccessList(const wxString& path)
{
    const acl_t list = acl_get_file(path.utf8_str(), ACL_TYPE_ACCESS);
    if (!list)
        return "none: " + std::string(strerror(errno));
    char* text = acl_to_any_text(list, nullptr, ',', TEXT_NUMERIC_IDS);
    const std::string result = text ? text : "?";
    acl_free(text);
    acl_free(list);
    return result;
}

void SetAccessList(const wxString& path, acl_type_t type, const char* text)
{
    const acl_t list = acl_from_text(text);
    ASSERT_NE(list, nullptr) << text;
    EXPECT_EQ(acl_set_file(path.utf8_str(), type, list), 0) << text << ": " << strerror(errno);
    acl_free(list);
}

std::string Attribute(const wxString& path, const char* name)
{
    char value[256];
    const ssize_t size = getxattr(path.utf8_str(), name, value, sizeof value);
    return size < 0 ? "none" : std::string(value, static_cast<size_t>(size));
}

} // namespace

// Root replacing another user's file leaves it theirs, with its mode, its
// access list and its extended attributes; a user who cannot keep its group
// leaves the group no permission; and the folder's default access list
// gives the new file nothing that the old one did not have.
TEST(ReplaceFileTest, AnotherUsersFileKeepsItsOwnerModeAndAttributes)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root may give a file to another user";
    constexpr uid_t kOwner = 4321;
    constexpr gid_t kOwnGroup = 4321; // the owner's only group
    constexpr gid_t kGroup = 4322;
    const struct {
        const char* what;
        int mode;
        const char* accessList;    // the old file's, or null
        const char* folderDefault; // the folder's default list, or null
        bool byOwner;              // replaced by the owner, who is not in kGroup
        int modeAfter;
        gid_t groupAfter;
    } cases[] = {
        {"group may read", 0640, nullptr, nullptr, false, 0640, kGroup},
        {"others may read", 0604, nullptr, nullptr, false, 0604, kGroup},
        {"private", 0600, nullptr, nullptr, false, 0600, kGroup},
        // The mode's group bits are the list's mask, not the group's entry.
        {"an access list", 0, "u::rw-,u:65534:rw-,g::r--,m::rw-,o::---", nullptr, false, 0660,
         kGroup},
        {"a named group", 0, "u::rw-,g::r--,g:65534:r--,m::r--,o::r--", nullptr, false, 0644,
         kGroup},
        {"a folder that gives more to new files", 0640, nullptr,
         "u::rwx,u:65534:rwx,g::rwx,m::rwx,o::rwx", false, 0640, kGroup},
        {"a group the owner is not in", 0660, nullptr, nullptr, true, 0600, kOwnGroup},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        // The owner may reach the folder and write in it.
        ASSERT_EQ(chmod(folder.Path().utf8_str(), 0711), 0);
        const wxString mine = folder.File("mine");
        ASSERT_TRUE(wxMkdir(mine, 0755));
        ASSERT_EQ(chown(mine.utf8_str(), kOwner, kOwnGroup), 0);
        const wxString path = mine + "/shared.csv";
        WriteBytes(path, "old");
        ASSERT_EQ(chown(path.utf8_str(), kOwner, kGroup), 0);
        if (c.accessList)
            SetAccessList(path, ACL_TYPE_ACCESS, c.accessList);
        else
            ASSERT_EQ(chmod(path.utf8_str(), c.mode), 0);
        if (c.folderDefault)
            SetAccessList(mine, ACL_TYPE_DEFAULT, c.folderDefault);
        ASSERT_EQ(setxattr(path.utf8_str(), "user.origin", "camera", 6, 0), 0);
        const std::string listBefore = AccessList(path);

        if (c.byOwner) {
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                const bool dropped = setgroups(0, nullptr) == 0 &&
                                     setresgid(kOwnGroup, kOwnGroup, kOwnGroup) == 0 &&
                                     setresuid(kOwner, kOwner, kOwner) == 0;
                _exit(dropped && ReplaceFile(path, "new", nullptr) ? 0 : 1);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        } else {
            wxString error;
            ASSERT_TRUE(ReplaceFile(path, "new", &error)) << error;
        }
        struct stat info;
        ASSERT_EQ(stat(path.utf8_str(), &info), 0);
        EXPECT_EQ(info.st_uid, kOwner);
        EXPECT_EQ(info.st_gid, c.groupAfter);
        EXPECT_EQ(static_cast<int>(info.st_mode & 07777), c.modeAfter) << std::oct
                                                                        << (info.st_mode & 07777);
        if (!c.byOwner) {
            EXPECT_EQ(AccessList(path), listBefore);
        }
        EXPECT_EQ(Attribute(path, "user.origin"), "camera");
        EXPECT_EQ(ReadBytes(path), "new");
        EXPECT_EQ(FilesIn(mine), std::vector<wxString>{"shared.csv"});
    }
}

TEST(ReplaceFileTest, FailuresKeepTheOldFile)
{
    TempFolder folder;
    PermissionsApply permissions;

    // A read-only folder: no new file can be made beside the old one.
    ASSERT_TRUE(wxMkdir(folder.File("locked")));
    const wxString inLocked = folder.File("locked/list.csv");
    WriteBytes(inLocked, "old content");
    ASSERT_EQ(chmod(folder.File("locked").utf8_str(), 0555), 0);
    // A read-only file in a folder that would allow its replacement.
    const wxString readOnly = folder.File("read-only.csv");
    WriteBytes(readOnly, "old content");
    ASSERT_EQ(chmod(readOnly.utf8_str(), 0444), 0);
    ASSERT_TRUE(wxMkdir(folder.File("a folder.csv")));
    // No writer waits for a reader of a FIFO.
    ASSERT_EQ(mkfifo(folder.File("pipe.csv").utf8_str(), 0644), 0);

    const wxString targets[] = {inLocked, readOnly, folder.File("missing/list.csv"),
                                folder.File("a folder.csv"), folder.File("pipe.csv")};
    for (const wxString& target : targets) {
        wxString error;
        EXPECT_FALSE(ReplaceFile(target, "new content", &error)) << target;
        EXPECT_FALSE(error.empty()) << target;
    }
    EXPECT_EQ(ReadBytes(inLocked), "old content");
    EXPECT_EQ(ReadBytes(readOnly), "old content");
    EXPECT_FALSE(wxDirExists(folder.File("missing")));
    EXPECT_TRUE(wxDirExists(folder.File("a folder.csv")));
    ASSERT_EQ(chmod(folder.File("locked").utf8_str(), 0755), 0);
    wxArrayString left;
    wxDir::GetAllFiles(folder.Path(), &left, wxEmptyString, wxDIR_FILES | wxDIR_DIRS | wxDIR_HIDDEN);
    EXPECT_EQ(left.size(), 3u) << "no temporary file is left";
}

TEST(ReplaceFileTest, AFailedWriteKeepsTheOldFile)
{
    // A file size limit makes the writing stop part way, as a full disk does.
    TempFolder folder;
    const wxString path = folder.File("list.csv");
    WriteBytes(path, "old content");
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16; // bytes
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    wxString error;
    const bool replaced = ReplaceFile(path, std::string(4096, 'x'), &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, handler);

    EXPECT_FALSE(replaced);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadBytes(path), "old content");
    EXPECT_EQ(folder.Names(), std::vector<wxString>{"list.csv"}) << "no temporary file is left";
}
