// The monitor's modes without windows: raw messages of a given size to the first window of a
// class, timed (benchmarks, hostile input), and asking running monitors to leave.
#pragma once

namespace monitor {

/// --send-raw-bytes N --to-class CLASS: prints one JSON line per send; returns the exit code.
int run_sender();

/// --close-monitors: posts WM_CLOSE to every monitor window; returns the exit code.
int run_close_monitors();

}  // namespace monitor
