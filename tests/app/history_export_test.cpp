#include <gtk/gtk.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/grid.h>

#include "dialog_answers.h"
#include "gui_test.h"
#include "folder_listing.h"
#include "my_frame.h"
#include "permissions.h"

class HistoryExportTest : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        m_folder = m_home + "/exports";
        ASSERT_TRUE(wxMkdir(m_folder));
    }
    void TearDown() override
    {
        chmod(m_folder.utf8_str(), 0755);
        GuiTest::TearDown();
    }

    // Runs "Save as" with the dialog answered: the file name typed, the
    // file type chosen.
    void SaveAs(MyFrame1* frame, DialogAnswers& answers, const wxString& name, int filterIndex)
    {
        answers.AnswerFileDialog(frame->m_saveDialog, m_folder + "/" + name, filterIndex);
        SendCommand(frame, ID_SAVE_AS);
        ASSERT_TRUE(answers.FileDialogAnswered()) << name;
    }

    wxString m_folder;
};

// The history as the three formats write it, byte for byte, through the
// save dialog; the table's empty last row is never written.
TEST_F(HistoryExportTest, ExactBytesOfEachFormat)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    frame->AddToHistory("A;B", "CODEBAR 39", "Camera");
    frame->AddToHistory("say \"hi\"", "CODEBAR 128", "/tmp/R&D <1>;x.png");
    frame->AddToHistory("NONE", "N/A", L"/home/u/\u0424\u043e\u0442\u043e.png");
    frame->AddToHistory(EngineText("AB\x09" "cd\x0d\x0a"), "CODEBAR 128", "Camera");
    std::vector<std::string> date;
    for (int row = 0; row < 4; ++row)
        date.push_back(frame->m_grid->GetCellValue(row, 0).ToStdString());

    const std::string csv = "Date;Barcode;Type;Source\r\n" +
                            date[0] + ";\"A;B\";CODEBAR 39;Camera\r\n" +
                            date[1] + ";\"say \"\"hi\"\"\";CODEBAR 128;\"/tmp/R&D <1>;x.png\"\r\n" +
                            date[2] + ";NONE;N/A;/home/u/\?\?\?\?.png\r\n" +
                            date[3] + ";\"AB\tcd\r\n\";CODEBAR 128;Camera\r\n";
    auto entry = [](const std::string& when, const std::string& value, const std::string& type,
                    const std::string& source) {
        return "<barcode>\r\n    <Date>" + when + "</Date>\r\n    <Value>" + value +
               "</Value>\r\n    <Type>" + type + "</Type>\r\n    <Source>" + source +
               "</Source>\r\n</barcode>\r\n";
    };
    const std::string xml =
        "<?xml version=\"1.0\"?>\r\n<barcodes>\r\n" +
        entry(date[0], "A;B", "CODEBAR 39", "Camera") +
        entry(date[1], "say &quot;hi&quot;", "CODEBAR 128", "/tmp/R&amp;D &lt;1&gt;;x.png") +
        entry(date[2], "NONE", "N/A", "/home/u/&#x424;&#x43E;&#x442;&#x43E;.png") +
        entry(date[3], "AB\tcd&#xD;\n", "CODEBAR 128", "Camera") + "</barcodes>\r\n";
    const std::string txt = "A;B\r\nsay \"hi\"\r\nNONE\r\nAB\tcd\r\n\r\n";

    const struct {
        int filterIndex;
        const char* file;
        const std::string& bytes;
    } formats[] = {{0, "history.csv", csv}, {1, "history.xml", xml}, {2, "history.txt", txt}};
    for (const auto& format : formats) {
        DialogAnswers answers;
        SaveAs(frame, answers, "history", format.filterIndex);
        EXPECT_EQ(ReadFile(m_folder + "/" + format.file), format.bytes) << format.file;
        EXPECT_TRUE(answers.Messages().empty()) << "no message after an export";
    }
    EXPECT_EQ(FilesIn(m_folder),
              (std::vector<wxString>{"history.csv", "history.txt", "history.xml"}));
    // The table is read, not changed.
    EXPECT_EQ(frame->m_grid->GetNumberRows(), 5);

    int status = 0;
    FILE* xmllint = popen(("xmllint --noout '" + m_folder + "/history.xml' 2>&1").utf8_str(), "r");
    ASSERT_NE(xmllint, nullptr);
    char output[1024] = {};
    const size_t length = fread(output, 1, sizeof output - 1, xmllint);
    status = pclose(xmllint);
    EXPECT_EQ(status, 0) << std::string(output, length);
    CloseWindow(frame);
}

