// Keystroke output under Xvfb: the focus as GetGUIThreadInfo reports it, and
// values posted with PostMessageW as other programs (a plain Xlib one and a
// GTK one) really receive them.
#include "keystrokes.h"

// GoogleTest before Xlib, whose macros (None, Bool) would clash with it.
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <sstream>
#include <thread>

#include "io_test_support.h"
#include "x11_keyboard.h"
#include "x11_typist.h"

namespace {

using namespace testing_support;

constexpr std::chrono::milliseconds kTypingTimeout = 30s;

bool WaitUntilTyped() { return platform::XTypist::Shared().WaitUntilTyped(kTypingTimeout); }

// Another program's two windows; "target" has the focus at the start.
class XReceiver {
 public:
  XReceiver()
      : m_process({X11_RECEIVER, m_folder.File("ready"), m_folder.File("target"),
                   m_folder.File("other")}) {
    const bool ready = WaitFor([&] { return !ReadFile(m_folder.File("ready")).empty(); }, 30s);
    if (!ready) {
      ADD_FAILURE() << "the receiver did not start";
      return;
    }
    std::istringstream ids(ReadFile(m_folder.File("ready")));
    ids >> target >> other;
  }
  std::string TargetText() const { return ReadFile(m_folder.File("target")); }
  std::string OtherText() const { return ReadFile(m_folder.File("other")); }

  Window target = None;
  Window other = None;

 private:
  ScratchFolder m_folder;
  ChildProcess m_process;
};

HWND FocusHandle() {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  EXPECT_TRUE(GetGUIThreadInfo(0, &info));
  return info.hwndFocus;
}

// Waits until a text has grown to the expected one, then a little longer to
// see that nothing else follows.
void ExpectText(const std::function<std::string()>& read, const std::string& expected) {
  WaitFor([&] { return read().size() >= expected.size(); }, 30s);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(read(), expected);
}

struct TypedValue {
  const char* what;
  std::u16string value;
  int terminator;
  std::string received;  // UTF-8, as the receiver's input method gives it
};

const std::vector<TypedValue>& TypedValues() {
  static const std::vector<TypedValue> values = {
      {"letters, blank, comma, Return", u"Hello, World", VK_RETURN, "Hello, World\r"},
      {"digits, Tab", u"0123456789", VK_TAB, "0123456789\t"},
      {"punctuation, no terminator", u"!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~", 0,
       "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~"},
      {"Latin-1 the layout lacks", u"Gr\u00fc\u00dfe \u00c9t\u00e9 \u00ff", VK_RETURN,
       "Gr\xc3\xbc\xc3\x9f" "e \xc3\x89t\xc3\xa9 \xc3\xbf\r"},
      {"beyond Latin-1, a surrogate pair", u"\u0416\u20ac \U0001F600", VK_RETURN,
       "\xd0\x96\xe2\x82\xac \xf0\x9f\x98\x80\r"},
      {"control characters left out", u"A\tB\rC\x01" u"D\x7f\u0085E", VK_RETURN, "ABCDE\r"},
  };
  return values;
}

// Lock states the values are typed under: none, Caps Lock, Caps and Num Lock.
enum class Locks { kNone, kCaps, kCapsAndNum };

class TypingUnderLocks : public ::testing::TestWithParam<Locks> {};

TEST_P(TypingUnderLocks, ReceiverGetsExactlyTheValueAndItsTerminator) {
  XReceiver receiver;
  TestDisplay display;
  ASSERT_NE(receiver.target, None);
  unsigned locks = 0;
  if (GetParam() != Locks::kNone) locks |= LockMask;
  if (GetParam() == Locks::kCapsAndNum) locks |= display.NumLockMask();
  display.SetLocks(locks);

  const HWND target = FocusHandle();
  ASSERT_EQ(target, HandleOf(receiver.target));
  std::string expected;
  for (const TypedValue& v : TypedValues()) {
    SCOPED_TRACE(v.what);
    PostValue(target, v.value, v.terminator);
    ASSERT_TRUE(WaitUntilTyped());
    expected += v.received;
    ExpectText([&] { return receiver.TargetText(); }, expected);
    EXPECT_EQ(display.Locks(), locks) << "lock state not put back";
  }
  EXPECT_EQ(receiver.OtherText(), "");
}

INSTANTIATE_TEST_SUITE_P(Keystrokes, TypingUnderLocks,
                         ::testing::Values(Locks::kNone, Locks::kCaps, Locks::kCapsAndNum),
                         [](const ::testing::TestParamInfo<Locks>& info) {
                           switch (info.param) {
                             case Locks::kNone: return "NoLocks";
                             case Locks::kCaps: return "CapsLock";
                             default: return "CapsAndNumLock";
                           }
                         });

TEST(Keystrokes, FocusIsTheWindowThatHasTheXInputFocus) {
  XReceiver receiver;
  TestDisplay display;
  ASSERT_NE(receiver.target, None);
  EXPECT_EQ(FocusHandle(), HandleOf(receiver.target));
  display.Focus(receiver.other);
  EXPECT_EQ(FocusHandle(), HandleOf(receiver.other));

  // No focus in any of its X forms.
  const Window noFocus[] = {None, PointerRoot, DefaultRootWindow(display.get())};
  for (Window w : noFocus) {
    display.Focus(w);
    GUITHREADINFO info{};
    info.cbSize = 48;  // the 32-bit size is taken too
    info.hwndFocus = HandleOf(receiver.target);
    EXPECT_TRUE(GetGUIThreadInfo(0, &info)) << "focus " << w;
    EXPECT_EQ(info.hwndFocus, nullptr) << "focus " << w;
  }
}

TEST(Keystrokes, BadRequestsAreRefused) {
  XReceiver receiver;
  ASSERT_NE(receiver.target, None);
  GUITHREADINFO info{};
  info.cbSize = 12;
  EXPECT_FALSE(GetGUIThreadInfo(0, &info));
  info.cbSize = sizeof info;
  EXPECT_FALSE(GetGUIThreadInfo(1234, &info));
  EXPECT_FALSE(GetGUIThreadInfo(0, nullptr));

  const HWND target = FocusHandle();
  ASSERT_NE(target, nullptr);
  EXPECT_FALSE(PostMessageW(nullptr, WM_CHAR, 'a', 0));
  int unknown = 0;
  EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(&unknown), WM_CHAR, 'a', 0)) << "never reported";
  EXPECT_FALSE(PostMessageW(target, 0x0101 /* WM_KEYUP */, VK_RETURN, 0));
  EXPECT_TRUE(PostMessageW(target, WM_CHAR, 'a', 0));
  EXPECT_TRUE(PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0));
  ASSERT_TRUE(WaitUntilTyped());
  ExpectText([&] { return receiver.TargetText(); }, "a\r");
}

