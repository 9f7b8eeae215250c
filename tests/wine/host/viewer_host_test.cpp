// The real module inside a stand-in viewer: entry points called through stdcall pointers from
// GetProcAddress, host functions found by the module in this executable's own export table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin_module.h"
#include "recording_host.h"
#include "stdcall_call.h"
#include "test_window.h"

namespace {

using kbtest::host_call_names;
using kbtest::host_calls;
using u32 = std::uint32_t;

constexpr u32 plugin_id = 0x00C0FFEE;

u32 word(const void* p) { return static_cast<u32>(reinterpret_cast<std::uintptr_t>(p)); }
u32 lo(std::uint64_t v) { return static_cast<u32>(v); }
u32 hi(std::uint64_t v) { return static_cast<u32>(v >> 32); }

// One viewer for the whole run: the module is loaded once and on_plugin_load is called once, as a
// viewer does; the calls the plugin made during the load are kept for the tests that read them.
struct Viewer {
    kbtest::PluginModule plugin;
    HWND main_window = nullptr;
    WNDPROC original_proc = nullptr;
    std::vector<kbtest::HostCall> load_calls;
    std::int32_t load_stack_left = -1;

    static Viewer& get() {
        static Viewer v;
        return v;
    }

private:
    Viewer() {
        main_window = kbtest::create_test_window(L"Visor de pruebas");
        original_proc = reinterpret_cast<WNDPROC>(GetWindowLongW(main_window, GWL_WNDPROC));
        plugin = kbtest::load_plugin_module();
        if (!plugin.complete() || main_window == nullptr) return;
        host_calls().clear();
        load_stack_left =
            call_stdcall(plugin.on_plugin_load, {plugin_id, 0x5A5A5A5A, word(main_window)}).left;
        load_calls = host_calls();
        host_calls().clear();
    }
};

class ViewerHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(viewer().main_window, nullptr) << "no window (is DISPLAY set?)";
        ASSERT_TRUE(viewer().plugin.complete()) << "module or one of its entry points missing";
        host_calls().clear();
    }
    static Viewer& viewer() { return Viewer::get(); }
    static const kbtest::HostCall* load_call(const std::string& name) {
        for (const auto& c : viewer().load_calls)
            if (c.name == name) return &c;
        return nullptr;
    }
    static const void* handler(const std::string& registration, std::size_t word_index) {
        const kbtest::HostCall* c = load_call(registration);
        if (c == nullptr || c->words.size() <= word_index) return nullptr;
        return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(c->words[word_index]));
    }
};

// ---- fixed answers of the entry points ----

TEST_F(ViewerHost, ApiVersionPairReads5And38AndTheSecondArgumentComesBack) {
    for (u32 first : {0u, 1u, 0xFFFFFFFFu}) {
        std::int32_t pair[2] = {-1, -1};
        auto r = call_stdcall(viewer().plugin.get_api_verion, {first, word(pair)});
        EXPECT_EQ(r.left, 0);
        EXPECT_EQ(r.eax, word(pair));
        EXPECT_EQ(pair[0], 5);
        EXPECT_EQ(pair[1], 38);
    }
}

TEST_F(ViewerHost, PluginInfoFillsFiveTextPointersThatStayTheSame) {
    const char16_t* info[6] = {};
    const char16_t* again[6] = {};
    auto r = call_stdcall(viewer().plugin.get_plugin_info, {word(info)});
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.eax, word(info));
    call_stdcall(viewer().plugin.get_plugin_info, {word(again)});
    for (int i = 0; i < 5; ++i) {
        ASSERT_NE(info[i], nullptr) << "slot " << i;
        EXPECT_EQ(info[i], again[i]) << "slot " << i;
        EXPECT_TRUE(viewer().plugin.contains(reinterpret_cast<std::uintptr_t>(info[i])));
    }
    EXPECT_EQ(info[5], nullptr) << "only five slots are written";
    EXPECT_EQ(std::u16string(info[0]), u"kestro_bimvision");
    EXPECT_EQ(std::u16string(info[4]), u"Conexion con KESTRO");
}

TEST_F(ViewerHost, DragOverHandsBackItsThirdArgumentUntouched) {
    for (u32 effect : {0u, 1u, 2u, 0x80000001u, 0xFFFFFFFFu}) {
        auto r = call_stdcall(viewer().plugin.on_drag_over, {0x11, 0x22, effect});
        EXPECT_EQ(r.left, 0);
        EXPECT_EQ(r.eax, effect);
    }
}

