// The real module inside an executable that exports none of the host's names: the module still
// loads, every entry point answers, nothing crashes, and unloading leaves the window working. The
// module pins itself when its subclass goes in, so FreeLibrary never takes it away.
#include <gtest/gtest.h>

#include "plugin_module.h"
#include "stdcall_call.h"
#include "test_window.h"

namespace {

using u32 = std::uint32_t;

u32 word(const void* p) { return static_cast<u32>(reinterpret_cast<std::uintptr_t>(p)); }

// A second subclass installed on top of the plugin's, forwarding to whatever was below it.
LONG proc_below_outer = 0;
LRESULT CALLBACK outer_subclass(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return CallWindowProcW(reinterpret_cast<WNDPROC>(proc_below_outer), w, m, wp, lp);
}

TEST(HostWithoutExports,
     EveryEntryPointAnswersAndAfterUnloadThePinnedModuleStaysWithTheWindowRestored) {
    HWND window = kbtest::create_test_window(L"Sin funciones");
    ASSERT_NE(window, nullptr) << "no window (is DISPLAY set?)";
    const auto original = GetWindowLongW(window, GWL_WNDPROC);

    kbtest::PluginModule plugin = kbtest::load_plugin_module();
    ASSERT_TRUE(plugin.complete());

    EXPECT_EQ(call_stdcall(plugin.on_plugin_load, {1, 0, word(window)}).left, 0);
    std::int32_t pair[2] = {};
    EXPECT_EQ(call_stdcall(plugin.get_api_verion, {0, word(pair)}).eax, word(pair));
    EXPECT_EQ(pair[1], 38);
    EXPECT_EQ(call_stdcall(plugin.on_drag_enter, {0, 0, 0}).eax, 2u);
    EXPECT_EQ(call_stdcall(plugin.on_drag_over, {0, 0, 5}).eax, 5u);
    EXPECT_EQ(call_stdcall(plugin.on_drop, {0, 0, 0, 0}).eax, 0u);
    EXPECT_EQ(call_stdcall(plugin.on_model_load_v2, {0}).eax & 0xFF, 0u);
    EXPECT_EQ(call_stdcall(plugin.on_gui_colors_change, {}).left, 0);
    EXPECT_EQ(call_stdcall(plugin.on_model_save_v2, {}).left, 0);

    // A GUID request finds no host functions to call and still reaches the window.
    const char guid[] = "3vB2YO$MX4xv5uCqZZG05x";
    COPYDATASTRUCT copy{0, sizeof guid, const_cast<char*>(guid)};
    int copies = kbtest::window_log().copydata;
    EXPECT_EQ(SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)),
              kbtest::copydata_answer);
    EXPECT_EQ(kbtest::window_log().copydata, copies + 1);
    EXPECT_EQ(SendMessageW(window, kbtest::probe_message, 0, 0), kbtest::probe_answer);

    EXPECT_EQ(call_stdcall(plugin.on_plugin_unload, {}).left, 0);

    // Unloading puts the window's own procedure back; the module was pinned when its subclass
    // went in, so it stays loaded after FreeLibrary, and the window works without it.
    EXPECT_EQ(GetWindowLongW(window, GWL_WNDPROC), original);
    EXPECT_TRUE(FreeLibrary(plugin.module));
    EXPECT_EQ(GetModuleHandleW(L"kestro_bimvision_32.dll"), plugin.module);
    EXPECT_EQ(GetWindowLongW(window, GWL_WNDPROC), original);
    EXPECT_EQ(SendMessageW(window, kbtest::probe_message, 0, 0), kbtest::probe_answer);
    DestroyWindow(window);
}

TEST(HostWithoutExports, ModuleSubclassedUnderAnotherSubclassStaysLoadedAfterFreeLibrary) {
    HWND window = kbtest::create_test_window(L"Doble subclase");
    ASSERT_NE(window, nullptr);
    kbtest::PluginModule plugin = kbtest::load_plugin_module();
    ASSERT_TRUE(plugin.complete());
    call_stdcall(plugin.on_plugin_load, {2, 0, word(window)});
    const auto plugin_proc = GetWindowLongW(window, GWL_WNDPROC);
    ASSERT_TRUE(plugin.contains(static_cast<std::uintptr_t>(plugin_proc)));

    // Someone else subclasses on top and forwards to the plugin's procedure.
    proc_below_outer = plugin_proc;
    SetWindowLongW(window, GWL_WNDPROC,
                   static_cast<LONG>(reinterpret_cast<std::uintptr_t>(&outer_subclass)));

    // The plugin cannot take itself out of the chain, so it must not go away under it.
    FreeLibrary(plugin.module);
    EXPECT_NE(GetModuleHandleW(L"kestro_bimvision_32.dll"), nullptr);
    EXPECT_EQ(SendMessageW(window, kbtest::probe_message, 0, 0), kbtest::probe_answer);
    DestroyWindow(window);
}

}  // namespace
