#include "keystrokes.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>

#include "x11_display.h"
#include "x11_typist.h"

namespace {

// GUITHREADINFO's size in 32-bit Windows, which callers may pass as well.
constexpr DWORD kGuiThreadInfoSize32 = 48;
// How many of GetGUIThreadInfo's answers PostMessageW can deliver to.
constexpr size_t kRememberedWindows = 16;
// How far up from the focus window the search for a top-level window goes.
constexpr int kMaxWindowDepth = 64;

struct Reported {
  HWND handle;
  Window window;  // the X input focus at the time of the report
};

// The connection for looking at the focus, and the windows reported.
class FocusState {
 public:
  ~FocusState() { platform::CloseXDisplay(m_display); }

  // With the lock held. Tries again on each call until there is a server.
  Display* Connection() {
    if (!m_display) m_display = platform::OpenXDisplay();
    return m_display;
  }

  void Remember(HWND handle, Window window) {
    for (auto it = m_reported.begin(); it != m_reported.end(); ++it) {
      if (it->handle == handle) {
        m_reported.erase(it);
        break;
      }
    }
    m_reported.push_front({handle, window});
    if (m_reported.size() > kRememberedWindows) m_reported.pop_back();
  }

  Window WindowOf(HWND handle) const {
    for (const Reported& r : m_reported) {
      if (r.handle == handle) return r.window;
    }
    return None;
  }

  std::mutex mutex;

 private:
  Display* m_display = nullptr;
  std::deque<Reported> m_reported;  // newest first
};

FocusState g_focus;
std::atomic<OwnFocusQuery> g_ownFocusQuery{nullptr};

bool IsRootWindow(Display* display, Window window) {
  for (int screen = 0; screen < ScreenCount(display); ++screen) {
    if (RootWindow(display, screen) == window) return true;
  }
  return false;
}

// Walks up from the window to the first one that names its process in
// _NET_WM_PID (the client's top-level window) and compares that with ours.
bool BelongsToThisProcess(Display* display, Window window) {
  const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
  for (int depth = 0; depth < kMaxWindowDepth; ++depth) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &remaining, &data) != Success) {
      return false;  // the window is gone
    }
    if (data) {
      // Format-32 properties come as an array of long.
      const bool found = type == XA_CARDINAL && format == 32 && count == 1;
      const long pid = found ? *reinterpret_cast<const long*>(data) : 0;
      XFree(data);
      if (found) return pid == static_cast<long>(getpid());
    }
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned int childCount = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &childCount)) return false;
    if (children) XFree(children);
    if (parent == None || parent == root) return false;
    window = parent;
  }
  return false;
}

}  // namespace

BOOL GetGUIThreadInfo(DWORD idThread, GUITHREADINFO* gui) {
  if (idThread != 0 || !gui) return FALSE;
  if (gui->cbSize != sizeof(GUITHREADINFO) && gui->cbSize != kGuiThreadInfoSize32) return FALSE;
  const DWORD size = gui->cbSize;
  *gui = GUITHREADINFO{};
  gui->cbSize = size;

  const OwnFocusQuery ownFocus = g_ownFocusQuery.load();
  Window focus = None;
  bool own = false;
  {
    std::lock_guard<std::mutex> lock(g_focus.mutex);
    Display* display = g_focus.Connection();
    if (!display) return FALSE;
    int revertTo;
    XGetInputFocus(display, &focus, &revertTo);
    if (focus == None || focus == PointerRoot || IsRootWindow(display, focus)) return TRUE;
    own = ownFocus && BelongsToThisProcess(display, focus);
    platform::SyncAndTakeXError(display);
  }
  // The query runs without the lock: it is the program's own code.
  const HWND handle = own ? ownFocus() : reinterpret_cast<HWND>(static_cast<uintptr_t>(focus));
  if (!handle) return TRUE;
  {
    std::lock_guard<std::mutex> lock(g_focus.mutex);
    g_focus.Remember(handle, focus);
  }
  gui->hwndFocus = handle;
  return TRUE;
}

void SetOwnFocusQuery(OwnFocusQuery query) { g_ownFocusQuery.store(query); }

BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM /*lParam*/) {
  using platform::XTypist;
  if (Msg != WM_CHAR && Msg != WM_KEYDOWN) return FALSE;
  Window window;
  {
    std::lock_guard<std::mutex> lock(g_focus.mutex);
    window = g_focus.WindowOf(hWnd);
  }
  if (window == None) return FALSE;
  // Anything wider than a UTF-16 unit or a key code stays out of range
  // rather than wrapping round to a character.
  const uint32_t code = wParam > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(wParam);
  XTypist::Shared().Post(
      {window, Msg == WM_CHAR ? XTypist::Kind::kCharacter : XTypist::Kind::kKey, code});
  return TRUE;
}
