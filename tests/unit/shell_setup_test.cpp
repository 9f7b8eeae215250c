// What on_plugin_load puts into the host and the main window, and how it comes off again.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "peer_fixture.h"
#include "shell/entry_points.h"
#include "shell/setup.h"

namespace {

using namespace peer_test;

auto* const module = reinterpret_cast<kb::platform::ModuleHandle>(0x10000000);

/// Another plugin that subclasses the main window after ours and chains to what it found.
kb::platform::WindowProc below_other = nullptr;
MessageResult KB_STDCALL other_subclass(WindowHandle w, std::uint32_t m, std::uintptr_t wp,
                                        std::intptr_t lp) {
    return below_other(w, m, wp, lp) + 1000;
}

/// A host whose main window unloads the plugin while handling a message (a "close plugin" command).
MessageResult KB_STDCALL unloading_host_proc(WindowHandle, std::uint32_t, std::uintptr_t,
                                             std::intptr_t) {
    on_plugin_unload();
    return 5;
}

/// A host procedure that checks the module is pinned whenever the window calls through it.
std::vector<kb::platform::ModuleHandle>* pinned_now = nullptr;
MessageResult KB_STDCALL checking_host_proc(WindowHandle window, std::uint32_t message,
                                            std::uintptr_t wparam, std::intptr_t lparam) {
    EXPECT_FALSE(pinned_now->empty()) << "the window called the plugin before the pin";
    return host_window_proc(window, message, wparam, lparam);
}

class Setup : public ViewerTest {
protected:
    void SetUp() override {
        ViewerTest::SetUp();
        plugin.state.module_handle = module;
        desktop.module_names[module] = u"C:\\Apps\\Host\\plugins\\kestro_bimvision_32.dll";
    }
    void load() { on_plugin_load(plugin_id, 0, main_window); }
    kb::platform::WindowProc current_proc() { return desktop.window_proc(main_window); }
    std::u16string icon_path() {
        auto images = host.calls_named({"set_button_image"});
        return images.empty() ? u"" : images.back().texts.at(0);
    }
};

TEST_F(Setup, LoadCreatesTheButtonAndRegistersTheHandlersInOrder) {
    plugin.state.plugin_id = 0;
    plugin.state.main_window = nullptr;
    load();
    EXPECT_EQ(plugin.state.plugin_id, plugin_id);
    EXPECT_EQ(plugin.state.main_window, main_window);
    using C = fake::Call;
    const std::vector<C> expected = {
        C{"create_button", {plugin_id, 0}, {}},
        C{"set_button_text", {plugin_id, 7}, {u"Kestro-BimVision", u"Actualizar KESTRO"}},
        C{"set_button_image", {plugin_id, 7},
          {u"C:\\Apps\\Host\\plugins\\kestro_bimvision_data\\kestro.ico"}},
        C{"on_selection_change", {plugin_id}, {}},
        C{"on_draw", {plugin_id}, {}},
        C{"on_model_load", {plugin_id}, {}},
    };
    EXPECT_EQ(host.calls, expected);
    EXPECT_EQ(host.click_handler, &kb::handler_button_click);
    EXPECT_EQ(host.selection_handler, &kb::handler_selection_change);
    EXPECT_EQ(host.draw_handler, &kb::handler_draw);
    EXPECT_EQ(host.model_load_handler, &kb::handler_model_load);
}

TEST_F(Setup, TheModuleFolderDropsOnlyTheLastBackslashPartAndHasNoLengthLimit) {
    EXPECT_EQ(kb::module_directory(plugin, module), u"C:\\Apps\\Host\\plugins");
    desktop.module_names[module] = u"kestro_bimvision_32.dll";
    EXPECT_EQ(kb::module_directory(plugin, module), u"kestro_bimvision_32.dll");
    load();
    EXPECT_EQ(icon_path(), u"kestro_bimvision_32.dll\\kestro_bimvision_data\\kestro.ico");

    std::u16string deep = u"\\\\?\\D:";
    while (deep.size() < 400) deep += u"\\carpeta";
    desktop.module_names[module] = deep + u"\\kestro_bimvision_32.dll";
    EXPECT_EQ(kb::module_directory(plugin, module), deep);
}

TEST_F(Setup, WithoutCreateButtonTheTextAndImageGoToButtonZero) {
    host.missing.insert("create_button");
    host.install();
    load();
    auto calls = host.calls_named({"set_button_text", "set_button_image"});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args[1], 0u);
    EXPECT_EQ(calls[1].args[1], 0u);
}

