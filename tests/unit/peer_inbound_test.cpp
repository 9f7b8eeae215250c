// GUID requests arriving at the host's main window, searched in a fake viewer model.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "peer/inbound.h"
#include "peer_fixture.h"

namespace {

using namespace peer_test;

constexpr bv::ObjectId pseudo = 0xFFFFFFFF00000001ull;

class Inbound : public ViewerTest {
protected:
    void SetUp() override {
        ViewerTest::SetUp();
        plugin.state.previous_window_proc = &host_window_proc;
        plugin.state.selected_id = pseudo;
    }

    /// Sends `text` with cbData counting exactly its bytes and no terminator; the byte after
    /// them is a letter, so reading past cbData changes the text.
    MessageResult send_exact(const std::string& text) {
        auto buffer = std::make_unique<char[]>(text.size() + 1);
        std::memcpy(buffer.get(), text.data(), text.size());
        buffer[text.size()] = 'Z';
        CopyData cds{12345, static_cast<std::uint32_t>(text.size()), buffer.get()};
        return request(cds);
    }
    MessageResult send_text(const std::string& text) {
        CopyData cds{0, static_cast<std::uint32_t>(text.size() + 1), text.c_str()};
        return request(cds);
    }

    /// The id that was zoomed to, or 0 when nothing was selected.
    bv::ObjectId zoomed() {
        auto z = host.calls_named({"zoom_to"});
        return z.empty() ? 0 : z.back().args[1];
    }
    bool nothing_selected() { return host.calls_named({"zoom_to", "unselect_openings"}).empty(); }
};

TEST_F(Inbound, AMatchClearsThenSelectsActivatesAndZoomsAndTheHostAnswers) {
    host.element(5, u"AAA");
    host.element(6, u"BBB");
    EXPECT_EQ(send_text("BBB"), host_copydata_result);

    using C = fake::Call;
    const std::vector<C> expected = {
        C{"select", {plugin_id, pseudo, 0}, {}},
        C{"set_object_active", {plugin_id, pseudo, 0, 0}, {}},
        C{"invalidate", {plugin_id}, {}},
        C{"select", {plugin_id, 6, 1}, {}},
        C{"set_object_active", {plugin_id, 6, 1, 0}, {}},
        C{"unselect_openings", {plugin_id, 6}, {}},
        C{"zoom_to", {plugin_id, 6}, {}},
        C{"invalidate", {plugin_id}, {}},
    };
    EXPECT_EQ(host.calls, expected);
    ASSERT_EQ(host_messages.size(), 1u);
    EXPECT_EQ(host_messages[0].window, main_window);
    EXPECT_EQ(host_messages[0].message, copy_data_message);
    EXPECT_EQ(host_messages[0].wparam, 0x5150u);
    ASSERT_EQ(desktop.forwarded.size(), 1u);
    EXPECT_EQ(desktop.forwarded[0].previous, &host_window_proc);
    EXPECT_EQ(desktop.debug_lines,
              (std::vector<std::u16string>{
                  u"kestro_bimvision: GUID request of 3 bytes: found object 6"}));
}

TEST_F(Inbound, TheFirstCarrierInObjectSetAndPropertyOrderIsSelected) {
    host.element(1, u"");
    auto& second = host.element(2, u"");
    second.set(2).text(u"Guid", u"G");
    host.element(3, u"G");  // set 0, but a later object
    EXPECT_EQ(send_text("G"), host_copydata_result);
    EXPECT_EQ(zoomed(), 2u);
    EXPECT_EQ(host.calls_named({"select"}).size(), 2u);
}

TEST_F(Inbound, OnlyAnExactWholeTextValueOfAGuidPropertyMatches) {
    auto& o = host.element(1, u"");
    o.set(0).null_name().null_text(u"Guid").number(u"Guid", 7.0).text(u"guid", u"abc");
    o.set(1).text(u"Guid", u"ABC ").text(u"Guid", u"abc").text(u"Guid", u" ABC");
    for (const char* text : {"ABC", "7.000000", "7", ""}) {
        host.calls.clear();
        send_text(text);
        EXPECT_TRUE(nothing_selected()) << text;
        EXPECT_EQ(host.calls_named({"select"}).size(), 1u) << text;  // only the clearing
    }
    host.element(2, u"ABC");
    send_text("ABC");
    EXPECT_EQ(zoomed(), 2u);
}

TEST_F(Inbound, AnEmptyTextSelectsTheFirstEmptyGuidValue) {
    host.element(1, u"X");
    host.element(2, u"").set(0).text(u"Guid", u"");
    send_text("");
    EXPECT_EQ(zoomed(), 2u);
}

TEST_F(Inbound, TheTextEndsAtItsNulOrAtCbDataWhicheverComesFirst) {
    host.element(1, u"ABC");
    send_exact("ABC");  // no terminator within cbData
    EXPECT_EQ(zoomed(), 1u);

    host.calls.clear();
    const char with_tail[] = "ABC\0DEF";
    CopyData cds{0, sizeof with_tail, with_tail};
    request(cds);
    EXPECT_EQ(zoomed(), 1u);

    host.calls.clear();
    send_exact("ABCD");
    EXPECT_TRUE(nothing_selected());
}

TEST_F(Inbound, LongTextsAreComparedWholeAndHighBytesAsLatin1) {
    std::u16string long_guid(150, u'k');
    host.element(1, long_guid.substr(0, 99));
    host.element(2, long_guid);
    host.element(3, u"\u00e9t\u00e9\u00ff");
    send_exact(std::string(150, 'k'));
    EXPECT_EQ(zoomed(), 2u);
    send_exact(std::string(99, 'k'));
    EXPECT_EQ(zoomed(), 1u);
    send_text("\xE9t\xE9\xFF");
    EXPECT_EQ(zoomed(), 3u);
}

TEST_F(Inbound, WithoutDataNothingIsClearedButTheMessageStillGoesOn) {
    host.element(1, u"");
    CopyData no_bytes{0, 16, nullptr};
    EXPECT_EQ(request(no_bytes), host_copydata_result);
    EXPECT_EQ(kb::window_proc_trampoline(main_window, copy_data_message, 0, 0), host_copydata_result);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(host_messages.size(), 2u);
}

TEST_F(Inbound, OtherMessagesPassStraightOnWithTheirArguments) {
    host.element(1, u"A");
    EXPECT_EQ(kb::window_proc_trampoline(main_window, 0x000F, 11, -12), 7);
    EXPECT_TRUE(host.calls.empty());
    ASSERT_EQ(host_messages.size(), 1u);
    EXPECT_EQ(host_messages[0].message, 0x000Fu);
    EXPECT_EQ(host_messages[0].wparam, 11u);
    EXPECT_EQ(host_messages[0].lparam, -12);
}

TEST_F(Inbound, BeforeAnyModelLoadTheClearingUsesPseudoIdZeroAndAnEmptyModelEndsThere) {
    plugin.state.selected_id = 0;
    send_text("A");
    using C = fake::Call;
    const std::vector<C> expected = {
        C{"select", {plugin_id, 0, 0}, {}},
        C{"set_object_active", {plugin_id, 0, 0, 0}, {}},
        C{"invalidate", {plugin_id}, {}},
    };
    EXPECT_EQ(host.calls, expected);
    EXPECT_EQ(desktop.debug_lines,
              (std::vector<std::u16string>{
                  u"kestro_bimvision: GUID request of 1 bytes: the model has no objects"}));
}

TEST_F(Inbound, EveryRequestLeavesOneDiagnosticsLine) {
    host.element(5, u"AAA");
    send_text("ZZZZ");
    CopyData no_data{0, 10, nullptr};
    request(no_data);
    EXPECT_EQ(desktop.debug_lines,
              (std::vector<std::u16string>{
                  u"kestro_bimvision: GUID request of 4 bytes: no object carries it",
                  u"kestro_bimvision: GUID request without data: passed on"}));
}

}  // namespace
