// The Win32 side of the platform seam against the real system: this process, its own windows and
// a small module loaded for the purpose.
#include "win32_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "progress_window.h"
#include "test_window.h"

#include <tlhelp32.h>

namespace {

using kb::platform::ProcessId;
using kb::platform::WindowHandle;

std::u16string u16(const std::wstring& w) { return std::u16string(w.begin(), w.end()); }

// ---- processes ----

TEST(Win32Processes, ListHoldsThisProcessAndItsImageNameEndsWithTheExecutable) {
    kb::win32::Win32ProcessList processes;
    std::vector<ProcessId> ids(1024);
    std::uint32_t needed = 0;
    ASSERT_TRUE(processes.enum_processes(ids.data(), ids.size() * sizeof(ProcessId), &needed));
    ASSERT_GT(needed, 0u);
    ASSERT_EQ(needed % sizeof(ProcessId), 0u);
    ids.resize(needed / sizeof(ProcessId));
    EXPECT_NE(std::find(ids.begin(), ids.end(), GetCurrentProcessId()), ids.end());

    kb::win32::UniqueHandle self(
        processes.open_process(kb::platform::process_query_limited_information, false,
                               processes.current_process_id()));
    ASSERT_TRUE(self);
    char name[1024] = {};
    std::uint32_t length = processes.image_file_name(self.get(), name, sizeof name);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(length, std::strlen(name));
    std::string path(name);
    std::transform(path.begin(), path.end(), path.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    EXPECT_NE(path.find("win32_platform_test.exe"), std::string::npos) << name;
    processes.close_handle(self.release());
}

TEST(Win32Processes, CurrentProcessIdIsTheSystems) {
    kb::win32::Win32ProcessList processes;
    EXPECT_EQ(processes.current_process_id(), GetCurrentProcessId());
}

TEST(Win32Processes, ProcessThatDoesNotExistCannotBeOpened) {
    kb::win32::Win32ProcessList processes;
    EXPECT_EQ(processes.open_process(kb::platform::process_query_limited_information, false,
                                     0xFFFFFFF0u),
              nullptr);
}

TEST(Win32Processes, ARunningProcessRunsAndAnEndedOneOrNoneDoesNot) {
    kb::win32::Win32ProcessList processes;
    EXPECT_TRUE(processes.process_running(GetCurrentProcessId()));
    EXPECT_FALSE(processes.process_running(0xFFFFFFF0u));
    // A child that has ended: its id is still taken (its handle is open here), it is not running.
    wchar_t command[] = L"cmd.exe /c exit 0";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &child));
    kb::win32::UniqueHandle process(child.hProcess), thread(child.hThread);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
    EXPECT_FALSE(processes.process_running(child.dwProcessId));
}

// ---- windows ----

struct Visit {
    HWND wanted;
    int seen = 0;
    bool found = false;
    bool stop_at_wanted = true;
};

bool count_until_wanted(WindowHandle window, std::uintptr_t context) {
    auto* v = reinterpret_cast<Visit*>(context);
    ++v->seen;
    if (window == v->wanted) v->found = true;
    return !(v->found && v->stop_at_wanted);
}

bool throw_at_first(WindowHandle, std::uintptr_t context) {
    ++reinterpret_cast<Visit*>(context)->seen;
    throw std::runtime_error("visitor failed");
}

class Win32Windows : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = kbtest::create_test_window(L"Ventana de prueba");
        ASSERT_NE(window_, nullptr) << "no window (is DISPLAY set?)";
    }
    void TearDown() override { DestroyWindow(window_); }
    HWND window_ = nullptr;
    kb::win32::Win32WindowSystem windows_;
};

TEST_F(Win32Windows, EnumerationVisitsOurTopLevelWindowAndStopsWhenTheVisitorSaysSo) {
    Visit all{window_, 0, false, false};
    windows_.enum_windows(count_until_wanted, reinterpret_cast<std::uintptr_t>(&all));
    ASSERT_TRUE(all.found);

    Visit stopped{window_};
    windows_.enum_windows(count_until_wanted, reinterpret_cast<std::uintptr_t>(&stopped));
    EXPECT_TRUE(stopped.found);
    EXPECT_LE(stopped.seen, all.seen);
    EXPECT_EQ(windows_.window_process_id(window_), GetCurrentProcessId());
}