TEST(Keystrokes, FocusMovingAwayDropsTheRestOfTheValue) {
  XReceiver receiver;
  TestDisplay display;
  ASSERT_NE(receiver.target, None);
  const HWND target = FocusHandle();
  ASSERT_EQ(target, HandleOf(receiver.target));

  for (char16_t c : std::u16string(u"abc")) ASSERT_TRUE(PostMessageW(target, WM_CHAR, c, 0));
  ASSERT_TRUE(WaitUntilTyped());
  ExpectText([&] { return receiver.TargetText(); }, "abc");

  // The server is held while the rest of the value is posted and the focus
  // moves, so the typist finds the focus moved before its next key.
  XGrabServer(display.get());
  XSync(display.get(), False);
  PostValue(target, u"def", VK_RETURN);
  display.Focus(receiver.other);
  XUngrabServer(display.get());
  XSync(display.get(), False);
  ASSERT_TRUE(WaitUntilTyped());
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(receiver.TargetText(), "abc");
  EXPECT_EQ(receiver.OtherText(), "");

  // The next value goes to the window that has the focus now.
  const HWND other = FocusHandle();
  ASSERT_EQ(other, HandleOf(receiver.other));
  PostValue(other, u"xyz", VK_RETURN);
  ASSERT_TRUE(WaitUntilTyped());
  ExpectText([&] { return receiver.OtherText(); }, "xyz\r");
  EXPECT_EQ(receiver.TargetText(), "abc");

  // A value for a window that lost the focus before typing began.
  display.Focus(None);
  PostValue(other, u"lost", VK_RETURN);
  ASSERT_TRUE(WaitUntilTyped());
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(receiver.OtherText(), "xyz\r");
  EXPECT_EQ(receiver.TargetText(), "abc");
}

