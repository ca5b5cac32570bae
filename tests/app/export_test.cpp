#include "export.h"
#include "file_replace.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <initializer_list>
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
    std::ifstream in(path.ToStdString(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteBytes(const wxString& path, const std::string& bytes)
{
    std::ofstream out(path.ToStdString(), std::ios::binary);
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
    TempFolder folder;
    const wxString path = folder.File("list.csv");
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
    EXPECT_EQ(folder.Names(), std::vector<wxString>{"list.csv"}) << "no temporary file is left";
}

// Links stay links and lead the bytes to the file they point at, found as
// the kernel finds it: a relative target counts from the link's own folder,
// also when that folder was reached through a link. In a layout, "name/" is
// a folder, "name=bytes" a file and "name -> target" a link; afterwards
// every file holds the bytes given and every link is still there.
TEST(ReplaceFileTest, LinksLeadToTheFileTheyPointAt)
{
    const struct {
        const char* what;
        std::vector<std::string> layout;
        const char* written;
        std::vector<std::string> after;
    } cases[] = {
        {"a link beside its file",
         {"real.csv=old", "link.csv -> real.csv"},
         "link.csv",
         {"real.csv=new", "link.csv -> real.csv"}},
        {"\"..\" in a folder reached through a link",
         {"real/", "real/a/", "real/a/b/", "alias -> real/a/b", "real/a/target.csv=old",
          "target.csv=unrelated", "real/a/b/link.csv -> ../target.csv"},
         "alias/link.csv",
         {"real/a/target.csv=new", "target.csv=unrelated", "alias -> real/a/b",
          "real/a/b/link.csv -> ../target.csv"}},
        // Each link of a chain counts from its own folder.
        {"a chain through two folders",
         {"x/", "y/", "y/z/", "x/link.csv -> ../y/z/hop.csv", "y/z/hop.csv -> target.csv",
          "y/z/target.csv=old"},
         "x/link.csv",
         {"y/z/target.csv=new", "x/link.csv -> ../y/z/hop.csv", "y/z/hop.csv -> target.csv"}},
        // A missing target is made; a loop is replaced where its name is.
        {"a link to a missing file", {"link.csv -> made.csv"}, "link.csv",
         {"made.csv=new", "link.csv -> made.csv"}},
        {"a loop", {"a.csv -> b.csv", "b.csv -> a.csv"}, "a.csv", {"a.csv=new", "b.csv -> a.csv"}},
    };
    const std::string kLink = " -> ";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        for (const std::string& entry : c.layout) {
            const size_t link = entry.find(kLink);
            const size_t equals = entry.find('=');
            if (entry.back() == '/')
                ASSERT_TRUE(wxMkdir(folder.File(entry)));
            else if (link != std::string::npos)
                ASSERT_EQ(symlink(entry.substr(link + kLink.size()).c_str(),
                                  folder.File(entry.substr(0, link)).utf8_str()),
                          0);
            else
                WriteBytes(folder.File(entry.substr(0, equals)), entry.substr(equals + 1));
        }
        wxString error;
        ASSERT_TRUE(ReplaceFile(folder.File(c.written), "new", &error)) << error;
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

// Root replacing another user's file leaves it theirs, with its mode.
TEST(ReplaceFileTest, AnotherUsersFileKeepsItsOwnerAndMode)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root may give a file to another user";
    constexpr uid_t kOwner = 4321;
    constexpr gid_t kGroup = 4322;
    TempFolder folder;
    for (int mode : {0640, 0604, 0600}) {
        const wxString path = folder.File("shared.csv");
        WriteBytes(path, "old");
        ASSERT_EQ(chown(path.utf8_str(), kOwner, kGroup), 0);
        ASSERT_EQ(chmod(path.utf8_str(), mode), 0);
        wxString error;
        ASSERT_TRUE(ReplaceFile(path, "new", &error)) << error;
        struct stat info;
        ASSERT_EQ(stat(path.utf8_str(), &info), 0);
        EXPECT_EQ(info.st_uid, kOwner) << std::oct << mode;
        EXPECT_EQ(info.st_gid, kGroup) << std::oct << mode;
        EXPECT_EQ(static_cast<int>(info.st_mode & 07777), mode);
        EXPECT_EQ(ReadBytes(path), "new");
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

    const wxString targets[] = {inLocked, readOnly, folder.File("missing/list.csv"),
                                folder.File("a folder.csv")};
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
    EXPECT_EQ(left.size(), 2u) << "no temporary file is left";
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
