// The beep that confirms an accepted reading, in the shape of the Windows
// call: a sine tone played through ALSA's default playback device.
#pragma once

#include "win32_types.h"

// Plays a tone of `frequency` Hz (37 to 32767) for `duration` milliseconds
// and returns when it has been played. Returns FALSE at once when the
// frequency is out of range or there is no sound device; ALSA's own error
// messages are kept off the terminal. A duration of 0 plays nothing.
BOOL Beep(DWORD frequency, DWORD duration);
