// The reader on a desktop with a window manager (openbox, started by
// tests/with-xvfb.sh --window-manager): GTK reports no critical or warning at start-up,
// at the minimum size or from Options, and two readers running at once keep
// each other's stored options.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include <wx/button.h>
#include <wx/radiobut.h>

#include "gui_test.h"
#include "my_frame.h"
#include "options.h"

// After the toolkit's headers: Xlib's macros would clash with them.
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "io_test_support.h"

using namespace std::chrono_literals;
using testing_support::TestDisplay;
using testing_support::WaitFor;

extern char** environ;

namespace {

// The reader program as a process of its own, standard error to a file.
class ReaderProcess {
public:
    // With no file for standard error, the reader starts with descriptors
    // 0 to 2 closed.
    explicit ReaderProcess(const std::string& errors)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (errors.empty()) {
            for (int fd = 0; fd <= 2; ++fd)
                posix_spawn_file_actions_addclose(&actions, fd);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        char* argv[] = {const_cast<char*>(MORVELIX_READER), nullptr};
        if (posix_spawn(&m_pid, MORVELIX_READER, &actions, nullptr, argv, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ReaderProcess()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    pid_t Pid() const { return m_pid; }
    // Waits for the end of the process; false when it is still running.
    bool Ended(int* status)
    {
        const bool ended = WaitFor(
            [&] {
                Settle(1);
                return waitpid(m_pid, status, WNOHANG) == m_pid;
            },
            30s);
        if (ended)
            m_pid = -1;
        return ended;
    }

private:
    pid_t m_pid = -1;
};

std::vector<Window> PropertyWindows(Display* display, Window window, const char* name)
{
    std::vector<Window> windows;
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    const Atom property = XInternAtom(display, name, False);
    if (XGetWindowProperty(display, window, property, 0, 4096, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const long* values = reinterpret_cast<const long*>(data);
        windows.assign(values, values + count);
    }
    if (data)
        XFree(data);
    return windows;
}

// The window with that title that the window manager manages for the
// process, or None.
Window ManagedWindowOf(Display* display, pid_t pid, const char* title)
{
    for (Window window : PropertyWindows(display, DefaultRootWindow(display), "_NET_CLIENT_LIST")) {
        const std::vector<Window> owner = PropertyWindows(display, window, "_NET_WM_PID");
        char* name = nullptr;
        const bool named = XFetchName(display, window, &name) && name && std::string(name) == title;
        if (name)
            XFree(name);
        if (named && !owner.empty() && static_cast<pid_t>(owner[0]) == pid)
            return window;
    }
    return None;
}

// The reader's main window once the window manager manages it, or None
// when it does not come.
Window MainWindowOf(Display* display, pid_t pid)
{
    Window window = None;
    WaitFor(
        [&] {
            window = ManagedWindowOf(display, pid, "Morvelix Barcode Reader");
            return window != None;
        },
        30s);
    return window;
}

// Presses and releases the keys in turn, as the user would.
void PressKeys(Display* display, std::initializer_list<KeySym> keys)
{
    for (KeySym key : keys) {
        const KeyCode code = XKeysymToKeycode(display, key);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        XFlush(display);
        Settle(40);
    }
}

// Closes the window as the window manager's close button does.
void AskToClose(Display* display, Window window)
{
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

// Lines in which GTK or GLib report a critical or a warning.
std::string GtkComplaints(const std::string& errors)
{
    std::string found;
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("-CRITICAL **") != std::string::npos ||
            line.find("-WARNING **") != std::string::npos)
            found += line + "\n";
    }
    return found;
}

} // namespace

class DesktopTest : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        ASSERT_NE(m_display.get(), nullptr);
        ASSERT_FALSE(PropertyWindows(m_display.get(), DefaultRootWindow(m_display.get()),
                                     "_NET_SUPPORTING_WM_CHECK")
                         .empty())
            << "no window manager: run under tests/with-xvfb.sh --window-manager";
    }

