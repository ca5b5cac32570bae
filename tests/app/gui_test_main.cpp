// Runs the GUI tests inside a real wxApp, under Xvfb in CI.
#include "gui_test.h"

#include <gtk/gtk.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/dir.h>
#include <wx/evtloop.h>
#include <wx/fileconf.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/stdpaths.h>
#include <wx/toolbar.h>

#include "image_loading.h"
#include "image_opening.h"
#include "my_frame.h"

namespace {

wxString g_machineDir; // the machine-wide settings folder of the running test
std::vector<std::string> g_problems; // GTK warnings and toolkit asserts

// The machine-wide file lives in the configuration folder that the
// application's traits report; the test application points it at a
// temporary folder.
class TestPaths : public wxStandardPaths {
public:
    wxString GetConfigDir() const override { return g_machineDir; }
};

class TestTraits : public wxGUIAppTraits {
public:
    wxStandardPaths& GetStandardPaths() override
    {
        static TestPaths paths;
        return paths;
    }
};

GLogWriterOutput RecordingWriter(GLogLevelFlags level, const GLogField* fields, gsize count,
                                 gpointer data)
{
    if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) {
        std::string text;
        for (gsize i = 0; i < count; ++i) {
            if (std::string(fields[i].key) == "MESSAGE" && fields[i].length < 0)
                text = static_cast<const char*>(fields[i].value);
        }
        g_problems.push_back("GTK: " + text);
    }
    return g_log_writer_default(level, fields, count, data);
}

void RecordAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    g_problems.push_back(wxString::Format("assert %s:%d %s: %s %s", file, line, func, cond, msg)
                             .ToStdString());
}

class TestApp : public wxApp {
public:
    bool OnInit() override
    {
        // No window of the tests may end the run when it goes away.
        SetExitOnFrameDelete(false);
        wxInitAllImageHandlers();
        // The tests run beside their own sources, not beside the reader.
        SetImageDecoder(MORVELIX_IMAGE_DECODER);
        wxSetAssertHandler(RecordAssert);
        // Loading errors go to stderr instead of a modal box.
        delete wxLog::SetActiveTarget(new wxLogStderr);
        // Nothing may bring up a log window while the toolkit shuts down.
        wxLog::DontCreateOnDemand();
        return true;
    }
    int OnRun() override
    {
        wxGUIEventLoop loop;
        wxEventLoopActivator activate(&loop);
        return RUN_ALL_TESTS();
    }
    wxAppTraits* CreateTraits() override { return new TestTraits; }
};

wxString MakeTempDir(const char* what)
{
    std::string pattern = std::string(P_tmpdir "/morvelix-") + what + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        return wxEmptyString;
    return wxString(buffer.data());
}

} // namespace

wxIMPLEMENT_APP_NO_MAIN(TestApp);

void Settle(int rounds)
{
    for (int i = 0; i < rounds; ++i) {
        wxYield();
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessIdle();
        wxMilliSleep(5);
    }
}

void GuiTest::SetUp()
{
    m_home = MakeTempDir("home");
    m_machineDir = MakeTempDir("etc");
    ASSERT_FALSE(m_home.empty());
    ASSERT_FALSE(m_machineDir.empty());
    setenv("HOME", m_home.utf8_str(), 1);
    g_machineDir = m_machineDir;
    g_problems.clear();
}

void GuiTest::TearDown()
{
    Settle();
    for (const std::string& problem : g_problems)
        ADD_FAILURE() << problem;
    g_problems.clear();
    wxFileName::Rmdir(m_home, wxPATH_RMDIR_RECURSIVE);
    wxFileName::Rmdir(m_machineDir, wxPATH_RMDIR_RECURSIVE);
}

MyFrame1* GuiTest::OpenWindow()
{
    MyFrame1* frame = new MyFrame1(wxEmptyString, wxSize(838, 676));
    wxTheApp->SetTopWindow(frame);
    frame->Show(true);
    return frame;
}

void GuiTest::CloseWindow(wxFrame* frame)
{
    frame->Destroy();
    Settle();
}

wxString GuiTest::UserFile() const
{
    return m_home + "/.Morvelix";
}

wxString GuiTest::MachineFile() const
{
    return m_machineDir + "/Morvelix.conf";
}

void GuiTest::WriteFile(const wxString& path, const std::string& text)
{
    std::ofstream out(path.ToStdString(), std::ios::binary);
    out << text;
    ASSERT_TRUE(out.good()) << path;
}

