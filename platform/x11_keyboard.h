// Presses keys through the XTEST extension so that they give exactly the
// symbols asked for, whatever the keyboard layout and the lock state.
//
// A symbol found in the current layout group at the first level, or at the
// second level through Shift, is typed on its own key. Any other symbol is
// put on a spare keycode, one that the layout leaves empty. Clients
// translate keycodes with their own copy of the keymap, and that makes
// changing it delicate:
// - A client may fetch its copy only when it gets round to the key event,
//   so a spare keycode keeps its symbol until the client has surely done
//   so: it is emptied again, or given another symbol, only a settling time
//   after its last press.
// - A client that loads its copy while the keymap changes (Xlib does so on
//   the first key it translates) can miss the change. So the symbols of a
//   value are put on spare keycodes together before its first key is
//   pressed, and never sooner after our last key press than a client needs
//   to translate it.
//
// Locked and latched modifiers (Caps Lock, Num Lock, sticky keys) are taken
// off for a run of typing and put back afterwards: a key event carries the
// modifier state at its press, so each key is read with exactly the
// modifiers pressed for it.
//
// Everything here runs on one thread, the one that owns the connection.
#pragma once

#include <X11/Xlib.h>
#include <X11/XKBlib.h>

#include <chrono>
#include <vector>

namespace platform {

class X11Keyboard {
 public:
  using Clock = std::chrono::steady_clock;

  // How long a client may take to translate a key after it was pressed.
  static constexpr std::chrono::milliseconds kKeymapSettle{1000};
  // How long after our last key press the keymap is left alone.
  static constexpr std::chrono::milliseconds kKeymapQuiet{100};

  explicit X11Keyboard(Display* display);
  ~X11Keyboard();  // empties the spare keycodes, after their settling time
  X11Keyboard(const X11Keyboard&) = delete;
  X11Keyboard& operator=(const X11Keyboard&) = delete;

  // False when the server has no XTEST or XKB: nothing can be typed then.
  bool Usable() const { return m_usable; }

  // Readies a run of key presses: reads the keymap afresh and takes the lock
  // and latch modifiers off. False, with the modifiers as they were, when a
  // modifier key stays held down: keys typed now would turn into shortcuts.
  bool BeginRun();
  // Puts the lock and latch modifiers back as BeginRun found them.
  void EndRun();

  // Puts the symbols that the layout lacks on spare keycodes, as many as
  // there are spare keycodes free. Needs a run.
  void Prepare(const std::vector<KeySym>& symbols);

  // Presses and releases the key for a symbol, with Shift when its level
  // needs it, into `window`. Needs a run. Putting a symbol on a spare keycode
  // may first wait up to kKeymapSettle, so the focus is looked at right
  // before the press: false, with nothing pressed, when `window` no longer
  // has it, or when the symbol cannot be typed (no spare keycode in the
  // layout).
  bool Type(KeySym symbol, Window window);

  // Empties the spare keycodes whose settling time has passed. Returns when
  // the next one is due, or Clock::time_point::max() when none is in use.
  Clock::time_point ReleaseSettledSpares();

 private:
  struct KeyChoice {
    KeyCode keycode = 0;
    bool shift = false;
  };
  struct Spare {
    KeyCode keycode;
    KeySym symbol;            // NoSymbol while it is empty
    Clock::time_point used;   // its last press
  };

  bool FindInLayout(KeySym symbol, KeyChoice* choice) const;
  Spare* SpareWith(KeySym symbol);
  bool SpareFor(KeySym symbol, KeyCode* keycode);
  bool MapKeycode(KeyCode keycode, KeySym symbol);  // without the wait for quiet
  void FindSpares();
  bool HasFocus(Window window) const;
  void PressAndRelease(KeyCode keycode, bool shift);

  Display* m_display;
  bool m_usable = false;
  int m_symbolsPerKeycode = 0;
  XkbDescPtr m_keymap = nullptr;  // read at the start of each run
  unsigned m_group = 0;           // effective layout group during the run
  KeyCode m_shiftKey = 0;         // a key that sets Shift, 0 when there is none
  unsigned char m_savedLocks = 0;
  unsigned char m_savedLatches = 0;
  bool m_inRun = false;
  std::vector<Spare> m_spares;
  Clock::time_point m_lastPress;
};

}  // namespace platform