TEST_F(ViewerHost, DropAnswers0AndModelLoadV2AnswersFalse) {
    for (int i = 0; i < 3; ++i) {
        auto drop = call_stdcall(viewer().plugin.on_drop, {1, 2, 3, 4});
        EXPECT_EQ(drop.left, 0);
        EXPECT_EQ(drop.eax, 0u);
        auto load = call_stdcall(viewer().plugin.on_model_load_v2, {0xDEADBEEF});
        EXPECT_EQ(load.left, 0);
        EXPECT_EQ(load.eax & 0xFF, 0u) << "a one-byte false";
    }
    EXPECT_TRUE(host_calls().empty());
}

TEST_F(ViewerHost, DragEnterWithoutKestroRunningAnswers2AndAsksTheHostNothing) {
    auto r = call_stdcall(viewer().plugin.on_drag_enter, {7, 8, 9});
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.eax, 2u);
    EXPECT_TRUE(host_calls().empty()) << host_calls().front().name;
}

TEST_F(ViewerHost, ArgumentlessEntryPointsReturnWithTheStackAsTheyFoundIt) {
    EXPECT_EQ(call_stdcall(viewer().plugin.on_gui_colors_change, {}).left, 0);
    EXPECT_EQ(call_stdcall(viewer().plugin.on_model_save_v2, {}).left, 0);
    EXPECT_EQ(viewer().load_stack_left, 0) << "on_plugin_load removes its three words";
}

// ---- what the host receives during on_plugin_load ----

TEST_F(ViewerHost, PluginLoadCreatesTheButtonRegistersHandlersInOrderAllUnderThePluginId) {
    std::vector<std::string> names;
    for (const auto& c : viewer().load_calls) {
        names.push_back(c.name);
        ASSERT_FALSE(c.words.empty());
        EXPECT_EQ(c.words[0], plugin_id) << c.name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"create_button", "set_button_text",
                                               "set_button_image", "on_selection_change",
                                               "on_draw", "on_model_load"}));
}

TEST_F(ViewerHost, ButtonGetsBothTextsAndTheIconBesideTheModule) {
    const kbtest::HostCall* create = load_call("create_button");
    const kbtest::HostCall* text = load_call("set_button_text");
    const kbtest::HostCall* image = load_call("set_button_image");
    ASSERT_TRUE(create && text && image);
    EXPECT_EQ(create->words[1], 0u);
    EXPECT_EQ(text->words[1], kbtest::button_id);
    EXPECT_EQ(text->text1, u"Kestro-BimVision");
    EXPECT_EQ(text->text2, u"Actualizar KESTRO");
    EXPECT_EQ(image->words[1], kbtest::button_id);

    std::wstring dir = viewer().plugin.path.substr(0, viewer().plugin.path.find_last_of(L'\\'));
    std::u16string expected(dir.begin(), dir.end());
    expected += u"\\kestro_bimvision_data\\kestro.ico";
    EXPECT_EQ(image->text1, expected);
}

TEST_F(ViewerHost, TheFourHandlersAreDistinctFunctionsOfTheModule) {
    const void* handlers[] = {handler("create_button", 2), handler("on_selection_change", 1),
                              handler("on_draw", 1), handler("on_model_load", 1)};
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(handlers[i], nullptr) << i;
        EXPECT_TRUE(viewer().plugin.contains(reinterpret_cast<std::uintptr_t>(handlers[i]))) << i;
        for (int j = 0; j < i; ++j) EXPECT_NE(handlers[i], handlers[j]) << i << " " << j;
    }
}

// ---- the handlers, called as the host calls them ----

TEST_F(ViewerHost, DrawHandlerHandsTheSameAllZeroLabelEveryTime) {
    const void* draw = handler("on_draw", 1);
    ASSERT_NE(draw, nullptr);
    EXPECT_EQ(call_stdcall(draw, {}).left, 0);
    EXPECT_EQ(call_stdcall(draw, {}).left, 0);
    ASSERT_EQ(host_call_names(), (std::vector<std::string>{"draw_label", "draw_label"}));
    const auto& first = host_calls()[0];
    EXPECT_EQ(first.words, host_calls()[1].words);
    EXPECT_EQ(first.words[0], plugin_id);
    const auto* label = reinterpret_cast<const unsigned char*>(std::uintptr_t{first.words[1]});
    ASSERT_TRUE(viewer().plugin.contains(first.words[1]));
    for (int i = 0; i < 40; ++i) EXPECT_EQ(label[i], 0) << "byte " << i;
}

TEST_F(ViewerHost, SelectionChangeWithoutKestroRunningAsksTheHostNothing) {
    const void* changed = handler("on_selection_change", 1);
    ASSERT_NE(changed, nullptr);
    EXPECT_EQ(call_stdcall(changed, {}).left, 0);
    EXPECT_TRUE(host_calls().empty()) << host_calls().front().name;
}