std::string GuiTest::ReadFile(const wxString& path)
{
    std::ifstream in(path.ToStdString(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool GuiTest::ReadStored(const wxString& path, const wxString& key, wxString* value)
{
    wxFileConfig file(wxEmptyString, wxEmptyString, path, wxEmptyString,
                      wxCONFIG_USE_LOCAL_FILE);
    return file.Read("/Morvelix Barcode Reader/" + key, value);
}

StandardErrorCapture::StandardErrorCapture() : m_file(tmpfile()), m_saved(dup(STDERR_FILENO))
{
    fflush(stderr);
    if (m_file)
        dup2(fileno(m_file), STDERR_FILENO);
}

StandardErrorCapture::~StandardErrorCapture()
{
    fflush(stderr);
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
    if (m_file)
        fclose(m_file);
}

std::vector<std::string> StandardErrorCapture::LinesWith(const std::string& text)
{
    fflush(stderr);
    std::vector<std::string> lines;
    std::string all;
    char buffer[4096];
    ssize_t count;
    while (m_file && (count = pread(fileno(m_file), buffer, sizeof buffer,
                                    static_cast<off_t>(all.size()))) > 0)
        all.append(buffer, static_cast<size_t>(count));
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);) {
        if (line.find(text) != std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

void ClickTool(wxToolBar* toolBar, int id)
{
    wxToolBarToolBase* tool = toolBar->FindById(id);
    ASSERT_NE(tool, nullptr) << id;
    if (tool->GetKind() == wxITEM_RADIO)
        toolBar->ToggleTool(id, true);
    else if (tool->GetKind() == wxITEM_CHECK)
        toolBar->ToggleTool(id, !toolBar->GetToolState(id));
    toolBar->OnLeftClick(id, toolBar->GetToolState(id));
}

wxPoint ToolCentreOnScreen(wxToolBar* toolBar, int id)
{
    // wxGTK has no tool rectangles; the GTK items stand in the tools' order.
    GtkWidget* handle = toolBar->GetHandle();
    if (!GTK_IS_TOOLBAR(handle))
        handle = gtk_bin_get_child(GTK_BIN(handle));
    GtkToolItem* item = gtk_toolbar_get_nth_item(GTK_TOOLBAR(handle), toolBar->GetToolPos(id));
    if (!item)
        return wxDefaultPosition;
    GtkWidget* widget = GTK_WIDGET(item);
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    int x = 0, y = 0, originX = 0, originY = 0;
    GtkAllocation size;
    gtk_widget_get_allocation(widget, &size);
    gtk_widget_translate_coordinates(widget, top, size.width / 2, size.height / 2, &x, &y);
    gdk_window_get_origin(gtk_widget_get_window(top), &originX, &originY);
    return wxPoint(originX + x, originY + y);
}

void SendCommand(wxWindow* window, int id)
{
    wxCommandEvent event(wxEVT_COMMAND_MENU_SELECTED, id);
    event.SetEventObject(window);
    window->GetEventHandler()->ProcessEvent(event);
}

void WaitForOpening(MyFrame1* frame)
{
    if (!frame->m_opening)
        return;
    struct Waiter {
        wxGUIEventLoop loop;
        void OnOpened(wxThreadEvent& event)
        {
            // The window's own handler runs next, before the loop ends.
            event.Skip();
            loop.ScheduleExit();
        }
    } waiter;
    frame->Bind(wxEVT_IMAGE_FILE_OPENED, &Waiter::OnOpened, &waiter);
    waiter.loop.Run();
    frame->Unbind(wxEVT_IMAGE_FILE_OPENED, &Waiter::OnOpened, &waiter);
    EXPECT_FALSE(frame->m_opening) << "the window has not taken the outcome";
}

int main(int argc, char** argv)
{
    // Set before GTK can log anything: every warning fails the running test.
    g_log_set_writer_func(RecordingWriter, nullptr, nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    // GTK's file chooser stores its view settings through GSettings; without a
    // session bus dconf could only warn about every change.
    setenv("GSETTINGS_BACKEND", "memory", 1);
    // The toolkit starts before the first test: give it a home of its own.
    const wxString home = MakeTempDir("start");
    setenv("HOME", home.utf8_str(), 1);
    // GTK notes the folder of its recent-files list once; it stays here for
    // the whole run while each test gets a home of its own.
    const wxString data = home + "/.local/share";
    wxFileName::Mkdir(data, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    setenv("XDG_DATA_HOME", data.utf8_str(), 1);
    const int result = wxEntry(argc, argv);
    wxFileName::Rmdir(home, wxPATH_RMDIR_RECURSIVE);
    return result;
}
