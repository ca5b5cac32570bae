#include "x11_typist.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <memory>

#include "x11_display.h"
#include "x11_keyboard.h"

namespace platform {
namespace {

using Clock = X11Keyboard::Clock;

// A run of typing (locks off) stays open this long for more characters, so
// that a value posted unit by unit does not switch Caps Lock off and on
// between its characters.
constexpr std::chrono::milliseconds kRunLinger{50};

// C0 controls, DEL and C1 controls. Typed, they would be editing keys or
// shortcuts (Backspace, Tab, Return, Ctrl+letter) or, in a terminal,
// control sequences; they are left out of the typed text.
bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// The key symbol of a character: Latin-1 characters have keysyms equal to
// their code points, every other character has its Unicode keysym.
KeySym SymbolFor(char32_t c) {
  if (c <= 0xFF) return c;
  return 0x01000000 | c;
}

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

// The worker's side: what it knows of the value being typed.
class Typing {
 public:
  explicit Typing(Display* display) : m_display(display), m_keyboard(display) {}

  bool Usable() const { return m_keyboard.Usable(); }
  bool InRun() const { return m_inRun; }

  void Handle(const XTypist::Message& message) {
    if (message.window != m_window) {
      m_window = message.window;
      m_dropping = false;
      m_highSurrogate = 0;
    }
    if (message.kind == XTypist::Kind::kKey) {
      const bool dropping = m_dropping;
      m_dropping = false;
      m_highSurrogate = 0;
      const KeySym key = message.code == XTypist::kReturn ? XK_Return
                         : message.code == XTypist::kTab  ? XK_Tab
                                                          : NoSymbol;
      if (!dropping && key != NoSymbol) TypeIntoWindow(key);
      return;
    }
    if (m_dropping) return;
    const uint32_t unit = message.code;
    char32_t c = unit;
    if (unit > 0xFFFF) return;  // not a UTF-16 unit
    if (IsHighSurrogate(unit)) {
      m_highSurrogate = unit;
      return;
    }
    if (IsLowSurrogate(unit)) {
      if (!m_highSurrogate) return;  // half a character: nothing to type
      c = 0x10000 + ((m_highSurrogate - 0xD800) << 10) + (unit - 0xDC00);
    }
    m_highSurrogate = 0;
    if (IsControl(c)) return;
    if (!TypeIntoWindow(SymbolFor(c))) m_dropping = true;
  }

  void EndRun() {
    m_keyboard.EndRun();
    m_inRun = false;
  }

  Clock::time_point ReleaseSettledSpares() { return m_keyboard.ReleaseSettledSpares(); }

 private:
  bool TypeIntoWindow(KeySym key) {
    if (!m_inRun) {
      if (!m_keyboard.BeginRun()) return false;
      m_inRun = true;
    }
    Window focus;
    int revertTo;
    XGetInputFocus(m_display, &focus, &revertTo);
    if (focus != m_window) return false;
    return m_keyboard.Type(key);
  }

  Display* m_display;
  X11Keyboard m_keyboard;
  bool m_inRun = false;
  unsigned long m_window = 0;  // the window of the value being typed
  bool m_dropping = false;     // the rest of the value is dropped
  uint32_t m_highSurrogate = 0;
};

}  // namespace

XTypist& XTypist::Shared() {
  static XTypist typist;
  return typist;
}

XTypist::XTypist() = default;

XTypist::~XTypist() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
    m_queue.clear();
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void XTypist::Post(const Message& message) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop) return;
    m_queue.push_back(message);
    if (!m_thread.joinable()) m_thread = std::thread(&XTypist::Run, this);
  }
  m_wake.notify_one();
}

bool XTypist::WaitUntilTyped(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_settled.wait_for(lock, timeout, [this] { return m_queue.empty() && !m_working; });
}

void XTypist::Run() {
  Display* display = OpenXDisplay();
  std::unique_ptr<Typing> typing;
  if (display) {
    typing = std::make_unique<Typing>(display);
    if (!typing->Usable()) typing.reset();
  }
  const auto ready = [this] { return m_stop || !m_queue.empty(); };
  Clock::time_point sparesDue = Clock::time_point::max();

  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    if (!ready()) {
      if (typing && typing->InRun()) {
        if (!m_wake.wait_for(lock, kRunLinger, ready)) {
          lock.unlock();
          typing->EndRun();
          sparesDue = typing->ReleaseSettledSpares();
          lock.lock();
          continue;
        }
      } else {
        m_working = false;
        m_settled.notify_all();
        if (sparesDue == Clock::time_point::max()) {
          m_wake.wait(lock, ready);
        } else if (!m_wake.wait_until(lock, sparesDue, ready)) {
          lock.unlock();
          sparesDue = typing->ReleaseSettledSpares();
          lock.lock();
          continue;
        }
      }
    }
    if (m_stop) break;
    const Message message = m_queue.front();
    m_queue.pop_front();
    m_working = true;
    lock.unlock();
    if (typing) typing->Handle(message);
    lock.lock();
  }
  m_working = false;
  m_settled.notify_all();
  lock.unlock();

  typing.reset();  // puts the locks back and empties the spare keycodes
  CloseXDisplay(display);
}

}  // namespace platform
