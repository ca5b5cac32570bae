// Keystroke output when this program's own window is in front, with real
// GTK windows: the handle comes from the toolkit's focus, so the history
// grid can be told apart from the text box although neither has an X
// window of its own, and a value posted while the text box has the focus
// reaches it once the GUI thread is back in its event loop. The focus is
// moved by mouse clicks, as a user would.
#include "keystrokes.h"

#include <gtest/gtest.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/grid.h>
#include <wx/init.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/wx.h>

// After the toolkit's headers: Xlib's macros would clash with them.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Runs the toolkit's events until the condition holds.
bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    while (wxTheApp->Pending()) wxTheApp->Dispatch();
    wxTheApp->ProcessIdle();
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
}

HWND FocusHandle() {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  EXPECT_TRUE(GetGUIThreadInfo(0, &info));
  return info.hwndFocus;
}

// One frame for all the tests: it keeps the input focus throughout, as a
// second frame could not take it from a destroyed first one without a
// window manager.
class OwnWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_frame = new wxFrame(nullptr, wxID_ANY, "own", wxPoint(0, 0), wxSize(500, 400));
    s_text = new wxTextCtrl(s_frame, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                            wxTE_MULTILINE);
    s_grid = new wxGrid(s_frame, wxID_ANY);
    s_grid->CreateGrid(3, 2);
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(s_text, 1, wxEXPAND);
    sizer->Add(s_grid, 1, wxEXPAND);
    s_frame->SetSizer(sizer);
    s_frame->Show();
    s_frame->Raise();
  }
  static void TearDownTestSuite() {
    s_frame->Destroy();
    PumpUntil([] { return false; }, 50ms);
  }

  void SetUp() override {
    ASSERT_TRUE(PumpUntil([] { return s_frame->IsActive(); }, 30s)) << "the frame got no focus";
    SetOwnFocusQuery(&OwnWindowTest::ToolkitFocus);
  }
  void TearDown() override { SetOwnFocusQuery(nullptr); }

  // The program's query: the toolkit's focus window. While the user works
  // in the grid's cells wxGTK reports the grid itself, so the query answers
  // with the cell window then, the window the program excludes.
  static HWND ToolkitFocus() {
    wxWindow* focus = wxWindow::FindFocus();
    for (wxWindow* w = focus; w; w = w->GetParent()) {
      if (w == s_grid) return reinterpret_cast<HWND>(s_grid->GetGridWindow());
    }
    return reinterpret_cast<HWND>(focus);
  }

  // Clicks into the window through XTEST and waits for the toolkit to move
  // its focus there.
  static void ClickInto(wxWindow* window, wxWindow* focused) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const wxSize size = window->GetSize();
    const wxPoint at = window->GetScreenPosition() + wxPoint(size.x / 2, size.y / 2);
    XTestFakeMotionEvent(display, -1, at.x, at.y, CurrentTime);
    XTestFakeButtonEvent(display, Button1, True, CurrentTime);
    XTestFakeButtonEvent(display, Button1, False, CurrentTime);
    XCloseDisplay(display);
    ASSERT_TRUE(PumpUntil([&] { return wxWindow::FindFocus() == focused; }, 30s))
        << "the focus did not move";
  }

  static wxFrame* s_frame;
  static wxTextCtrl* s_text;
  static wxGrid* s_grid;
};

wxFrame* OwnWindowTest::s_frame = nullptr;
wxTextCtrl* OwnWindowTest::s_text = nullptr;
wxGrid* OwnWindowTest::s_grid = nullptr;

TEST_F(OwnWindowTest, TextBoxWithTheFocusReceivesTheValue) {
  ClickInto(s_text, s_text);
  const HWND target = FocusHandle();
  EXPECT_EQ(target, reinterpret_cast<HWND>(s_text));
  ASSERT_NE(target, reinterpret_cast<HWND>(s_grid->GetGridWindow()));

  const std::u16string value = u"Ab1 \u00e4\u0416";
  for (char16_t unit : value) ASSERT_TRUE(PostMessageW(target, WM_CHAR, unit, 0));
  ASSERT_TRUE(PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0));
  const wxString expected = wxString::FromUTF8("Ab1 \xc3\xa4\xd0\x96\n");
  EXPECT_TRUE(PumpUntil([&] { return s_text->GetValue() == expected; }, 30s))
      << "the text box holds \"" << s_text->GetValue().utf8_string() << "\"";
}

TEST_F(OwnWindowTest, HistoryGridWithTheFocusIsItsCellWindow) {
  ClickInto(s_grid->GetGridWindow(), s_grid);
  EXPECT_EQ(FocusHandle(), reinterpret_cast<HWND>(s_grid->GetGridWindow()));
  ClickInto(s_text, s_text);
  EXPECT_EQ(FocusHandle(), reinterpret_cast<HWND>(s_text));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) return 1;
  int result;
  {
    wxGUIEventLoop loop;
    wxEventLoopActivator active(&loop);
    result = RUN_ALL_TESTS();
  }
  wxTheApp->OnExit();
  wxEntryCleanup();
  return result;
}
