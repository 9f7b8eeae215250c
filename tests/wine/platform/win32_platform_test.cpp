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

#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <initializer_list>
#include <memory>

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

// How much address space the stack of thread `id` holds reserved, in bytes (0 if unknown).
std::uint64_t stack_reserve_of(DWORD id) {
    kb::win32::UniqueHandle thread(
        OpenThread(THREAD_GET_CONTEXT | THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION, FALSE, id));
    if (!thread) return 0;
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    if (SuspendThread(thread.get()) == static_cast<DWORD>(-1)) return 0;
    const BOOL got = GetThreadContext(thread.get(), &context);
    ResumeThread(thread.get());
    if (!got) return 0;
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(reinterpret_cast<void*>(context.Esp), &region, sizeof region) != sizeof region)
        return 0;
    // The stack is one reservation: every region from its base that belongs to it.
    void* const base = region.AllocationBase;
    std::uint64_t size = 0;
    for (const char* at = static_cast<const char*>(base);
         VirtualQuery(at, &region, sizeof region) == sizeof region && region.AllocationBase == base;
         at += region.RegionSize)
        size += region.RegionSize;
    return size;
}

// A part of the progress window, found by its id.
HWND part(HWND progress, int id) { return GetDlgItem(progress, id); }

// The text of a part, read through the window's own thread.
std::wstring text_of(HWND window) {
    wchar_t text[200] = {};
    if (window != nullptr) GetWindowTextW(window, text, 200);
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

// Opens a progress window over `over` at once and waits until it shows; null if it never does.
HWND shown_progress(std::unique_ptr<kb::platform::ProgressWindow>& progress,
                    kb::win32::Win32WindowSystem& windows, HWND over,
                    const kb::platform::ProgressView& view,
                    std::initializer_list<const char16_t*> fits = {}) {
    progress = windows.open_progress(over, view, fits.begin(), fits.size(), 0);
    HWND shown = nullptr;
    if (progress == nullptr ||
        !without_pumping_until([&] { return (shown = progress_window()) != nullptr && IsWindowVisible(shown); }))
        return nullptr;
    return shown;
}

kb::platform::ProgressView reading(const char16_t* text, std::uint32_t done, std::uint32_t total) {
    kb::platform::ProgressView view;
    view.text = text;
    view.done = done;
    view.total = total;
    return view;
}

kb::platform::ProgressView receiving(const char16_t* text) {
    kb::platform::ProgressView view;
    view.text = text;
    view.receiving = true;
    return view;
}

TEST_F(Win32Windows, ProgressShowsOverTheViewerOnItsOwnThreadAndLeavesNoThreadBehind) {
    RECT viewer{100, 100, 900, 700};
    SetWindowPos(window_, nullptr, viewer.left, viewer.top, 800, 600, SWP_NOZORDER);
    GetWindowRect(window_, &viewer);
    const int threads = thread_count();
    ASSERT_GT(threads, 0);
    {
        std::unique_ptr<kb::platform::ProgressWindow> progress;
        // This thread never pumps a message: the window comes up and changes on its own thread.
        HWND shown = shown_progress(progress, windows_, window_,
                                    reading(u"Leyendo 0 de 50.000 elementos", 0, 50000));
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(thread_count(), threads + 1);
        // Its thread has a small stack of its own, not this program's 256 MB reserve: the
        // update's records need the address space.
        const std::uint64_t stack = stack_reserve_of(GetWindowThreadProcessId(shown, nullptr));
        EXPECT_GT(stack, 0u);
        EXPECT_LE(stack, 1u << 20) << "the progress window's thread holds " << (stack >> 20) << " MB";
        EXPECT_NE(GetWindowThreadProcessId(shown, nullptr), GetCurrentThreadId());
        EXPECT_EQ(GetWindow(shown, GW_OWNER), nullptr) << "owned by another thread's window";
        EXPECT_EQ(GetParent(shown), nullptr);
        EXPECT_EQ(text_of(shown), L"KESTRO");
        EXPECT_EQ(text_of(part(shown, kb::win32::progress_title_id)), L"KESTRO");
        RECT r{};
        GetWindowRect(shown, &r);
        const POINT middle{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        EXPECT_TRUE(PtInRect(&viewer, middle)) << "not over the viewer's window";
        EXPECT_EQ(text_of(part(shown, kb::win32::progress_text_id)), L"Leyendo 0 de 50.000 elementos");
        progress->show(receiving(u"KESTRO est\u00E1 recibiendo 50.000 elementos"));
        EXPECT_TRUE(without_pumping_until([&] {
            return text_of(part(shown, kb::win32::progress_text_id)) ==
                   L"KESTRO est\u00E1 recibiendo 50.000 elementos";
        }));
        EXPECT_NE(GetForegroundWindow(), shown) << "the progress took the focus";
    }
    // Taken down, and its thread ended, by the time the object is gone.
    EXPECT_EQ(progress_window(), nullptr);
    EXPECT_EQ(thread_count(), threads);

    // Closed before its delay ran out: it never appeared, and it did not wait for the delay.
    const DWORD start = GetTickCount();
    {
        auto progress = windows_.open_progress(window_, reading(u"nunca", 0, 1), nullptr, 0, 600000);
        ASSERT_NE(progress, nullptr);
        Sleep(200);
        EXPECT_EQ(progress_window(), nullptr);
    }
    EXPECT_LT(GetTickCount() - start, 60000u);
    EXPECT_EQ(thread_count(), threads);
}

// How wide a part's text is in the part's own font, against how wide and high the part is.
struct Fit {
    SIZE text{};
    RECT client{};
    std::wstring what;
};

Fit fit_of(HWND window) {
    Fit fit;
    fit.what = text_of(window);
    GetClientRect(window, &fit.client);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font != nullptr ? font : GetStockObject(SYSTEM_FONT));
    GetTextExtentPoint32W(dc, fit.what.c_str(), static_cast<int>(fit.what.size()), &fit.text);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return fit;
}

// Every part shows its whole text, lies inside the window, and no two parts overlap.
void expect_whole(HWND shown, UINT dpi) {
    RECT client{};
    GetClientRect(shown, &client);
    const int ids[] = {kb::win32::progress_title_id, kb::win32::progress_text_id,
                       kb::win32::progress_bar_id, kb::win32::progress_cancel_id};
    std::vector<RECT> placed;
    for (int id : ids) {
        HWND p = part(shown, id);
        ASSERT_NE(p, nullptr) << "part " << id << " missing";
        RECT r{};
        GetWindowRect(p, &r);
        MapWindowPoints(nullptr, shown, reinterpret_cast<POINT*>(&r), 2);
        RECT inside{};
        IntersectRect(&inside, &r, &client);
        EXPECT_TRUE(EqualRect(&inside, &r)) << "part " << id << " leaves the window at " << dpi << " DPI";
        for (const RECT& other : placed) {
            RECT both{};
            EXPECT_FALSE(IntersectRect(&both, &r, &other)) << "part " << id << " overlaps another";
        }
        placed.push_back(r);
        if (id == kb::win32::progress_bar_id) continue;
        const Fit fit = fit_of(p);
        EXPECT_LE(fit.text.cx, fit.client.right) << "\"" << std::string(fit.what.begin(), fit.what.end())
                                                 << "\" clipped at " << dpi << " DPI";
        EXPECT_LE(fit.text.cy, fit.client.bottom) << "part " << id << " cut at " << dpi << " DPI";
        // The system's font at the viewer's DPI: at least 11 pixels high at 96 DPI, in proportion
        // above it (the stock font of 96 DPI would stay at 13 pixels whatever the scaling).
        EXPECT_GE(fit.text.cy * 96, 11 * static_cast<LONG>(dpi)) << "part " << id << " at " << dpi << " DPI";
    }
}

// Run at 96, 120, 144 and 192 DPI by wine_progress_window_at_every_scaling.
TEST_F(Win32Windows, ProgressFitsItsLongestTextsAtTheScreensDpiAndGrowsForAWiderOne) {
    HDC screen = GetDC(nullptr);
    const UINT dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    std::printf("screen at %u DPI\n", dpi);
    std::unique_ptr<kb::platform::ProgressWindow> progress;
    HWND shown = shown_progress(progress, windows_, window_,
                                reading(u"Leyendo 0 de 50.000 elementos", 0, 50000),
                                {u"Leyendo 50.000 de 50.000 elementos",
                                 u"KESTRO est\u00E1 recibiendo 50.000 elementos"});
    ASSERT_NE(shown, nullptr);
    RECT first{};
    GetWindowRect(shown, &first);
    const auto shows = [&](const wchar_t* text) {
        return without_pumping_until([&] { return text_of(part(shown, kb::win32::progress_text_id)) == text; });
    };
    for (const char16_t* text : {u"Leyendo 50.000 de 50.000 elementos",
                                 u"KESTRO est\u00E1 recibiendo 50.000 elementos"}) {
        progress->show(reading(text, 50000, 50000));
        ASSERT_TRUE(shows(reinterpret_cast<const wchar_t*>(text)));
        expect_whole(shown, dpi);
        RECT now{};
        GetWindowRect(shown, &now);
        EXPECT_TRUE(EqualRect(&now, &first)) << "the window changed size for a text it was sized for";
    }
    // A text longer than any it was sized for: the window grows about its centre.
    const wchar_t* longer = L"KESTRO est\u00E1 recibiendo 4.294.967.295 elementos, y aun m\u00E1s elementos";
    progress->show(receiving(reinterpret_cast<const char16_t*>(longer)));
    ASSERT_TRUE(shows(longer));
    expect_whole(shown, dpi);
    RECT grown{};
    GetWindowRect(shown, &grown);
    EXPECT_GT(grown.right - grown.left, first.right - first.left);
    EXPECT_NEAR((grown.left + grown.right) / 2, (first.left + first.right) / 2, 1);
}

TEST_F(Win32Windows, ProgressBarStandsAtTheCountReadThenMovesOrStandsFullWithCancelDisabled) {
    std::unique_ptr<kb::platform::ProgressWindow> progress;
    HWND shown = shown_progress(progress, windows_, window_,
                                reading(u"Leyendo 0 de 50.000 elementos", 0, 50000));
    ASSERT_NE(shown, nullptr);
    HWND bar = part(shown, kb::win32::progress_bar_id);
    ASSERT_NE(bar, nullptr);
    progress->show(reading(u"Leyendo 12.000 de 50.000 elementos", 12000, 50000));
    EXPECT_TRUE(without_pumping_until([&] { return SendMessageW(bar, PBM_GETPOS, 0, 0) == 12000; }));
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 50000);
    EXPECT_TRUE(IsWindowEnabled(part(shown, kb::win32::progress_cancel_id)));

    progress->show(receiving(u"KESTRO est\u00E1 recibiendo 50.000 elementos"));
    HWND cancel = part(shown, kb::win32::progress_cancel_id);
    ASSERT_TRUE(without_pumping_until([&] { return !IsWindowEnabled(cancel); }))
        << "\"Cancelar\" stays enabled while KESTRO receives";
    bar = part(shown, kb::win32::progress_bar_id);
    ASSERT_NE(bar, nullptr);
    const bool moving = (GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0;
    const bool full = SendMessageW(bar, PBM_GETPOS, 0, 0) == SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
    EXPECT_TRUE(moving || full) << "the bar neither moves nor stands full while KESTRO receives";
    EXPECT_FALSE(progress->stop_requested());
}

// Presses the left mouse button over `window`'s middle and lets it go, as a user would.
void click(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    INPUT press[2] = {};
    press[0].type = press[1].type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, press, sizeof(INPUT));
}