TEST(Keystrokes, HeldModifierKeyStopsTheValueInsteadOfMakingShortcuts) {
  XReceiver receiver;
  TestDisplay display;
  ASSERT_NE(receiver.target, None);
  const HWND target = FocusHandle();
  ASSERT_EQ(target, HandleOf(receiver.target));

  const KeyCode control = XKeysymToKeycode(display.get(), XK_Control_L);
  XTestFakeKeyEvent(display.get(), control, True, CurrentTime);
  XSync(display.get(), False);
  PostValue(target, u"abc", VK_RETURN);
  ASSERT_TRUE(WaitUntilTyped());
  XTestFakeKeyEvent(display.get(), control, False, CurrentTime);
  XSync(display.get(), False);

  PostValue(target, u"ok", VK_RETURN);
  ASSERT_TRUE(WaitUntilTyped());
  ExpectText([&] { return receiver.TargetText(); }, "ok\r");
}

TEST(Keystrokes, SpareKeycodeIsGivenBackAfterItSettled) {
  XReceiver receiver;
  TestDisplay display;
  ASSERT_NE(receiver.target, None);
  const KeySym zhe = 0x01000416;
  const int emptyBefore = display.EmptyKeycodes();
  ASSERT_GT(emptyBefore, 0);
  ASSERT_EQ(display.KeycodesWith(zhe), 0);

  PostValue(FocusHandle(), u"\u0416\u0416", VK_RETURN);
  ASSERT_TRUE(WaitUntilTyped());
  ExpectText([&] { return receiver.TargetText(); }, "\xd0\x96\xd0\x96\r");
  // Still there right after: the receiver may not have read its keymap yet.
  EXPECT_EQ(display.KeycodesWith(zhe), 1);
  EXPECT_TRUE(WaitFor([&] { return display.KeycodesWith(zhe) == 0; }, 30s));
  EXPECT_EQ(display.EmptyKeycodes(), emptyBefore);
}

TEST(Keystrokes, MoreMissingCharactersThanSpareKeycodes) {
  XReceiver receiver;
  TestDisplay display;
  ASSERT_NE(receiver.target, None);
  // The Cyrillic capitals A to YU: more than the layout has empty keycodes,
  // so spare keycodes are taken again within the value.
  std::u16string value;
  std::string expected;
  for (char16_t c = 0x0410; c <= 0x042E; ++c) {
    value += c;
    expected += static_cast<char>(0xC0 | (c >> 6));
    expected += static_cast<char>(0x80 | (c & 0x3F));
  }
  ASSERT_GT(value.size(), static_cast<size_t>(display.EmptyKeycodes()));
  // Spare keycodes that earlier values took are free again by then.
  std::this_thread::sleep_for(platform::X11Keyboard::kKeymapSettle + 300ms);
  PostValue(FocusHandle(), value, VK_RETURN);
  ASSERT_TRUE(WaitUntilTyped());
  ExpectText([&] { return receiver.TargetText(); }, expected + "\r");
}

// A character that needs a spare keycode while none is free waits about a
// second for one to settle; the focus may move meanwhile.
TEST(Keystrokes, FocusMovingDuringTheKeymapWaitTypesNothingThere) {
  XReceiver receiver;
  TestDisplay display;
  ASSERT_NE(receiver.target, None);
  const HWND target = FocusHandle();
  ASSERT_EQ(target, HandleOf(receiver.target));
  // More Cyrillic characters than the keymap has keycodes.
  std::u16string value;
  for (char16_t c = 0x0400; c <= 0x04FF; ++c) value += c;
  ASSERT_GT(value.size(), static_cast<size_t>(display.EmptyKeycodes()));
  // Spare keycodes that earlier values took are free again by then.
  std::this_thread::sleep_for(platform::X11Keyboard::kKeymapSettle + 300ms);
  PostValue(target, value, VK_RETURN);

  // The letters that had a spare keycode arrive at once; then typing waits.
  std::string before;
  auto since = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitFor([&] {
    const std::string now = receiver.TargetText();
    if (now != before) since = std::chrono::steady_clock::now();
    before = now;
    return !now.empty() && std::chrono::steady_clock::now() - since > 200ms;
  }, 30s)) << "nothing was typed";
  display.Focus(receiver.other);
  ASSERT_TRUE(WaitUntilTyped());
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(receiver.OtherText(), "");
  const std::string typed = receiver.TargetText();
  EXPECT_LT(typed.size(), value.size() * 2) << "the whole value went out before the wait";
  EXPECT_EQ(typed, before) << "typed on after the focus had moved";
}

