// A connection to the X server for the keystroke layer's own use. A protocol
// error on it (say, a window that vanished while we looked at it) is kept
// for the caller to ask about instead of ending the process, as Xlib's
// default error handler would; errors on every other connection of the
// process still reach the handler that was there before.
#pragma once

#include <X11/Xlib.h>

namespace platform {

// Opens a connection to $DISPLAY; nullptr when there is no X server. Each
// connection is meant for one thread at a time.
Display* OpenXDisplay();
void CloseXDisplay(Display* display);

// Waits until the server has handled every request sent so far and returns
// the code of the first protocol error since the last call, 0 for none.
int SyncAndTakeXError(Display* display);

}  // namespace platform