TEST_F(HistoryExportTest, EmptyHistory)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    const struct {
        int filterIndex;
        const char* file;
        const char* bytes;
    } formats[] = {
        {0, "empty.csv", "Date;Barcode;Type;Source\r\n"},
        {1, "empty.xml", "<?xml version=\"1.0\"?>\r\n<barcodes>\r\n</barcodes>\r\n"},
        {2, "empty.txt", ""},
    };
    for (const auto& format : formats) {
        DialogAnswers answers;
        SaveAs(frame, answers, "empty", format.filterIndex);
        ASSERT_TRUE(wxFileExists(m_folder + "/" + format.file)) << format.file;
        EXPECT_EQ(ReadFile(m_folder + "/" + format.file), format.bytes) << format.file;
    }
    CloseWindow(frame);
}

// The name gets the format's extension unless it ends with it in any
// letter case.
TEST_F(HistoryExportTest, ExtensionRule)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    frame->AddToHistory("12345670", "EAN 8", "Camera");
    const struct {
        const char* typed;
        int filterIndex;
        const char* written;
    } cases[] = {
        {"list", 0, "list.csv"},          {"LIST.CSV", 0, "LIST.CSV"},
        {"other.Csv", 0, "other.Csv"},    {"values.xml", 0, "values.xml.csv"},
        {"values.xml", 1, "values.xml"},  {"codes.txt", 2, "codes.txt"},
        {"codes.csv", 2, "codes.csv.txt"}, {"notes", 1, "notes.xml"},
    };
    for (const auto& c : cases) {
        DialogAnswers answers;
        SaveAs(frame, answers, c.typed, c.filterIndex);
        EXPECT_TRUE(wxFileExists(m_folder + "/" + c.written)) << c.typed << " -> " << c.written;
    }
    std::vector<wxString> expected;
    for (const auto& c : cases)
        expected.push_back(c.written);
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(FilesIn(m_folder), expected) << "nothing else is written";
    CloseWindow(frame);
}

TEST_F(HistoryExportTest, CancelWritesNothing)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    frame->AddToHistory("12345670", "EAN 8", "Camera");
    DialogAnswers answers;
    answers.AnswerFileDialog(frame->m_saveDialog, m_folder + "/list", 0, false);
    SendCommand(frame, ID_SAVE_AS);
    EXPECT_TRUE(answers.FileDialogAnswered());
    EXPECT_TRUE(FilesIn(m_folder).empty());
    EXPECT_TRUE(answers.Messages().empty());
    CloseWindow(frame);
}

// An existing file is replaced after the dialog's question.
TEST_F(HistoryExportTest, ReplacesAnExistingFile)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    const wxString path = m_folder + "/list.txt";
    WriteFile(path, std::string(5000, 'x'));
    frame->AddToHistory("12345670", "EAN 8", "Camera");
    DialogAnswers answers;
    SaveAs(frame, answers, "list.txt", 2);
    EXPECT_EQ(answers.OverwriteQuestions(), 1);
    EXPECT_EQ(ReadFile(path), "12345670\r\n");
    EXPECT_EQ(FilesIn(m_folder), std::vector<wxString>{"list.txt"});
    CloseWindow(frame);
}

