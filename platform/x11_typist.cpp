#include "x11_typist.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <memory>
#include <vector>

#include "x11_display.h"
#include "x11_keyboard.h"

namespace platform {
namespace {

using Clock = X11Keyboard::Clock;

// The longest pause between two messages of one value while it is posted.
constexpr std::chrono::milliseconds kValueGap{50};

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
  explicit Typing(Display* display) : m_keyboard(display) {}

  bool Usable() const { return m_keyboard.Usable(); }

  // Types a batch of messages in one run of the keyboard.
  void Handle(const std::vector<XTypist::Message>& batch) {
    if (!m_keyboard.BeginRun()) {
      // Nothing of it can be typed now (a modifier key is held).
      for (const XTypist::Message& message : batch) Drop(message);
      return;
    }
    std::vector<KeySym> symbols;
    uint32_t high = m_highSurrogate;
    for (const XTypist::Message& message : batch) {
      char32_t c;
      if (message.kind == XTypist::Kind::kCharacter && Character(message.code, &high, &c)) {
        symbols.push_back(SymbolFor(c));
      }
    }
    m_keyboard.Prepare(symbols);
    for (const XTypist::Message& message : batch) Type(message);
    m_keyboard.EndRun();
  }

  Clock::time_point ReleaseSettledSpares() { return m_keyboard.ReleaseSettledSpares(); }

 private:
  // Takes a UTF-16 unit; true with a character to type. A high surrogate is
  // kept in `high` for the low one that follows it.
  static bool Character(uint32_t unit, uint32_t* high, char32_t* c) {
    const uint32_t pending = *high;
    *high = 0;
    if (unit > 0xFFFF) return false;  // not a UTF-16 unit
    if (IsHighSurrogate(unit)) {
      *high = unit;
      return false;
    }
    if (IsLowSurrogate(unit)) {
      if (!pending) return false;  // half a character: nothing to type
      *c = 0x10000 + ((pending - 0xD800) << 10) + (unit - 0xDC00);
    } else {
      *c = unit;
    }
    return !IsControl(*c);
  }

  // A new window starts a new value.
  void Follow(const XTypist::Message& message) {
    if (message.window == m_window) return;
    m_window = message.window;
    m_dropping = false;
    m_highSurrogate = 0;
  }

  void Drop(const XTypist::Message& message) {
    Follow(message);
    m_dropping = message.kind == XTypist::Kind::kCharacter;
    m_highSurrogate = 0;
  }

  void Type(const XTypist::Message& message) {
    Follow(message);
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
    char32_t c;
    if (!Character(message.code, &m_highSurrogate, &c)) return;
    if (!TypeIntoWindow(SymbolFor(c))) m_dropping = true;
  }

  bool TypeIntoWindow(KeySym key) { return m_keyboard.Type(key, m_window); }

  X11Keyboard m_keyboard;
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
  std::vector<Message> batch;

  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    if (!ready()) {
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
    if (m_stop) break;
    m_working = true;
    // A value is posted unit by unit: let it come in whole, up to its
    // terminating key, so that its characters are looked at together.
    for (;;) {
      if (m_stop || m_queue.back().kind == Kind::kKey) break;
      const size_t queued = m_queue.size();
      if (!m_wake.wait_for(lock, kValueGap, [&] { return m_stop || m_queue.size() != queued; })) {
        break;
      }
    }
    if (m_stop) break;
    batch.assign(m_queue.begin(), m_queue.end());
    m_queue.clear();
    lock.unlock();
    if (typing) {
      typing->Handle(batch);
      sparesDue = typing->ReleaseSettledSpares();
    }
    lock.lock();
  }
  m_working = false;
  m_settled.notify_all();
  lock.unlock();

  typing.reset();  // empties the spare keycodes
  CloseXDisplay(display);
}

}  // namespace platform
