#include "user_output.h"

#include <cstdio>

#include "app.h"

namespace monitor {

namespace {

enum class Sink { stdio, console, message_box };

// The console this process writes to, or INVALID_HANDLE_VALUE: the parent's, attached on first
// use (Windows gives a window program none; Wine hands it the parent's console already).
HANDLE console_output() {
    static HANDLE out = [] {
        AttachConsole(ATTACH_PARENT_PROCESS);
        return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }();
    return out;
}

// Where the text goes, decided per stream. A standard handle redirected to a file or a pipe wins;
// then the console of the parent process (cmd.exe does not wait for a window program, so the
// text comes after its prompt); then a character device that is not a console (a terminal under
// Wine); then a message box.
Sink sink_for(DWORD which) {
    HANDLE h = GetStdHandle(which);
    const bool present = h != nullptr && h != INVALID_HANDLE_VALUE;
    const DWORD type = present ? GetFileType(h) : FILE_TYPE_UNKNOWN;
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) return Sink::stdio;
    if (console_output() != INVALID_HANDLE_VALUE) return Sink::console;
    if (type == FILE_TYPE_CHAR) return Sink::stdio;
    return Sink::message_box;
}

std::wstring utf8_to_wide(const std::string& text) {
    if (text.empty()) return L"";
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

void write_console(const std::string& text) {
    static bool first = true;
    std::wstring wide = first ? L"\r\n" : L"";  // off the line of the prompt already shown
    first = false;
    for (wchar_t c : utf8_to_wide(text)) {
        if (c == L'\n') wide += L'\r';
        wide += c;
    }
    DWORD written = 0;
    WriteConsoleW(console_output(), wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

void emit(const std::string& text, const std::string& usage, bool error, bool box_allowed) {
    switch (sink_for(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE)) {
        case Sink::stdio: {
            std::FILE* stream = error ? stderr : stdout;
            std::fputs((text + usage).c_str(), stream);
            std::fflush(stream);
            break;
        }
        case Sink::console: write_console(text + usage); break;
        case Sink::message_box:
            if (box_allowed)
                MessageBoxW(nullptr,
                            utf8_to_wide(usage.empty() ? text : text + "\nKESTRO_monitor.exe --help lists the options.")
                                .c_str(),
                            window_title,
                            MB_OK | MB_SETFOREGROUND | (error ? MB_ICONERROR : MB_ICONINFORMATION));
            break;
    }
}

}  // namespace

void show_output(const std::string& text) { emit(text, "", false, true); }
void show_error(const std::string& text, const std::string& usage) { emit(text, usage, true, true); }
void write_output(const std::string& text) { emit(text, "", false, false); }

}  // namespace monitor
