#include "x11_keyboard.h"

#include <X11/extensions/XTest.h>

#include <algorithm>
#include <thread>

#include "x11_display.h"

namespace platform {
namespace {

// A modifier key that the user holds (Ctrl, Alt, Shift) would turn our keys
// into shortcuts; give the user this long to let go before giving up.
constexpr std::chrono::milliseconds kHeldModifierWait{1000};
constexpr std::chrono::milliseconds kHeldModifierPoll{10};

// The shift level that a key of this type gives with these modifiers.
unsigned LevelFor(const XkbKeyTypeRec& type, unsigned modifiers) {
  const unsigned relevant = modifiers & type.mods.mask;
  for (int i = 0; i < type.map_count; ++i) {
    const XkbKTMapEntryRec& entry = type.map[i];
    if (entry.active && entry.mods.mask == relevant) return entry.level;
  }
  return 0;
}

// The group of a key that a layout group selects, by the key's own rule for
// groups beyond those it has.
unsigned KeyGroup(XkbDescPtr keymap, KeyCode keycode, unsigned group) {
  const unsigned groups = XkbKeyNumGroups(keymap, keycode);
  if (group < groups) return group;
  const unsigned info = XkbKeyGroupInfo(keymap, keycode);
  switch (XkbOutOfRangeGroupAction(info)) {
    case XkbClampIntoRange:
      return groups - 1;
    case XkbRedirectIntoRange: {
      const unsigned target = XkbOutOfRangeGroupNumber(info);
      return target < groups ? target : 0;
    }
    default:
      return group % groups;
  }
}

bool HasNoSymbols(XkbDescPtr keymap, KeyCode keycode) {
  const int count = XkbKeyNumSyms(keymap, keycode);
  const KeySym* symbols = XkbKeySymsPtr(keymap, keycode);
  return std::all_of(symbols, symbols + count, [](KeySym s) { return s == NoSymbol; });
}

}  // namespace

X11Keyboard::X11Keyboard(Display* display) : m_display(display) {
  int event, error, major = 1, minor = 0;
  if (!XTestQueryExtension(display, &event, &error, &major, &minor)) return;
  int opcode;
  major = XkbMajorVersion;
  minor = XkbMinorVersion;
  if (!XkbQueryExtension(display, &opcode, &event, &error, &major, &minor)) return;
  int minKeycode, maxKeycode;
  XDisplayKeycodes(display, &minKeycode, &maxKeycode);
  KeySym* symbols = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode), 1,
                                        &m_symbolsPerKeycode);
  if (symbols) XFree(symbols);
  m_usable = m_symbolsPerKeycode > 0;
}

X11Keyboard::~X11Keyboard() {
  if (m_inRun) EndRun();
  Clock::time_point due = ReleaseSettledSpares();
  if (due != Clock::time_point::max()) {
    std::this_thread::sleep_until(due);
    ReleaseSettledSpares();
  }
  if (m_keymap) XkbFreeKeyboard(m_keymap, XkbAllComponentsMask, True);
}

