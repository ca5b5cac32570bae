// Helpers for the keystroke, sound and shell tests: scratch folders, files
// written by other processes, helper programs started and stopped, and a
// connection of the test's own to the X server for setting the scene.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "keystrokes.h"

namespace testing_support {

using namespace std::chrono_literals;

// A fresh folder under $TMPDIR (or /tmp), removed with its files at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::string& path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

std::string ReadFile(const std::string& path);  // empty when it is missing
void WriteFile(const std::string& path, const std::string& content);

// Polls until the condition holds; false when the timeout passes first.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// A helper program, killed and reaped at the end.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  bool Running() const { return m_pid > 0; }

 private:
  pid_t m_pid = -1;
};

// The handle that GetGUIThreadInfo gives for another program's X window.
inline HWND HandleOf(Window window) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(window)); }

// The test's own connection.
class TestDisplay {
 public:
  TestDisplay();
  ~TestDisplay();
  Display* get() const { return m_display; }

  void Focus(Window window);
  // Locks exactly these modifiers (LockMask for Caps Lock, NumLockMask()).
  void SetLocks(unsigned mask);
  unsigned Locks();
  unsigned NumLockMask();
  // How many keycodes carry the symbol in the core keymap.
  int KeycodesWith(KeySym symbol);
  int EmptyKeycodes();

 private:
  Display* m_display;
};

// Posts a value and its terminating key, as the reader does.
void PostValue(HWND window, const std::u16string& value, int terminator);

}  // namespace testing_support
