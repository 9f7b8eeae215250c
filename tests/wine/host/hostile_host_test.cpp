// The real module in a stand-in viewer that is hard to live in: it runs with floating-point
// exceptions unmasked, serves infinite and not-a-number geometry, reports absurd counts, and may
// have the shared GCC run-time (libgcc_s_dw2-1.dll) loaded before or after the module
// (KB_FOREIGN_RUNTIME=before|after).
//
// The plugin never takes its own process for KESTRO, so KESTRO is a second copy of this program,
// started with --kestro from the same folder, whose path holds the token. Its one top-level window
// writes every WM_COPYDATA it takes to files beside the program before it answers, so the block
// is on disk by the time the plugin's send has returned.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "fp_control.h"
#include "plugin_module.h"
#include "recording_host.h"
#include "stdcall_call.h"
#include "test_window.h"
#include "wine_time.h"

namespace {

using kbtest::answers;
using namespace fp_test;
using u32 = std::uint32_t;

constexpr u32 plugin_id = 0x00C0FFEE;
constexpr std::size_t record_size = 12336;

u32 word(const void* p) { return static_cast<u32>(reinterpret_cast<std::uintptr_t>(p)); }

// ---- the KESTRO side ------------------------------------------------------------------------

const wchar_t kestro_class[] = L"KbHostileKestro";

std::wstring beside_program(const wchar_t* name) {
    return kbtest::executable_directory() + L"\\" + name;
}

void write_file(const std::wstring& path, const void* bytes, DWORD size) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, bytes, size, &written, nullptr);
    CloseHandle(f);
}

LRESULT CALLBACK kestro_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    static int count = 0;
    if (message == WM_COPYDATA) {
        auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        write_file(beside_program(L"kestro_block.bin"), copy->lpData, copy->cbData);
        const std::string n = std::to_string(++count);
        write_file(beside_program(L"kestro_count.txt"), n.data(), static_cast<DWORD>(n.size()));
        return kbtest::copydata_answer;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

int run_as_kestro() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = kestro_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kestro_class;
    if (RegisterClassW(&wc) == 0) return 3;
    if (CreateWindowExW(0, kestro_class, L"KESTRO", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                        nullptr, wc.hInstance, nullptr) == nullptr)
        return 3;
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    return 0;
}

// Started with --kestro, this program is KESTRO and never reaches the tests.
const bool kestro_mode = [] {
    if (std::wcsstr(GetCommandLineW(), L" --kestro") != nullptr) ExitProcess(run_as_kestro());
    return false;
}();

/// The KESTRO copy of this program, running for as long as the tests do.
class KestroProcess {
public:
    KestroProcess() {
        DeleteFileW(beside_program(L"kestro_block.bin").c_str());
        DeleteFileW(beside_program(L"kestro_count.txt").c_str());
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(path) + L"\" --kestro";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        if (!CreateProcessW(path, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &process_))
            return;
        const DWORD limit = kbtest::time_limit_ms(10000), start = GetTickCount();
        while (FindWindowW(kestro_class, nullptr) == nullptr && GetTickCount() - start < limit) Sleep(50);
        ready_ = FindWindowW(kestro_class, nullptr) != nullptr;
    }
    ~KestroProcess() {
        if (process_.hProcess == nullptr) return;
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, kbtest::time_limit_ms(5000));
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    bool ready() const { return ready_; }

    /// How many messages KESTRO has taken, and the bytes of the last one.
    static int received() {
        std::ifstream in(beside_program(L"kestro_count.txt").c_str());
        int n = 0;
        in >> n;
        return n;
    }
    static std::string last_block() {
        std::ifstream in(beside_program(L"kestro_block.bin").c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    PROCESS_INFORMATION process_{};
    bool ready_ = false;
};

// ---- the viewer side ------------------------------------------------------------------------

HMODULE load_foreign_runtime() {
    return LoadLibraryW((kbtest::executable_directory() + L"\\libgcc_s_dw2-1.dll").c_str());
}

struct Viewer {
    KestroProcess kestro;
    kbtest::PluginModule plugin;
    HWND main_window = nullptr;
    HMODULE foreign_runtime = nullptr;
    std::string foreign_mode;
    const void* click = nullptr;
    const void* selection_changed = nullptr;

    static Viewer& get() {
        static Viewer v;
        return v;
    }

private:
    Viewer() {
        const char* mode = std::getenv("KB_FOREIGN_RUNTIME");
        foreign_mode = mode != nullptr ? mode : "";
        main_window = kbtest::create_test_window(L"Visor hostil");
        if (foreign_mode == "before") foreign_runtime = load_foreign_runtime();
        plugin = kbtest::load_plugin_module();
        if (foreign_mode == "after") foreign_runtime = load_foreign_runtime();
        if (!plugin.complete() || main_window == nullptr) return;
        kbtest::host_calls().clear();
        call_stdcall(plugin.on_plugin_load, {plugin_id, 0, word(main_window)});
        for (const auto& c : kbtest::host_calls()) {
            if (c.name == "create_button") click = reinterpret_cast<const void*>(c.words[2]);
            if (c.name == "on_selection_change")
                selection_changed = reinterpret_cast<const void*>(c.words[1]);
        }
    }
};

class HostileHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(viewer().main_window, nullptr) << "no window (is DISPLAY set?)";
        ASSERT_TRUE(viewer().kestro.ready()) << "the KESTRO copy of this program did not start";
        ASSERT_TRUE(viewer().plugin.complete());
        ASSERT_NE(viewer().click, nullptr);
        ASSERT_NE(viewer().selection_changed, nullptr);
        if (!viewer().foreign_mode.empty()) {
            ASSERT_NE(viewer().foreign_runtime, nullptr) << "libgcc_s_dw2-1.dll beside the test";
        }
        answers().reset();
        kbtest::host_calls().clear();
    }
    void TearDown() override { answers().reset(); }
    static Viewer& viewer() { return Viewer::get(); }
    static int received() { return KestroProcess::received(); }
};