    TestDisplay m_display;
};

// In this process, as the reader starts: the window at its first size and
// at the minimum size, then the Options dialog opened and closed. The
// fixture fails on any GTK critical or warning.
TEST_F(DesktopTest, WindowAndOptionsUnderAWindowManager)
{
    MyFrame1* frame = OpenWindow();
    Settle(40);
    EXPECT_TRUE(frame->IsShownOnScreen());
    frame->SetSize(677, 687);
    Settle(20);
    EXPECT_EQ(frame->GetMinSize(), wxSize(677, 687));

    Options* dialog = frame->m_options;
    bool shown = false;
    dialog->CallAfter([&] {
        Settle(20);
        shown = dialog->IsShownOnScreen();
        wxCommandEvent click(wxEVT_BUTTON, ID_OPTIONS_CANCEL);
        click.SetEventObject(dialog->m_cancelButton);
        dialog->m_cancelButton->GetEventHandler()->ProcessEvent(click);
    });
    SendCommand(frame, ID_MENU_OPTIONS);
    EXPECT_TRUE(shown);
    CloseWindow(frame);
}

// Started with descriptors 0 to 2 closed, the reader has them on
// /dev/null: its display connection is not standard error, and its window
// closes as usual.
TEST_F(DesktopTest, ClosedStandardDescriptorsAreNotTheDisplay)
{
    ReaderProcess reader("");
    ASSERT_GT(reader.Pid(), 0);
    Display* display = m_display.get();
    const Window window = MainWindowOf(display, reader.Pid());
    ASSERT_NE(window, None);
    for (int fd = 0; fd <= 2; ++fd) {
        char target[256] = {};
        const std::string link = "/proc/" + std::to_string(reader.Pid()) + "/fd/" + std::to_string(fd);
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0) << link;
        EXPECT_STREQ(target, "/dev/null") << fd;
    }
    AskToClose(display, window);
    int status = -1;
    ASSERT_TRUE(reader.Ended(&status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The reader program starts, opens and closes Options from its menu, and
// ends with nothing from GTK on standard error. While it runs, this
// process, a second reader, stores options, and the user edits the file by
// hand; the first one, which changed nothing, writes nothing at its exit,
// and the second one's exit adds the one value it changed. Nothing that
// either reader or the user stored is lost, and no line changes its bytes
// but the one written.
TEST_F(DesktopTest, TwoReadersStartQuietlyAndKeepEachOthersOptions)
{
    WriteFile(UserFile(), "[Morvelix Barcode Reader]\nBeep=500\n");
    const std::string errors = (m_home + "/reader-errors.txt").ToStdString();
    ReaderProcess reader(errors);
    ASSERT_GT(reader.Pid(), 0);
    Display* display = m_display.get();
    const Window window = MainWindowOf(display, reader.Pid());
    ASSERT_NE(window, None);
    // The window manager gives a new window the focus: F10 then opens the
    // main window's first menu, whose second item is Options. Its close box
    // closes it.
    auto activeIs = [&](Window expected) {
        const std::vector<Window> active =
            PropertyWindows(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW");
        return expected != None && !active.empty() && active[0] == expected;
    };
    ASSERT_TRUE(WaitFor([&] { return activeIs(window); }, 30s));
    Settle(100);
    PressKeys(display, {XK_F10, XK_Down, XK_Down, XK_Return});
    Window options = None;
    ASSERT_TRUE(WaitFor(
        [&] {
            options = ManagedWindowOf(display, reader.Pid(), "Options");
            return activeIs(options);
        },
        30s));
    Settle(100);
    AskToClose(display, options);
    EXPECT_TRUE(WaitFor(
        [&] { return ManagedWindowOf(display, reader.Pid(), "Options") == None; }, 30s));

    MyFrame1* frame = OpenWindow();
    Settle(20);
    Options* dialog = frame->m_options;
    dialog->CallAfter([&] {
        dialog->m_beep1000->SetValue(true);
        dialog->m_terminatorTab->SetValue(true);
        wxCommandEvent click(wxEVT_BUTTON, ID_OPTIONS_OK);
        click.SetEventObject(dialog->m_okButton);
        dialog->m_okButton->GetEventHandler()->ProcessEvent(click);
    });
    SendCommand(frame, ID_MENU_OPTIONS);
    ASSERT_EQ(frame->m_beep, 1000);
    ASSERT_EQ(ReadFile(UserFile()), "[Morvelix Barcode Reader]\nBeep=1000\nTerminator=9\n");

    // The user's edit, with another program's Latin-1 line.
    const std::string byHand = "# by hand\n[Morvelix Barcode Reader]\nBeep=1000\nTerminator=9\n"
                               "Mode=0\n[Other]\nowner=Fran\xe7ois\n";
    WriteFile(UserFile(), byHand);

    AskToClose(display, window);
    int status = -1;
    ASSERT_TRUE(reader.Ended(&status));
    const std::string written = ReadFile(errors);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << written;
    const std::string complaints = GtkComplaints(written);
    EXPECT_TRUE(complaints.empty()) << complaints;
    EXPECT_EQ(ReadFile(UserFile()), byHand);

    ClickTool(frame->m_typeToolBar, ID_CODEBAR39);
    CloseWindow(frame);
    EXPECT_EQ(ReadFile(UserFile()), "# by hand\n[Morvelix Barcode Reader]\nBeep=1000\n"
                                    "Terminator=9\nMode=0\nBarcodeTypes=23\n[Other]\n"
                                    "owner=Fran\xe7ois\n");
}