TEST_F(Win32Windows, CancelClickedWithTheMouseSetsTheFlagWithoutTakingTheViewersFocus) {
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    SetFocus(window_);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    ASSERT_EQ(GetForegroundWindow(), window_);

    std::unique_ptr<kb::platform::ProgressWindow> progress;
    HWND shown = shown_progress(progress, windows_, window_,
                                reading(u"Leyendo 256 de 50.000 elementos", 256, 50000));
    ASSERT_NE(shown, nullptr);
    HWND cancel = part(shown, kb::win32::progress_cancel_id);
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(text_of(cancel), L"Cancelar");
    EXPECT_FALSE(progress->stop_requested());
    click(cancel);
    // The flag is set on the window's thread; this thread only reads it, as the collector does.
    EXPECT_TRUE(without_pumping_until([&] { return progress->stop_requested(); }))
        << "the click on \"Cancelar\" did not reach the flag";
    EXPECT_TRUE(without_pumping_until([&] { return !IsWindowEnabled(cancel); }));
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(shown, nullptr), &gui));
    EXPECT_EQ(gui.hwndActive, nullptr) << "the click activated the progress window";
    EXPECT_EQ(gui.hwndFocus, nullptr) << "the click gave \"Cancelar\" the focus";
    EXPECT_EQ(GetForegroundWindow(), window_) << "the click took the viewer's focus";
    ShowWindow(window_, SW_HIDE);
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