TEST_F(Setup, TheSubclassPassesMessagesToTheHostsProcedureAndIsInstalledOnce) {
    load();
    load();
    EXPECT_EQ(current_proc(), &kb::window_proc_trampoline);
    EXPECT_EQ(plugin.state.previous_window_proc, &host_window_proc);
    EXPECT_EQ(desktop.deliver(main_window, 0x0010, 1, 2), 7);
    EXPECT_EQ(host_messages.size(), 1u);  // once: no second layer of the plugin
}

TEST_F(Setup, TheModuleIsPinnedAsTheSubclassGoesInAndNotWithoutOne) {
    plugin.state.main_window = nullptr;
    on_plugin_load(plugin_id, 0, nullptr);  // no window: nothing to subclass, nothing to pin
    EXPECT_TRUE(desktop.pinned.empty());
    desktop.set_window_proc(main_window, &checking_host_proc);
    pinned_now = &desktop.pinned;
    load();
    EXPECT_EQ(desktop.pinned, std::vector<kb::platform::ModuleHandle>{module});
    EXPECT_EQ(desktop.deliver(main_window, 0x0010, 0, 0), 7);
    load();  // installed once, pinned once
    EXPECT_EQ(desktop.pinned.size(), 1u);
}

TEST_F(Setup, UnloadPutsTheHostsProcedureBackAndALaterLoadInstallsAgain) {
    load();
    on_plugin_unload();
    EXPECT_EQ(current_proc(), &host_window_proc);
    on_plugin_unload();
    EXPECT_EQ(current_proc(), &host_window_proc);
    load();
    EXPECT_EQ(current_proc(), &kb::window_proc_trampoline);
    EXPECT_EQ(plugin.state.previous_window_proc, &host_window_proc);
}

TEST_F(Setup, UnloadFromInsideAMessageThroughThePluginRestoresAndTheModuleStaysPinned) {
    desktop.set_window_proc(main_window, &unloading_host_proc);
    load();
    EXPECT_EQ(desktop.deliver(main_window, 0x0111, 0, 0), 5);
    EXPECT_EQ(current_proc(), &unloading_host_proc);  // the host's procedure is back
    // The plugin's procedure was still on the stack: the module must outlive that call.
    EXPECT_EQ(desktop.pinned, std::vector<kb::platform::ModuleHandle>{module});
}

TEST_F(Setup, UnloadUnderAnotherSubclassKeepsTheChainAndThePin) {
    load();
    below_other = desktop.set_window_proc(main_window, &other_subclass);
    on_plugin_unload();
    EXPECT_EQ(desktop.pinned, std::vector<kb::platform::ModuleHandle>{module});
    EXPECT_EQ(current_proc(), &other_subclass);
    load();  // must not put the plugin on top of a chain that already holds it
    EXPECT_EQ(current_proc(), &other_subclass);
    EXPECT_EQ(desktop.deliver(main_window, 0x0010, 0, 0), 1007);
    EXPECT_EQ(host_messages.size(), 1u);
}

TEST_F(Setup, DrawHandsOverTheSameAllZeroLabelAndModelLoadKeepsTheLatestPseudoId) {
    load();
    host.draw_handler();
    const void* first = host.last_label;
    host.draw_handler();
    EXPECT_EQ(host.last_label, first);
    ASSERT_NE(first, nullptr);
    const unsigned char zero[sizeof(bv::LabelRecord)] = {};
    EXPECT_EQ(std::memcmp(first, zero, sizeof zero), 0);
    EXPECT_EQ(host.calls_named({"draw_label"}).size(), 2u);

    EXPECT_EQ(plugin.state.selected_id, 0u);
    host.selected_pseudo_id = 0x1111;
    host.model_load_handler();
    host.selected_pseudo_id = 0x2222000000003333ull;
    host.model_load_handler();
    EXPECT_EQ(plugin.state.selected_id, 0x2222000000003333ull);
}

