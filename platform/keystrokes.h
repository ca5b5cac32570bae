// Keystroke output of the keyboard wedge: the window that has the keyboard
// focus in the foreground application, and characters and a terminating key
// posted to it, in the shapes of the Windows calls the reader is written
// with.
//
// On X11 the focus window is the X input focus. The keys are typed through
// the XTEST extension, as if on the keyboard, because many programs ignore
// key events that another client sends them directly; GTK, Qt, terminals
// and browsers all take these. The typing itself runs on a worker thread of
// this layer (x11_typist.h): posting only queues and returns at once.
#pragma once

#include "win32_types.h"

constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_CHAR = 0x0102;

// The virtual-key codes that can end a typed value.
constexpr int VK_TAB = 0x09;
constexpr int VK_RETURN = 0x0D;

struct GUITHREADINFO {
  DWORD cbSize;  // set by the caller: sizeof(GUITHREADINFO), or 48 as in 32-bit Windows
  DWORD flags;
  HWND hwndActive;
  HWND hwndFocus;  // the window with the keyboard focus; null when there is none
  HWND hwndCapture;
  HWND hwndMenuOwner;
  HWND hwndMoveSize;
  HWND hwndCaret;
  RECT rcCaret;
};

// Finds the focus window of the foreground application. Only the foreground
// (thread id 0) can be asked, and only hwndFocus is filled in; every other
// field is cleared. FALSE when there is no X display or the arguments are
// wrong. No focus (the X focus is None, PointerRoot or the root window)
// gives TRUE with a null hwndFocus.
//
// A window of this process is told apart by the _NET_WM_PID of its
// top-level window. For it the X window says too little, since toolkit
// widgets (GTK) have no X windows of their own: the handle then comes from
// the query set with SetOwnFocusQuery, which asks the toolkit which of its
// windows has the focus.
BOOL GetGUIThreadInfo(DWORD idThread, GUITHREADINFO* gui);

// Sets the function that tells which of this program's own windows has the
// focus, as a handle the program can compare with its own windows' handles
// (the toolkit's focus window, say); null clears it. It is called on the
// thread that calls GetGUIThreadInfo. Without one, a window of this process
// is reported by its X window like any other. Note for wxGTK: while the
// user works in a wxGrid's cells, wxWindow::FindFocus() gives the grid
// itself, not its cell window (GetGridWindow).
using OwnFocusQuery = HWND (*)();
void SetOwnFocusQuery(OwnFocusQuery query);

// Queues a message for typing into a window that GetGUIThreadInfo reported
// (the last few reports are remembered) and returns at once; FALSE for any
// other handle and any other message.
//
// WM_CHAR: wParam is one UTF-16 unit; the two units of a surrogate pair,
// posted one after the other, are typed as one character. Control characters
// (U+0000 to U+001F, U+007F to U+009F) are not typed: in the target they
// would act as editing or shortcut keys (Backspace, Tab, Enter, Ctrl+letter)
// or as terminal control sequences.
// WM_KEYDOWN: wParam is the virtual-key code that ends the value: VK_RETURN
// types Return, VK_TAB types Tab, any other code (0 for none) types nothing.
//
// A value is the run of characters up to its WM_KEYDOWN. The keys land in
// whatever window has the X input focus, so right before each key it
// presses (after any wait for the keymap) the worker checks that the focus
// is still on the window the message was posted to; when it has moved, the
// rest of the value and its terminating key are dropped. lParam is not used.
BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
