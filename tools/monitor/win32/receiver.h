// The monitor's windows: they take the viewer's records by WM_COPYDATA, list them, run the
// queued sends to the viewer after each message, and leave on --quit-after, --timeout or close.
#pragma once

#include "app.h"

namespace monitor {

/// Creates the windows and runs the message loop; returns the exit code.
int run_monitor(HINSTANCE instance);

}  // namespace monitor