TEST_F(Setup, TheHostsButtonCallbackRunsTheUpdateTrigger) {
    load();
    host.click_handler();
    ASSERT_EQ(desktop.message_boxes.size(), 1u);  // no KESTRO on this desktop
    start_peer();
    host.click_handler();
    ASSERT_EQ(desktop.sent.size(), 1u);
    EXPECT_EQ(desktop.sent[0].from, main_window);
}

}  // namespace

// ---- the module's life, through the calls its entry point makes at attach and detach ----

namespace {

int objects_released = 0;

/// The module's process-wide objects as the entry point makes them, on a simulated desktop.
struct SimModuleObjects final : kb::ModuleObjects {
    kb::sim::SimDesktop desktop;
    kb::Plugin instance{desktop.platform()};
    kb::Plugin& plugin() override { return instance; }
    ~SimModuleObjects() override { ++objects_released; }
};

class ModuleLife : public ::testing::Test {
protected:
    void SetUp() override {
        host_messages.clear();
        objects_released = 0;
        objects = new SimModuleObjects;
        objects->desktop.module_names[module] = u"C:\\Apps\\Host\\plugins\\kestro_bimvision_32.dll";
        main_window = objects->desktop.add_window(viewer_pid, &host_window_proc);
        kb::on_process_attach(objects, module, &fake::FakeHost::resolve, &host);
    }
    void TearDown() override {
        if (objects_released == 0) {  // a failed case: take the subclass off and let go
            on_plugin_unload();
            kb::on_process_detach(false);
        }
        kb::set_active_plugin(nullptr);
    }
    fake::FakeHost host;  // unbound until the attach binds it
    SimModuleObjects* objects = nullptr;
    WindowHandle main_window = nullptr;
};

TEST_F(ModuleLife, AttachKeepsTheModuleHandleThatLoadUsesAndUnloadWithoutASubclassReleasesAll) {
    EXPECT_EQ(kb::active_plugin(), &objects->instance);
    EXPECT_EQ(objects->instance.state.module_handle, module);
    on_plugin_load(plugin_id, 0, main_window);
    auto images = host.calls_named({"set_button_image"});
    ASSERT_EQ(images.size(), 1u) << "the host table was bound at attach";
    EXPECT_EQ(images[0].texts.at(0), u"C:\\Apps\\Host\\plugins\\kestro_bimvision_data\\kestro.ico");
    EXPECT_EQ(objects->desktop.pinned, std::vector<kb::platform::ModuleHandle>{module});
    on_plugin_unload();
    EXPECT_EQ(objects->desktop.window_proc(main_window), &host_window_proc);

    kb::on_process_detach(false);  // FreeLibrary
    EXPECT_EQ(objects_released, 1);
    ASSERT_EQ(kb::active_plugin(), nullptr);
    host.click_handler();  // a handler the host still holds now does nothing
}

TEST_F(ModuleLife, AModuleNeverLoadedIsReleasedAtFreeLibraryButNothingIsReleasedAsTheProcessEnds) {
    kb::on_process_detach(true);  // the process ends: the objects stay
    EXPECT_EQ(objects_released, 0);
    EXPECT_EQ(kb::active_plugin(), &objects->instance);
    kb::on_process_detach(false);
    EXPECT_EQ(objects_released, 1);
    EXPECT_EQ(kb::active_plugin(), nullptr);
}

TEST_F(ModuleLife, WhileTheSubclassIsInPlaceTheObjectsStay) {
    on_plugin_load(plugin_id, 0, main_window);
    kb::on_process_detach(false);  // only if the pin failed
    kb::on_process_detach(true);
    EXPECT_EQ(objects_released, 0);
    EXPECT_EQ(kb::active_plugin(), &objects->instance);
    EXPECT_EQ(objects->desktop.deliver(main_window, 0x0010, 0, 0), 7) << "still served";
    on_plugin_unload();
    kb::on_process_detach(false);
    EXPECT_EQ(objects_released, 1);
}

}  // namespace
