// The monitor is a window program: its help and its command-line errors must reach whoever
// started it. Started with its output redirected (scripts, the tests) they go to standard output
// and error; started from a console (no standard handles, a parent console) they go to that
// console; started with neither (a double-click) they are shown in a message box.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include "wine_time.h"

#include <string>
#include <vector>

namespace {

// How long the monitor may take to end or to show its box.
const DWORD wait_ms = kbtest::time_limit_ms(30000);

std::wstring monitor_path() {
    std::wstring path = L"Z:" KB_MONITOR_EXE;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

struct Started {
    PROCESS_INFORMATION process{};
    bool ok = false;
    ~Started() {
        if (!ok) return;
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    DWORD exit_code() {
        EXPECT_EQ(WaitForSingleObject(process.hProcess, wait_ms), WAIT_OBJECT_0) << "the monitor did not end";
        DWORD code = 999;
        GetExitCodeProcess(process.hProcess, &code);
        return code;
    }
};

/// Starts the monitor with the given standard output and error (null: none at all).
void start(Started& s, const std::wstring& arguments, HANDLE out, HANDLE err) {
    std::wstring command = L"\"" + monitor_path() + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = err;
    s.ok = CreateProcessW(nullptr, command.data(), nullptr, nullptr, out || err, 0, nullptr, nullptr, &si,
                          &s.process) != 0;
    ASSERT_TRUE(s.ok) << "CreateProcess failed: " << GetLastError();
}

std::wstring read_console() {
    HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (out == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(out, &info)) return L"(no console)";
    std::wstring text(static_cast<std::size_t>(info.dwSize.X) * info.dwSize.Y, L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(out, text.data(), static_cast<DWORD>(text.size()), COORD{0, 0}, &read);
    text.resize(read);
    CloseHandle(out);
    return text;
}

std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

TEST(MonitorUserOutput, RedirectedOutputGetsTheHelpAndTheErrors) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    wchar_t folder[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"kmo", 0, file);
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE out = CreateFileW(file, GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    {
        Started s;
        start(s, L"--help", out, out);
        EXPECT_EQ(s.exit_code(), 0u);
    }
    {
        Started s;
        start(s, L"--windows x", out, out);
        EXPECT_EQ(s.exit_code(), 2u);
    }
    CloseHandle(out);
    HANDLE in = CreateFileW(file, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[8192];
    DWORD n = 0;
    ReadFile(in, buffer, sizeof buffer, &n, nullptr);
    CloseHandle(in);
    DeleteFileW(file);
    std::string text(buffer, n);
    EXPECT_NE(text.find("usage: KESTRO_monitor.exe"), std::string::npos) << text;
    EXPECT_NE(text.find("Exit codes: 0 ok"), std::string::npos) << text;
    EXPECT_NE(text.find("KESTRO_monitor: --windows: \"x\" is not a whole number"), std::string::npos) << text;
}

TEST(MonitorUserOutput, FromAConsoleTheTextAppearsInThatConsole) {
    // A console of our own, as cmd.exe has; the monitor gets no standard handles, as a window
    // program started from cmd.exe does not.
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    {
        Started s;
        start(s, L"--help", nullptr, nullptr);
        EXPECT_EQ(s.exit_code(), 0u);
    }
    {
        Started s;
        start(s, L"--repeat", nullptr, nullptr);
        EXPECT_EQ(s.exit_code(), 2u);
    }
    const std::wstring console = read_console();
    FreeConsole();
    EXPECT_NE(console.find(L"usage: KESTRO_monitor.exe"), std::wstring::npos) << narrow(console);
    EXPECT_NE(console.find(L"See tools/monitor/README.md."), std::wstring::npos) << narrow(console);
    EXPECT_NE(console.find(L"KESTRO_monitor: --repeat needs a value"), std::wstring::npos) << narrow(console);
}

struct BoxSearch {
    DWORD pid;
    HWND box;
};

BOOL CALLBACK find_box(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD pid = 0;
    wchar_t name[64] = L"";
    GetWindowThreadProcessId(hwnd, &pid);
    GetClassNameW(hwnd, name, 64);
    if (pid == search->pid && std::wstring(name) == L"#32770" && IsWindowVisible(hwnd)) {
        search->box = hwnd;
        return FALSE;
    }
    return TRUE;
}

TEST(MonitorUserOutput, WithoutConsoleOrRedirectionAMessageBoxShowsTheError) {
    FreeConsole();  // as Explorer starts it: nothing to attach to
    Started s;
    start(s, L"--windows 40", nullptr, nullptr);
    BoxSearch search{s.process.dwProcessId, nullptr};
    for (DWORD waited = 0; !search.box && waited < wait_ms; waited += 100) {
        Sleep(100);
        EnumWindows(find_box, reinterpret_cast<LPARAM>(&search));
    }
    ASSERT_NE(search.box, nullptr) << "no message box";
    wchar_t caption[128] = L"", text[4096] = L"";
    GetWindowTextW(search.box, caption, 128);
    GetDlgItemTextW(search.box, 0xFFFF, text, 4096);  // the box's static text
    EXPECT_EQ(std::wstring(caption), L"Monitor de KESTRO");
    EXPECT_NE(std::wstring(text).find(L"KESTRO_monitor: --windows: 40 is out of range"), std::wstring::npos)
        << narrow(text);
    EXPECT_NE(std::wstring(text).find(L"KESTRO_monitor.exe --help lists the options."), std::wstring::npos)
        << narrow(text);
    PostMessageW(search.box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(s.exit_code(), 2u);
}

}  // namespace
