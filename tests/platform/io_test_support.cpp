#include <gtest/gtest.h>

#include "io_test_support.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testing_support {

ScratchFolder::ScratchFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/morvelix-platform-XXXXXX";
  if (!mkdtemp(pattern.data())) ADD_FAILURE() << "no scratch folder at " << pattern;
  m_path = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0) m_pid = pid;
  else ADD_FAILURE() << "cannot start " << argv[0];
}

ChildProcess::~ChildProcess() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGTERM);
  int status;
  waitpid(m_pid, &status, 0);
}

TestDisplay::TestDisplay() : m_display(XOpenDisplay(nullptr)) {
  if (!m_display) ADD_FAILURE() << "no X display: run under xvfb-run";
}

TestDisplay::~TestDisplay() {
  if (!m_display) return;
  SetLocks(0);
  XCloseDisplay(m_display);
}

void TestDisplay::Focus(Window window) {
  XSetInputFocus(m_display, window, RevertToNone, CurrentTime);
  XSync(m_display, False);
}

void TestDisplay::SetLocks(unsigned mask) {
  XkbLockModifiers(m_display, XkbUseCoreKbd, 0xFF, mask);
  XSync(m_display, False);
}

unsigned TestDisplay::Locks() {
  XkbStateRec state;
  XkbGetState(m_display, XkbUseCoreKbd, &state);
  return state.locked_mods;
}

unsigned TestDisplay::NumLockMask() { return XkbKeysymToModifiers(m_display, XK_Num_Lock); }

int TestDisplay::KeycodesWith(KeySym symbol) {
  int minKeycode, maxKeycode, perKeycode;
  XDisplayKeycodes(m_display, &minKeycode, &maxKeycode);
  KeySym* map = XGetKeyboardMapping(m_display, static_cast<KeyCode>(minKeycode),
                                    maxKeycode - minKeycode + 1, &perKeycode);
  int count = 0;
  for (int k = 0; k <= maxKeycode - minKeycode; ++k) {
    for (int i = 0; i < perKeycode; ++i) {
      if (map[k * perKeycode + i] == symbol) {
        ++count;
        break;
      }
    }
  }
  XFree(map);
  return count;
}

int TestDisplay::EmptyKeycodes() {
  int minKeycode, maxKeycode, perKeycode;
  XDisplayKeycodes(m_display, &minKeycode, &maxKeycode);
  KeySym* map = XGetKeyboardMapping(m_display, static_cast<KeyCode>(minKeycode),
                                    maxKeycode - minKeycode + 1, &perKeycode);
  int count = 0;
  for (int k = 0; k <= maxKeycode - minKeycode; ++k) {
    bool empty = true;
    for (int i = 0; i < perKeycode; ++i) empty = empty && map[k * perKeycode + i] == NoSymbol;
    count += empty;
  }
  XFree(map);
  return count;
}

void PostValue(HWND window, const std::u16string& value, int terminator) {
  for (char16_t unit : value) ASSERT_TRUE(PostMessageW(window, WM_CHAR, unit, 0));
  ASSERT_TRUE(PostMessageW(window, WM_KEYDOWN, static_cast<WPARAM>(terminator), 0));
}

}  // namespace testing_support