TEST_F(Win32Windows, VisitorThatThrowsEndsTheEnumerationWithoutTheExceptionEscaping) {
    Visit v{window_};
    windows_.enum_windows(throw_at_first, reinterpret_cast<std::uintptr_t>(&v));
    EXPECT_EQ(v.seen, 1);
}

TEST_F(Win32Windows, CopyDataArrivesWithSenderCountAndBytes) {
    const char payload[] = "records\0and more";
    kb::platform::CopyData data{3, sizeof payload, payload};
    HWND sender = reinterpret_cast<HWND>(0x1234);
    const kb::platform::SendResult r =
        windows_.send_copy_data(window_, sender, data, kb::platform::copy_data_timeout_ms);
    EXPECT_EQ(r.outcome, kb::platform::SendOutcome::delivered);
    EXPECT_EQ(r.answer, kbtest::copydata_answer);
    EXPECT_EQ(kbtest::window_log().last_copydata, std::string(payload, sizeof payload));
    EXPECT_EQ(kbtest::window_log().last_copydata_sender, reinterpret_cast<WPARAM>(sender));
}

LRESULT CALLBACK doubling_proc(HWND, UINT, WPARAM, LPARAM);
kb::platform::WindowProc proc_below = nullptr;
kb::win32::Win32WindowSystem* chain_windows = nullptr;

LRESULT CALLBACK doubling_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    LRESULT r = chain_windows->call_window_proc(proc_below, w, m, wp, lp);
    return m == kbtest::probe_message ? r * 2 : r;
}

TEST_F(Win32Windows, SubclassReplacesTheProcedureAndPassesMessagesDown) {
    auto original = windows_.window_proc(window_);
    EXPECT_EQ(reinterpret_cast<void*>(original), reinterpret_cast<void*>(&kbtest::test_window_proc));
    chain_windows = &windows_;
    proc_below = windows_.set_window_proc(
        window_, reinterpret_cast<kb::platform::WindowProc>(&doubling_proc));
    EXPECT_EQ(proc_below, original);
    EXPECT_EQ(SendMessageW(window_, kbtest::probe_message, 0, 0), kbtest::probe_answer * 2);
    EXPECT_EQ(windows_.set_window_proc(window_, original),
              reinterpret_cast<kb::platform::WindowProc>(&doubling_proc));
    EXPECT_EQ(SendMessageW(window_, kbtest::probe_message, 0, 0), kbtest::probe_answer);
}

TEST_F(Win32Windows, AWindowIsAWindowUntilItIsDestroyed) {
    HWND other = kbtest::create_test_window(L"Otra ventana");
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(windows_.is_window(window_));
    EXPECT_TRUE(windows_.is_window(other));
    DestroyWindow(other);
    EXPECT_FALSE(windows_.is_window(other));
}

// ---- the progress window ----

// The threads of this process.
int thread_count() {
    kb::win32::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    return count;
}

HWND progress_window() { return FindWindowW(L"KestroBimVisionProgress", nullptr); }

// The text of the progress window's label, read through its own thread.
std::wstring progress_text(HWND progress) {
    HWND label = GetWindow(progress, GW_CHILD);
    wchar_t text[200] = {};
    if (label != nullptr) GetWindowTextW(label, text, 200);
    return text;
}

// Waits, without pumping a message on this thread, until `done` holds; false after 30 s.
template <typename Done>
bool without_pumping_until(Done done) {
    for (int i = 0; i < 1500; ++i) {
        if (done()) return true;
        Sleep(20);
    }
    return false;
}