bool X11Keyboard::BeginRun() {
  if (!m_usable || m_inRun) return m_inRun;
  if (m_keymap) XkbFreeKeyboard(m_keymap, XkbAllComponentsMask, True);
  m_keymap = XkbGetMap(m_display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask,
                       XkbUseCoreKbd);
  if (!m_keymap) return false;

  m_shiftKey = 0;
  for (int k = m_keymap->min_key_code; k <= m_keymap->max_key_code; ++k) {
    if (m_keymap->map->modmap[k] & ShiftMask) {
      m_shiftKey = static_cast<KeyCode>(k);
      break;
    }
  }
  FindSpares();

  XkbStateRec state;
  if (XkbGetState(m_display, XkbUseCoreKbd, &state) != Success) return false;
  m_savedLocks = state.locked_mods;
  m_savedLatches = state.latched_mods;
  if (m_savedLocks) XkbLockModifiers(m_display, XkbUseCoreKbd, m_savedLocks, 0);
  if (m_savedLatches) XkbLatchModifiers(m_display, XkbUseCoreKbd, m_savedLatches, 0);
  m_inRun = true;

  const Clock::time_point deadline = Clock::now() + kHeldModifierWait;
  for (;;) {
    if (XkbGetState(m_display, XkbUseCoreKbd, &state) != Success) break;
    if (state.mods == 0) {
      m_group = state.group;
      return true;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(kHeldModifierPoll);
  }
  EndRun();
  return false;
}

void X11Keyboard::EndRun() {
  if (!m_inRun) return;
  m_inRun = false;
  if (m_savedLocks) XkbLockModifiers(m_display, XkbUseCoreKbd, m_savedLocks, m_savedLocks);
  if (m_savedLatches) XkbLatchModifiers(m_display, XkbUseCoreKbd, m_savedLatches, m_savedLatches);
  SyncAndTakeXError(m_display);
  // Nobody reads this connection's events (keymap notices, mostly): drop
  // them so that they do not pile up.
  while (XPending(m_display)) {
    XEvent event;
    XNextEvent(m_display, &event);
  }
}

void X11Keyboard::Prepare(const std::vector<KeySym>& symbols) {
  if (!m_inRun) return;
  bool waited = false;
  for (KeySym symbol : symbols) {
    KeyChoice choice;
    if (symbol == NoSymbol || SpareWith(symbol) || FindInLayout(symbol, &choice)) continue;
    const auto spare = std::find_if(m_spares.begin(), m_spares.end(),
                                    [](const Spare& s) { return s.symbol == NoSymbol; });
    if (spare == m_spares.end()) return;  // the rest waits for spares to settle
    if (!waited) {
      std::this_thread::sleep_until(m_lastPress + kKeymapQuiet);
      waited = true;
    }
    if (!MapKeycode(spare->keycode, symbol)) return;
    spare->symbol = symbol;
    spare->used = Clock::now();
  }
}

bool X11Keyboard::Type(KeySym symbol, Window window) {
  if (!m_inRun || symbol == NoSymbol) return false;
  KeyChoice choice;
  if (Spare* spare = SpareWith(symbol)) {
    choice.keycode = spare->keycode;
  } else if (!FindInLayout(symbol, &choice) && !SpareFor(symbol, &choice.keycode)) {
    return false;
  }
  if (!HasFocus(window)) return false;
  PressAndRelease(choice.keycode, choice.shift);
  if (Spare* spare = SpareWith(symbol)) spare->used = m_lastPress;
  return true;
}

bool X11Keyboard::HasFocus(Window window) const {
  Window focus;
  int revertTo;
  XGetInputFocus(m_display, &focus, &revertTo);
  return focus == window;
}

X11Keyboard::Spare* X11Keyboard::SpareWith(KeySym symbol) {
  for (Spare& spare : m_spares) {
    if (spare.symbol == symbol) return &spare;
  }
  return nullptr;
}

bool X11Keyboard::FindInLayout(KeySym symbol, KeyChoice* choice) const {
  bool shifted = false;
  for (int k = m_keymap->min_key_code; k <= m_keymap->max_key_code; ++k) {
    const KeyCode keycode = static_cast<KeyCode>(k);
    if (XkbKeyNumGroups(m_keymap, keycode) == 0 || m_keymap->map->modmap[k] != 0) continue;
    const bool spare = std::any_of(m_spares.begin(), m_spares.end(),
                                   [keycode](const Spare& s) { return s.keycode == keycode; });
    if (spare) continue;
    const unsigned group = KeyGroup(m_keymap, keycode, m_group);
    const XkbKeyTypeRec& type = *XkbKeyKeyType(m_keymap, keycode, group);
    const unsigned width = XkbKeyGroupWidth(m_keymap, keycode, group);
    const unsigned plain = LevelFor(type, 0);
    if (plain < width && XkbKeySymEntry(m_keymap, keycode, plain, group) == symbol) {
      *choice = {keycode, false};
      return true;
    }
    const unsigned withShift = LevelFor(type, ShiftMask);
    if (!shifted && m_shiftKey && withShift != plain && withShift < width &&
        XkbKeySymEntry(m_keymap, keycode, withShift, group) == symbol) {
      *choice = {keycode, true};
      shifted = true;
    }
  }
  return shifted;
}

void X11Keyboard::FindSpares() {
  // Keep the spares that hold a symbol of ours; the keymap just read shows
  // them with it.
  m_spares.erase(std::remove_if(m_spares.begin(), m_spares.end(),
                                [](const Spare& s) { return s.symbol == NoSymbol; }),
                 m_spares.end());
  for (int k = m_keymap->max_key_code; k >= m_keymap->min_key_code; --k) {
    const KeyCode keycode = static_cast<KeyCode>(k);
    if (m_keymap->map->modmap[k] != 0 || !HasNoSymbols(m_keymap, keycode)) continue;
    const bool known = std::any_of(m_spares.begin(), m_spares.end(),
                                   [keycode](const Spare& s) { return s.keycode == keycode; });
    if (!known) m_spares.push_back({keycode, NoSymbol, Clock::time_point()});
  }
}

bool X11Keyboard::SpareFor(KeySym symbol, KeyCode* keycode) {
  if (m_spares.empty()) return false;
  // An empty one if there is one, else the one pressed longest ago, once it
  // has settled.
  auto spare = std::find_if(m_spares.begin(), m_spares.end(),
                            [](const Spare& s) { return s.symbol == NoSymbol; });
  if (spare == m_spares.end()) {
    spare = std::min_element(m_spares.begin(), m_spares.end(),
                             [](const Spare& a, const Spare& b) { return a.used < b.used; });
    std::this_thread::sleep_until(spare->used + kKeymapSettle);
  }
  std::this_thread::sleep_until(m_lastPress + kKeymapQuiet);
  if (!MapKeycode(spare->keycode, symbol)) return false;
  spare->symbol = symbol;
  spare->used = Clock::now();
  *keycode = spare->keycode;
  return true;
}

bool X11Keyboard::MapKeycode(KeyCode keycode, KeySym symbol) {
  // The same symbol at every level of every group, so that no modifier and
  // no layout group can change it.
  std::vector<KeySym> symbols(static_cast<size_t>(m_symbolsPerKeycode), symbol);
  XChangeKeyboardMapping(m_display, keycode, m_symbolsPerKeycode, symbols.data(), 1);
  return SyncAndTakeXError(m_display) == 0;
}

void X11Keyboard::PressAndRelease(KeyCode keycode, bool shift) {
  if (shift) XTestFakeKeyEvent(m_display, m_shiftKey, True, CurrentTime);
  XTestFakeKeyEvent(m_display, keycode, True, CurrentTime);
  XTestFakeKeyEvent(m_display, keycode, False, CurrentTime);
  if (shift) XTestFakeKeyEvent(m_display, m_shiftKey, False, CurrentTime);
  XFlush(m_display);
  m_lastPress = Clock::now();
}

X11Keyboard::Clock::time_point X11Keyboard::ReleaseSettledSpares() {
  Clock::time_point next = Clock::time_point::max();
  const Clock::time_point now = Clock::now();
  for (Spare& spare : m_spares) {
    if (spare.symbol == NoSymbol) continue;
    const Clock::time_point due = spare.used + kKeymapSettle;
    if (due <= now) {
      MapKeycode(spare.keycode, NoSymbol);
      spare.symbol = NoSymbol;
    } else {
      next = std::min(next, due);
    }
  }
  while (XPending(m_display)) {
    XEvent event;
    XNextEvent(m_display, &event);
  }
  return next;
}

}  // namespace platform