/// The record of model object 1 ("Losa 2") as the plugin must write it for an update.
std::string expected_finite_record(double dx, double dy, double dz) {
    std::string r(record_size, '\0');
    const auto& o = kbtest::model()[1];
    for (std::size_t i = 0; o.guid[i] != 0; ++i) r[i] = static_cast<char>(o.guid[i]);
    for (std::size_t i = 0; o.name[i] != 0; ++i) r[100 + i] = static_cast<char>(o.name[i]);
    std::memcpy(&r[2304], &dx, 8);
    std::memcpy(&r[2312], &dy, 8);
    std::memcpy(&r[2320], &dz, 8);
    const std::int32_t update = 0x402;
    std::memcpy(&r[2328], &update, 4);
    const char valores[] = "#VOLUMEN#12.500000#AREA#2.333333";
    std::memcpy(&r[2332], valores, sizeof valores - 1);
    return r;
}

TEST_F(HostileHost, UnmaskedExceptionsAndInfiniteGeometryStillSendBothRecords) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    answers().all_count = 2;
    // Object 0: inf - inf (invalid), 1.7e308 - -1.7e308 (overflow), a NaN bound; inf volume and
    // NaN area. Object 1: plain numbers.
    const double broken[6] = {inf, -1.7e308, nan, inf, 1.7e308, 1.0};
    const double finite[6] = {0.25, -1.5, 0.0, 4.75, 2.5, 3.125};
    std::memcpy(answers().bounds[0], broken, sizeof broken);
    std::memcpy(answers().bounds[1], finite, sizeof finite);
    answers().volume[0] = inf;
    answers().area[0] = nan;
    answers().volume[1] = 12.5;
    answers().area[1] = 7.0 / 3.0;

    const int before = received();
    const std::uint16_t saved_cw = x87_control();
    const std::uint32_t saved_mxcsr = mxcsr();
    set_mxcsr(host_mxcsr);
    set_x87_control(host_x87_control);
    call_stdcall(viewer().click, {});
    const std::uint16_t cw_after = x87_control();
    const std::uint32_t mxcsr_after = mxcsr();
    set_x87_control(saved_cw);
    set_mxcsr(saved_mxcsr);

    EXPECT_EQ(cw_after, host_x87_control) << "the viewer's control word comes back";
    EXPECT_EQ(mxcsr_after, host_mxcsr);
    ASSERT_EQ(received(), before + 1);
    const std::string block = KestroProcess::last_block();
    ASSERT_EQ(block.size(), 2 * record_size);
    EXPECT_EQ(block.substr(record_size), expected_finite_record(4.5, 4.0, 3.125));
    double dx, dy, dz;
    std::memcpy(&dx, &block[2304], 8);
    std::memcpy(&dy, &block[2312], 8);
    std::memcpy(&dz, &block[2320], 8);
    EXPECT_TRUE(dx != dx) << "NaN";
    EXPECT_TRUE(dy == inf);
    EXPECT_TRUE(dz != dz) << "NaN";
    EXPECT_EQ(std::string(&block[2332]), "#VOLUMEN#inf#AREA#nan");
}

TEST_F(HostileHost, ThrowingPathsAreCaughtInsideTheModuleAndItKeepsWorking) {
    // A selection count no list can hold: the vector refuses it with an exception.
    answers().selected_count = 0xFFFFFFFFu;
    EXPECT_EQ(call_stdcall(viewer().plugin.on_drag_enter, {1, 2, 3}).eax, 2u);
    // A property count whose list cannot be allocated in a 32-bit process.
    answers().selected_count = 1;
    answers().property_count = 0x05000000u;
    EXPECT_EQ(call_stdcall(viewer().plugin.on_drag_enter, {1, 2, 3}).eax, 2u);
    EXPECT_EQ(call_stdcall(viewer().selection_changed, {}).left, 0);

    // Still alive; an ordinary drag now sends its one record.
    answers().property_count = 0;
    const int before = received();
    EXPECT_EQ(call_stdcall(viewer().plugin.on_drag_enter, {1, 2, 3}).eax, 2u);
    ASSERT_EQ(received(), before + 1);
    const std::string block = KestroProcess::last_block();
    ASSERT_EQ(block.size(), record_size);
    EXPECT_EQ(std::string(block.c_str()), "3vB2YO$MX4xv5uCqZZG05x");
}

}  // namespace