// A name typed without its extension: when the name with the extension is
// that of an existing file, the file is replaced only after a question
// about that name.
TEST_F(HistoryExportTest, AskedBeforeTheExtensionNamesAnExistingFile)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    frame->AddToHistory("12345670", "EAN 8", "Camera");
    const std::string csv = "Date;Barcode;Type;Source\r\n" +
                            frame->m_grid->GetCellValue(0, 0).ToStdString() +
                            ";12345670;EAN 8;Camera\r\n";
    const wxString path = m_folder + "/keep.csv";
    const struct {
        bool replace;
        std::string bytes;
    } answers[] = {{false, "old"}, {true, csv}};
    for (const auto& answer : answers) {
        WriteFile(path, "old");
        DialogAnswers dialog;
        dialog.AnswerReplace(answer.replace);
        SaveAs(frame, dialog, "keep", 0);
        ASSERT_EQ(dialog.ReplaceQuestions().size(), 1u) << answer.replace;
        EXPECT_NE(dialog.ReplaceQuestions()[0].find("keep.csv"), std::string::npos)
            << dialog.ReplaceQuestions()[0];
        EXPECT_EQ(ReadFile(path), answer.bytes) << answer.replace;
        EXPECT_TRUE(dialog.Messages().empty());
    }
    // No question where nothing is replaced.
    DialogAnswers dialog;
    SaveAs(frame, dialog, "fresh", 0);
    EXPECT_EQ(dialog.OverwriteQuestions(), 0);
    EXPECT_EQ(ReadFile(m_folder + "/fresh.csv"), csv);
    EXPECT_EQ(FilesIn(m_folder), (std::vector<wxString>{"fresh.csv", "keep.csv"}));
    CloseWindow(frame);
}

// A file that cannot be written is reported in an error box, and the old
// file keeps its content; no half-written file is left behind. In a sticky
// world-writable folder such as /tmp, another user's link is not followed:
// the file it points at stays as it was.
TEST_F(HistoryExportTest, AFileThatCannotBeWrittenShowsAnErrorAndKeepsTheOldFile)
{
    const struct {
        const char* what;
        const char* folder; // in m_folder
        const char* name;
        const char* target; // the file that must keep its bytes, in the home folder
        const char* reason;
    } cases[] = {
        {"a read-only folder", "read-only", "list.csv", "exports/read-only/list.csv",
         "ermission denied"},
        {"another user's link in a sticky folder", "shared", "planted.csv", ".bashrc",
         "ermission denied"},
        {"a loop of links", "loops", "loop.csv", "exports/loops/list.csv",
         "Too many levels of symbolic links"},
    };
    MyFrame1* frame = OpenWindow();
    Settle();
    frame->AddToHistory("12345670", "EAN 8", "Camera");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const wxString folder = m_folder + "/" + c.folder;
        ASSERT_TRUE(wxMkdir(folder));
        const wxString target = m_home + "/" + c.target;
        WriteFile(target, "old content\r\n");
        const wxString path = folder + "/" + c.name;
        if (c.name == std::string("list.csv")) {
            ASSERT_EQ(chmod(folder.utf8_str(), 0555), 0);
        } else if (c.name == std::string("planted.csv")) {
            // Another user's link in a folder that everyone may write in.
            ASSERT_EQ(symlink(target.utf8_str(), path.utf8_str()), 0);
            if (lchown(path.utf8_str(), 4321, 4321) != 0) {
                std::cout << "[  SKIPPED ] " << c.what << ": only root may give a link away\n";
                continue;
            }
            ASSERT_EQ(chmod(folder.utf8_str(), 01777), 0);
        } else {
            ASSERT_EQ(symlink(c.name, path.utf8_str()), 0);
        }
        const std::vector<wxString> names = FilesIn(folder);
        PermissionsApply permissions;
        DialogAnswers answers;
        SaveAs(frame, answers, wxString(c.folder) + "/" + c.name, 0);
        ASSERT_EQ(answers.Messages().size(), 1u);
        const ShownMessage& box = answers.Messages()[0];
        EXPECT_EQ(box.title, "Error");
        EXPECT_EQ(box.messageType, GTK_MESSAGE_ERROR);
        const std::string text = box.text + "\n" + box.secondary;
        EXPECT_NE(text.find(path.ToStdString()), std::string::npos) << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        EXPECT_EQ(ReadFile(target), "old content\r\n");
        EXPECT_EQ(FilesIn(folder), names);
    }
    CloseWindow(frame);
    for (const auto& c : cases)
        chmod((m_folder + "/" + c.folder).utf8_str(), 0755);
}