TEST_F(Win32Windows, ProgressShowsOverTheViewerOnItsOwnThreadAndLeavesNoThreadBehind) {
    RECT viewer{100, 100, 900, 700};
    SetWindowPos(window_, nullptr, viewer.left, viewer.top, 800, 600, SWP_NOZORDER);
    GetWindowRect(window_, &viewer);
    const int threads = thread_count();
    ASSERT_GT(threads, 0);
    {
        auto progress = windows_.open_progress(window_, u"Leyendo 0 de 50.000 elementos", 0);
        ASSERT_NE(progress, nullptr);
        // This thread never pumps a message: the window comes up and changes on its own thread.
        HWND shown = nullptr;
        ASSERT_TRUE(without_pumping_until([&] { return (shown = progress_window()) != nullptr &&
                                                       IsWindowVisible(shown); }));
        EXPECT_EQ(thread_count(), threads + 1);
        EXPECT_NE(GetWindowThreadProcessId(shown, nullptr), GetCurrentThreadId());
        EXPECT_EQ(GetWindow(shown, GW_OWNER), nullptr) << "owned by another thread's window";
        EXPECT_EQ(GetParent(shown), nullptr);
        RECT r{};
        GetWindowRect(shown, &r);
        const POINT middle{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        EXPECT_TRUE(PtInRect(&viewer, middle)) << "not over the viewer's window";
        EXPECT_EQ(progress_text(shown), L"Leyendo 0 de 50.000 elementos");
        progress->set_text(u"KESTRO est\u00E1 recibiendo 50.000 elementos");
        EXPECT_TRUE(without_pumping_until(
            [&] { return progress_text(shown) == L"KESTRO est\u00E1 recibiendo 50.000 elementos"; }));
        EXPECT_NE(GetForegroundWindow(), shown) << "the progress took the focus";
    }
    // Taken down, and its thread ended, by the time the object is gone.
    EXPECT_EQ(progress_window(), nullptr);
    EXPECT_EQ(thread_count(), threads);

    // Closed before its delay ran out: it never appeared, and it did not wait for the delay.
    const DWORD start = GetTickCount();
    {
        auto progress = windows_.open_progress(window_, u"nunca", 600000);
        ASSERT_NE(progress, nullptr);
        Sleep(200);
        EXPECT_EQ(progress_window(), nullptr);
    }
    EXPECT_LT(GetTickCount() - start, 60000u);
    EXPECT_EQ(thread_count(), threads);
}

// ---- the module ----

class Win32Module : public ::testing::Test {
protected:
    kb::win32::Win32ModuleSystem modules_;
    std::wstring probe_ = kbtest::executable_directory() + L"\\probe_module.dll";
};

TEST_F(Win32Module, FileNameOfTheExecutableIsItsFullPath) {
    wchar_t buf[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buf, MAX_PATH);
    EXPECT_EQ(modules_.module_file_name(GetModuleHandleW(nullptr)), u16(buf));
}

TEST_F(Win32Module, FileNameLongerThan260UnitsComesBackWhole) {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    std::wstring dir = std::wstring(L"\\\\?\\") + temp + L"kb_long_name";
    CreateDirectoryW(dir.c_str(), nullptr);
    for (int i = 0; i < 6; ++i) {
        dir += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + i));
        CreateDirectoryW(dir.c_str(), nullptr);
    }
    const std::wstring copy = dir + L"\\probe_module.dll";
    ASSERT_TRUE(CopyFileW(probe_.c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, 0);
    ASSERT_NE(module, nullptr) << GetLastError();
    std::u16string name = modules_.module_file_name(module);
    FreeLibrary(module);
    EXPECT_GT(name.size(), 400u);
    const std::u16string tail = u"\\ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
                                u"\\probe_module.dll";
    ASSERT_GE(name.size(), tail.size());
    EXPECT_EQ(name.substr(name.size() - tail.size()), tail);
    DeleteFileW(copy.c_str());
}

TEST_F(Win32Module, NullModuleNamesTheExecutableAndABadHandleGivesEmptyText) {
    EXPECT_EQ(modules_.module_file_name(nullptr),
              modules_.module_file_name(GetModuleHandleW(nullptr)));
    EXPECT_TRUE(modules_.module_file_name(reinterpret_cast<void*>(0x10)).empty());
}

TEST_F(Win32Module, PinnedModuleStaysLoadedAfterItsLastRelease) {
    HMODULE module = LoadLibraryW(probe_.c_str());
    ASSERT_NE(module, nullptr);
    modules_.pin_module(module);
    FreeLibrary(module);
    EXPECT_EQ(GetModuleHandleW(L"probe_module.dll"), module);
}

}  // namespace
