#include "x11_display.h"

#include <atomic>
#include <mutex>

namespace platform {
namespace {

// Our connections and the first error seen on each. A handful is plenty: the
// layer keeps one for looking at the focus and one for typing.
constexpr int kMaxDisplays = 8;
std::atomic<Display*> g_displays[kMaxDisplays];
std::atomic<int> g_errors[kMaxDisplays];

XErrorHandler g_previousHandler = nullptr;

int Slot(Display* display) {
  for (int i = 0; i < kMaxDisplays; ++i) {
    if (g_displays[i].load() == display) return i;
  }
  return -1;
}

int OnXError(Display* display, XErrorEvent* error) {
  const int slot = Slot(display);
  if (slot < 0) return g_previousHandler ? g_previousHandler(display, error) : 0;
  int none = 0;
  g_errors[slot].compare_exchange_strong(none, error->error_code);
  return 0;
}

}  // namespace

Display* OpenXDisplay() {
  static std::once_flag installed;
  std::call_once(installed, [] { g_previousHandler = XSetErrorHandler(OnXError); });

  Display* display = XOpenDisplay(nullptr);
  if (!display) return nullptr;
  for (int i = 0; i < kMaxDisplays; ++i) {
    Display* empty = nullptr;
    if (g_displays[i].compare_exchange_strong(empty, display)) {
      g_errors[i].store(0);
      return display;
    }
  }
  // Without a slot its errors could end the process: do without it.
  XCloseDisplay(display);
  return nullptr;
}

void CloseXDisplay(Display* display) {
  if (!display) return;
  const int slot = Slot(display);
  XCloseDisplay(display);
  if (slot >= 0) g_displays[slot].store(nullptr);
}

int SyncAndTakeXError(Display* display) {
  XSync(display, False);
  const int slot = Slot(display);
  return slot < 0 ? 0 : g_errors[slot].exchange(0);
}

}  // namespace platform
