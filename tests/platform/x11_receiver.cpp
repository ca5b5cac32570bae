// A plain Xlib program that stands for another application receiving typed
// keys. It shows two windows, "target" and "other", gives the input focus
// to "target", and appends the text of every key press each window gets,
// as its input method translates it, to that window's file.
//
//   x11_receiver READY_FILE TARGET_TEXT_FILE OTHER_TEXT_FILE
//
// Once it has the focus it writes both window ids (decimal, one line) to
// READY_FILE. It runs until it is killed.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>

namespace {

struct Receiver {
  Window window;
  XIC context;
  FILE* text;
};

Window MakeWindow(Display* display, const char* name, int x) {
  const int screen = DefaultScreen(display);
  Window window = XCreateSimpleWindow(display, RootWindow(display, screen), x, 0, 200, 100, 0,
                                      BlackPixel(display, screen), WhitePixel(display, screen));
  XStoreName(display, window, name);
  const long pid = getpid();
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
  XSelectInput(display, window, KeyPressMask | FocusChangeMask | StructureNotifyMask);
  XMapWindow(display, window);
  return window;
}

void WaitForMap(Display* display, Window window) {
  XEvent event;
  do {
    XWindowEvent(display, window, StructureNotifyMask, &event);
  } while (event.type != MapNotify);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s READY_FILE TARGET_TEXT_FILE OTHER_TEXT_FILE\n", argv[0]);
    return 2;
  }
  if (!std::setlocale(LC_ALL, "C.UTF-8")) std::setlocale(LC_ALL, "");
  XSetLocaleModifiers("");
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 1;
  XIM method = XOpenIM(display, nullptr, nullptr, nullptr);

  Receiver receivers[2];
  const char* names[2] = {"target", "other"};
  for (int i = 0; i < 2; ++i) {
    Receiver& r = receivers[i];
    r.window = MakeWindow(display, names[i], 220 * i);
    WaitForMap(display, r.window);
    r.context = method ? XCreateIC(method, XNInputStyle, XIMPreeditNothing | XIMStatusNothing,
                                   XNClientWindow, r.window, XNFocusWindow, r.window, nullptr)
                       : nullptr;
    r.text = std::fopen(argv[2 + i], "ab");
    if (!r.text) return 1;
  }
  XSetInputFocus(display, receivers[0].window, RevertToParent, CurrentTime);
  XSync(display, False);

  const std::string ready = argv[1];
  const std::string partial = ready + ".part";
  FILE* file = std::fopen(partial.c_str(), "w");
  if (!file) return 1;
  std::fprintf(file, "%lu %lu\n", receivers[0].window, receivers[1].window);
  std::fclose(file);
  std::rename(partial.c_str(), ready.c_str());

  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (XFilterEvent(&event, None)) continue;
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      continue;
    }
    if (event.type != KeyPress) continue;
    for (Receiver& r : receivers) {
      if (event.xkey.window != r.window) continue;
      char bytes[64];
      KeySym symbol;
      int length;
      if (r.context) {
        Status status;
        length = Xutf8LookupString(r.context, &event.xkey, bytes, sizeof bytes, &symbol, &status);
        if (status != XLookupChars && status != XLookupBoth) length = 0;
      } else {
        length = XLookupString(&event.xkey, bytes, sizeof bytes, &symbol, nullptr);
      }
      if (length > 0) {
        std::fwrite(bytes, 1, static_cast<size_t>(length), r.text);
        std::fflush(r.text);
      }
    }
  }
}
