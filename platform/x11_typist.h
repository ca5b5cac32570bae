// The worker that types posted characters and keys into X windows.
//
// Posting only queues: a thread of its own, with its own connection to the
// X server, takes the queue in order and presses the keys through XTEST
// (see x11_keyboard.h). A value is the run of characters up to its
// terminating key; the worker waits for it to be posted whole (or for a
// pause in the posting) so that the characters the layout lacks can be put
// on spare keycodes before its first key. Right before each key it presses,
// after any wait for the keymap, the worker makes sure that the window still
// has the input focus; when the focus has moved, the rest of that value and
// its terminating key are dropped, so that nothing lands in a window it was
// not meant for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace platform {

class XTypist {
 public:
  enum class Kind { kCharacter, kKey };
  struct Message {
    unsigned long window;  // the X window that had the focus when it was chosen
    Kind kind;
    // A UTF-16 unit for a character (a pair of surrogates posts as two);
    // for a key, the terminating key: kReturn, kTab, or anything else for
    // no key at all.
    uint32_t code;
  };
  static constexpr uint32_t kTab = 0x09;
  static constexpr uint32_t kReturn = 0x0D;

  // The one typist of the process, started on first use and stopped at exit.
  static XTypist& Shared();

  XTypist();
  ~XTypist();  // drops what is still queued
  XTypist(const XTypist&) = delete;
  XTypist& operator=(const XTypist&) = delete;

  void Post(const Message& message);

  // Waits until everything posted so far has been typed (or dropped) and the
  // keyboard's lock state is back; false when that takes longer than the
  // timeout.
  bool WaitUntilTyped(std::chrono::milliseconds timeout);

 private:
  void Run();

  std::mutex m_mutex;
  std::condition_variable m_wake;     // the worker waits here for messages
  std::condition_variable m_settled;  // WaitUntilTyped waits here
  std::deque<Message> m_queue;
  bool m_working = false;  // the worker holds a message or a run of typing
  bool m_stop = false;
  std::thread m_thread;    // started by the first Post
};

}  // namespace platform
