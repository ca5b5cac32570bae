#include "help_about.h"

#include <gtk/gtk.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <wx/filename.h>

#include "dialog_answers.h"
#include "gui_test.h"
#include "my_frame.h"

namespace {

wxString ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return wxString::FromUTF8(path, n > 0 ? static_cast<size_t>(n) : 0).BeforeLast('/');
}

// The visible about box of GTK, or null.
GtkWidget* FindAboutBox()
{
    GtkWidget* found = nullptr;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item; item = item->next) {
        GtkWidget* window = GTK_WIDGET(item->data);
        if (GTK_IS_ABOUT_DIALOG(window) && gtk_widget_get_visible(window))
            found = window;
    }
    g_list_free(toplevels);
    return found;
}

std::string Text(const gchar* text)
{
    return text ? text : "";
}

} // namespace

// A stub xdg-open first on PATH writes the arguments it is started with,
// one per line, to a record file.
class HelpTest : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        m_oldPath = getenv("PATH") ? getenv("PATH") : "";
        m_bin = m_home + "/bin";
        ASSERT_TRUE(wxMkdir(m_bin));
        const wxString stub = m_bin + "/xdg-open";
        WriteFile(stub, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + Record().ToStdString() +
                            ".part'\nmv '" + Record().ToStdString() + ".part' '" +
                            Record().ToStdString() + "'\n");
        ASSERT_EQ(chmod(stub.utf8_str(), 0755), 0);
    }
    void TearDown() override
    {
        setenv("PATH", m_oldPath.c_str(), 1);
        GuiTest::TearDown();
    }
    wxString Record() const { return m_home + "/record"; }
    // Waits until the viewer has run; what it was asked to open.
    std::string ViewerArguments()
    {
        for (int i = 0; i < 500 && !wxFileExists(Record()); ++i)
            Settle(1);
        return ReadFile(Record());
    }

    std::string m_oldPath;
    wxString m_bin;
};

TEST_F(HelpTest, OpensTheHelpPageBesideTheProgram)
{
    setenv("PATH", (m_bin + ":" + m_oldPath).utf8_str(), 1);
    MyFrame1* frame = OpenWindow();
    Settle();
    DialogAnswers answers;
    SendCommand(frame, wxID_HELP);
    const wxString page = ProgramFolder() + "/Morvelix.html";
    EXPECT_EQ(ViewerArguments(), page.ToStdString() + "\n");
    // The page beside the program is the one the sources hold.
    EXPECT_EQ(ReadFile(page), ReadFile(MORVELIX_HELP_SOURCE));
    EXPECT_TRUE(answers.Messages().empty());
    CloseWindow(frame);
}

TEST_F(HelpTest, NoViewerStaysSilent)
{
    setenv("PATH", m_home.utf8_str(), 1); // a folder without xdg-open
    MyFrame1* frame = OpenWindow();
    Settle();
    DialogAnswers answers;
    SendCommand(frame, wxID_HELP);
    Settle(40);
    EXPECT_FALSE(wxFileExists(Record()));
    EXPECT_TRUE(answers.Messages().empty());
    EXPECT_TRUE(frame->IsShown());
    CloseWindow(frame);
}

TEST(AboutInfoTest, Fields)
{
    const wxAboutDialogInfo info = AboutInfo();
    EXPECT_EQ(info.GetName(), "Morvelix Barcode Reader");
    EXPECT_EQ(info.GetVersion(), " 1.3 version");
    EXPECT_EQ(info.GetDescription(),
              "\nSupported barcode types: EAN13/EAN8/UPCA/UPCE/CODEBAR39/CODEBAR128");
    ASSERT_TRUE(info.HasIcon());
    EXPECT_EQ(info.GetIcon().GetWidth(), 56);
    EXPECT_EQ(info.GetIcon().GetHeight(), 56);
    ASSERT_TRUE(info.HasWebSite());
    EXPECT_EQ(info.GetWebSiteURL(), "https://www.example.com/morvelix/");
    EXPECT_EQ(info.GetWebSiteDescription(), info.GetWebSiteURL()) << "the link shows its address";
    ASSERT_TRUE(info.HasCopyright());
    EXPECT_FALSE(info.GetCopyright().empty());
    EXPECT_EQ(info.GetCopyright().find('\n'), wxString::npos) << "one line";
}

using AboutTest = GuiTest;

// The about box that GTK shows carries every field.
TEST_F(AboutTest, ShowsTheBox)
{
    MyFrame1* frame = OpenWindow();
    Settle();
    SendCommand(frame, wxID_ABOUT);
    Settle(10);
    GtkWidget* box = FindAboutBox();
    ASSERT_NE(box, nullptr);
    GtkAboutDialog* about = GTK_ABOUT_DIALOG(box);
    EXPECT_EQ(Text(gtk_about_dialog_get_program_name(about)), "Morvelix Barcode Reader");
    EXPECT_EQ(Text(gtk_about_dialog_get_version(about)), " 1.3 version");
    EXPECT_EQ(Text(gtk_about_dialog_get_comments(about)),
              "\nSupported barcode types: EAN13/EAN8/UPCA/UPCE/CODEBAR39/CODEBAR128");
    EXPECT_EQ(Text(gtk_about_dialog_get_website(about)), "https://www.example.com/morvelix/");
    EXPECT_EQ(Text(gtk_about_dialog_get_website_label(about)),
              "https://www.example.com/morvelix/");
    EXPECT_FALSE(Text(gtk_about_dialog_get_copyright(about)).empty());
    GdkPixbuf* logo = gtk_about_dialog_get_logo(about);
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(logo), 56);
    EXPECT_EQ(gdk_pixbuf_get_height(logo), 56);

    gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_CANCEL);
    Settle(10);
    EXPECT_EQ(FindAboutBox(), nullptr) << "closed";
    EXPECT_TRUE(frame->IsShown());
    CloseWindow(frame);
}