// A window of this process: the program's own query answers for it.
HWND g_ownFocus = nullptr;
int g_ownFocusCalls = 0;
HWND OwnFocus() {
  ++g_ownFocusCalls;
  return g_ownFocus;
}

TEST(Keystrokes, OwnWindowIsReportedThroughTheProgramsFocusQuery) {
  XReceiver receiver;
  TestDisplay display;
  ASSERT_NE(receiver.target, None);
  Display* d = display.get();
  const int screen = DefaultScreen(d);
  const Window top = XCreateSimpleWindow(d, RootWindow(d, screen), 0, 200, 100, 100, 0, 0, 0);
  const long pid = getpid();
  XChangeProperty(d, top, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  // The focus sits on a child, as toolkits do it.
  const Window child = XCreateSimpleWindow(d, top, 0, 0, 50, 50, 0, 0, 0);
  XSelectInput(d, child, KeyPressMask);
  XMapWindow(d, child);
  XMapWindow(d, top);
  XSync(d, False);
  WaitFor([&] {
    XWindowAttributes a;
    return XGetWindowAttributes(d, child, &a) && a.map_state == IsViewable;
  }, 30s);
  display.Focus(child);

  EXPECT_EQ(FocusHandle(), HandleOf(child)) << "without a query it is a window like any other";

  int widget = 0;  // stands for the toolkit's focus window
  g_ownFocus = reinterpret_cast<HWND>(&widget);
  SetOwnFocusQuery(&OwnFocus);
  const HWND own = FocusHandle();
  EXPECT_EQ(own, g_ownFocus);
  EXPECT_EQ(g_ownFocusCalls, 1);

  PostValue(own, u"Ok 1", VK_RETURN);
  ASSERT_TRUE(WaitUntilTyped());
  std::string typed;
  WaitFor([&] {
    while (XPending(d)) {
      XEvent event;
      XNextEvent(d, &event);
      if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
      if (event.type != KeyPress) continue;
      char bytes[8];
      const int n = XLookupString(&event.xkey, bytes, sizeof bytes, nullptr, nullptr);
      typed.append(bytes, static_cast<size_t>(n > 0 ? n : 0));
    }
    return typed.size() >= 5;
  }, 30s);
  EXPECT_EQ(typed, "Ok 1\r");

  g_ownFocus = nullptr;
  EXPECT_EQ(FocusHandle(), nullptr) << "the program says none of its windows has the focus";

  display.Focus(receiver.target);
  EXPECT_EQ(FocusHandle(), HandleOf(receiver.target));
  EXPECT_EQ(g_ownFocusCalls, 2) << "asked about another program's window";
  SetOwnFocusQuery(nullptr);
  EXPECT_EQ(receiver.TargetText(), "");
}

TEST(Keystrokes, GtkProgramReceivesTheValue) {
  ScratchFolder folder;
  ChildProcess gtk({GTK_RECEIVER, folder.File("ready"), folder.File("text")});
  ASSERT_TRUE(WaitFor([&] { return !ReadFile(folder.File("ready")).empty(); }, 30s))
      << "the GTK receiver did not get the focus";
  TestDisplay display;
  display.SetLocks(LockMask);

  const HWND target = FocusHandle();
  ASSERT_NE(target, nullptr);
  PostValue(target, u"Gr\u00fc\u00dfe, W\u00f6rld! 0123 \u0416\u20ac", VK_RETURN);
  PostValue(target, u"Tab", VK_TAB);
  ASSERT_TRUE(WaitUntilTyped());
  // The text box takes Tab as moving the focus, not as text.
  ExpectText([&] { return ReadFile(folder.File("text")); },
             "Gr\xc3\xbc\xc3\x9f" "e, W\xc3\xb6rld! 0123 \xd0\x96\xe2\x82\xac\nTab");
  EXPECT_EQ(display.Locks(), static_cast<unsigned>(LockMask));
}

}  // namespace
