// Text for the person who started the monitor. It is a window program, so Windows gives it no
// console: started from a console (cmd.exe, PowerShell) it writes to that console; started with
// its output redirected (a script, the tests) to standard output or error as any program; started
// by double-click it shows a message box.
#pragma once

#include <string>

namespace monitor {

/// Help and results. `text` is UTF-8 with '\n' line ends.
void show_output(const std::string& text);
/// Errors: standard error instead of output, an error icon in the box. `usage` follows the text on
/// a stream; a box, too narrow for it, names --help instead.
void show_error(const std::string& text, const std::string& usage = "");
/// Like show_output, but never a message box (a line among many, also in the --out log).
void write_output(const std::string& text);

}  // namespace monitor