TEST_F(ViewerHost, ModelLoadFetchesThePseudoIdThatAGuidRequestThenClears) {
    const void* loaded = handler("on_model_load", 1);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(call_stdcall(loaded, {}).left, 0);
    ASSERT_EQ(host_call_names(), std::vector<std::string>{"get_selected_id"});
    host_calls().clear();

    const char guid[] = "0K7w7JN3X9GBV$YoH2Ss0a";
    COPYDATASTRUCT copy{0, sizeof guid, const_cast<char*>(guid)};
    SendMessageW(viewer().main_window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
    ASSERT_GE(host_calls().size(), 2u);
    const std::uint64_t pseudo = kbtest::selected_pseudo_id;
    EXPECT_EQ(host_calls()[0].name, "select");
    EXPECT_EQ(host_calls()[0].words, (std::vector<u32>{plugin_id, lo(pseudo), hi(pseudo), 0}));
    EXPECT_EQ(host_calls()[1].name, "set_object_active");
    EXPECT_EQ(host_calls()[1].words,
              (std::vector<u32>{plugin_id, lo(pseudo), hi(pseudo), 0, 0}));
}

// ---- the subclass of the main window ----

TEST_F(ViewerHost, MainWindowIsSubclassedAndOtherMessagesStillReachTheViewer) {
    auto now = reinterpret_cast<WNDPROC>(GetWindowLongW(viewer().main_window, GWL_WNDPROC));
    EXPECT_NE(now, viewer().original_proc);
    EXPECT_TRUE(viewer().plugin.contains(reinterpret_cast<std::uintptr_t>(now)));
    int before = kbtest::window_log().probes;
    EXPECT_EQ(SendMessageW(viewer().main_window, kbtest::probe_message, 1, 2),
              kbtest::probe_answer);
    EXPECT_EQ(kbtest::window_log().probes, before + 1);
    EXPECT_TRUE(host_calls().empty());
}

TEST_F(ViewerHost, GuidRequestSelectsActivatesAndZoomsToTheObjectThenTheViewerAnswers) {
    const auto& target = kbtest::model()[1];
    const char guid[] = "0K7w7JN3X9GBV$YoH2Ss0a";
    COPYDATASTRUCT copy{0x1234, sizeof guid, const_cast<char*>(guid)};
    int before = kbtest::window_log().copydata;
    LRESULT answer = SendMessageW(viewer().main_window, WM_COPYDATA, 0x99,
                                  reinterpret_cast<LPARAM>(&copy));
    EXPECT_EQ(answer, kbtest::copydata_answer);
    EXPECT_EQ(kbtest::window_log().copydata, before + 1);
    EXPECT_EQ(kbtest::window_log().last_copydata, std::string(guid, sizeof guid));
    EXPECT_EQ(kbtest::window_log().last_copydata_sender, 0x99u);

    auto names = host_call_names();
    ASSERT_GE(names.size(), 5u);
    std::vector<std::string> tail(names.end() - 5, names.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"select", "set_object_active", "unselect_openings",
                                              "zoom_to", "invalidate"}));
    const auto* c = &host_calls()[names.size() - 5];
    EXPECT_EQ(c[0].words, (std::vector<u32>{plugin_id, lo(target.id), hi(target.id), 1}));
    EXPECT_EQ(c[1].words, (std::vector<u32>{plugin_id, lo(target.id), hi(target.id), 1, 0}));
    EXPECT_EQ(c[2].words, (std::vector<u32>{plugin_id, lo(target.id), hi(target.id)}));
    EXPECT_EQ(c[3].words, (std::vector<u32>{plugin_id, lo(target.id), hi(target.id)}));
    EXPECT_EQ(c[4].words, std::vector<u32>{plugin_id});
    // The third object is never looked at: the search ends at the first match.
    for (const auto& call : host_calls()) {
        if (call.name == "get_properties") {
            EXPECT_NE(call.words[1], lo(kbtest::model()[2].id));
        }
    }
}

TEST_F(ViewerHost, GuidNobodyCarriesLeavesTheSelectionClearedAndZoomsNowhere) {
    const char guid[] = "0k7w7jn3x9gbv$yoh2ss0a";  // another letter case
    COPYDATASTRUCT copy{0, sizeof guid, const_cast<char*>(guid)};
    EXPECT_EQ(SendMessageW(viewer().main_window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)),
              kbtest::copydata_answer);
    auto names = host_call_names();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), "select");
    for (const auto& n : names) EXPECT_NE(n, "zoom_to");
}

}  // namespace
