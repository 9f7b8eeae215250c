// The three triggers of an outbound transfer, on a simulated desktop with a fake viewer model.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "peer/transfer.h"
#include "peer_fixture.h"
#include "shell/entry_points.h"

namespace {

using namespace peer_test;

class Transfer : public ViewerTest {
protected:
    /// Three objects: two walls with GUIDs and one without.
    void model() {
        host.element(1, u"2O2Fr$t4X7Zf8NOew3FLOH", u"Muro", u"IfcWall", u"Basico");
        host.element(2, u"", u"Sin guid", u"IfcWall");
        host.element(3, u"1kTvXnbbzCWw8lcMd1dR4o", u"Puerta", u"IfcDoor");
    }
};

TEST_F(Transfer, ButtonWithoutPeerOnlyTellsTheUser) {
    model();
    kb::handle_button_click(plugin);
    ASSERT_EQ(desktop.message_boxes.size(), 1u);
    const auto& box = desktop.message_boxes[0];
    EXPECT_EQ(box.text, u"Debe ejecutar el progrma KESTRO");
    EXPECT_EQ(box.caption, u"Error");
    EXPECT_EQ(box.style, 0u);
    EXPECT_EQ(box.owner, main_window);
    EXPECT_EQ(desktop.window_enumerations, 0);
    EXPECT_EQ(plugin.state.request_code, 0);
    EXPECT_TRUE(desktop.sent.empty());
}

TEST_F(Transfer, SelectionChangeAndDragWithoutPeerAreSilent) {
    model();
    host.selected = {1};
    plugin.state.request_code = kb::REQUEST_UPDATE;
    kb::handle_selection_change(plugin);
    EXPECT_EQ(on_drag_enter(1, 2, 3), 2);
    EXPECT_TRUE(desktop.message_boxes.empty());
    EXPECT_TRUE(desktop.sent.empty());
    EXPECT_EQ(desktop.window_enumerations, 0);
    EXPECT_EQ(plugin.state.request_code, kb::REQUEST_UPDATE);
}

TEST_F(Transfer, ButtonSendsEveryObjectWithGuidToThePeersFirstWindowOnly) {
    model();
    desktop.add_window(viewer_pid);  // another process's window comes first
    WindowHandle first = start_peer();
    desktop.add_window(peer_pid);
    kb::handle_button_click(plugin);

    ASSERT_EQ(desktop.sent.size(), 1u);
    const auto& m = desktop.sent[0];
    EXPECT_EQ(m.to, first);
    EXPECT_EQ(m.from, main_window);
    EXPECT_EQ(m.data, 2u);
    EXPECT_EQ(m.size, 2 * kb::element_record_size);
    auto records = records_of(m);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].guid, "2O2Fr$t4X7Zf8NOew3FLOH");
    EXPECT_EQ(records[1].guid, "1kTvXnbbzCWw8lcMd1dR4o");
    EXPECT_EQ(records[0].codigo, kb::REQUEST_UPDATE);
    EXPECT_EQ(plugin.state.request_code, kb::REQUEST_UPDATE);
    EXPECT_TRUE(desktop.message_boxes.empty());
}

TEST_F(Transfer, ButtonSendsAnEmptyMessageWhenNothingHasAGuid) {
    start_peer();
    kb::handle_button_click(plugin);  // a model without objects
    host.element(9, u"", u"Anonimo");
    kb::handle_button_click(plugin);  // only objects without GUID
    ASSERT_EQ(desktop.sent.size(), 2u);
    for (const auto& m : desktop.sent) {
        EXPECT_EQ(m.data, 0u);
        EXPECT_EQ(m.size, 0u);
        EXPECT_EQ(m.from, main_window);
    }
}

TEST_F(Transfer, SelectionChangeSendsOnlyForExactlyOneSelectedObjectWithGuid) {
    model();
    start_peer();
    host.selected = {1, 3};
    kb::handle_selection_change(plugin);
    host.selected = {};
    kb::handle_selection_change(plugin);
    host.selected = {2};
    kb::handle_selection_change(plugin);
    EXPECT_TRUE(desktop.sent.empty());
    EXPECT_EQ(desktop.window_enumerations, 3);
    EXPECT_EQ(plugin.state.request_code, kb::REQUEST_SELECTION);

    host.selected = {3};
    kb::handle_selection_change(plugin);
    ASSERT_EQ(desktop.sent.size(), 1u);
    EXPECT_EQ(desktop.sent[0].data, 1u);
    auto records = records_of(desktop.sent[0]);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].guid, "1kTvXnbbzCWw8lcMd1dR4o");
    EXPECT_EQ(records[0].codigo, kb::REQUEST_SELECTION);
}

TEST_F(Transfer, DragSendsTheSelectedObjectsThatHaveAGuid) {
    model();
    WindowHandle peer = start_peer();
    host.selected = {3, 2, 1};
    EXPECT_EQ(on_drag_enter(0, 0, 0), 2);
    ASSERT_EQ(desktop.sent.size(), 1u);
    EXPECT_EQ(desktop.sent[0].to, peer);
    auto records = records_of(desktop.sent[0]);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].guid, "1kTvXnbbzCWw8lcMd1dR4o");
    EXPECT_EQ(records[1].codigo, kb::REQUEST_DRAG);

    host.selected = {2};
    EXPECT_EQ(on_drag_enter(0, 0, 0), 2);
    EXPECT_EQ(desktop.sent.size(), 1u);
}

TEST_F(Transfer, PeerWithoutTopLevelWindowGetsNothingAndNobodyIsTold) {
    model();
    desktop.add_process(peer_pid, "\\Device\\HarddiskVolume2\\KESTRO\\kestro.exe");
    kb::handle_button_click(plugin);
    EXPECT_EQ(desktop.window_enumerations, 1);
    EXPECT_TRUE(desktop.sent.empty());
    EXPECT_TRUE(desktop.message_boxes.empty());
    EXPECT_TRUE(plugin.lists.guid.empty());  // nothing was collected either
}

TEST_F(Transfer, AGuidRequestDuringTheSendIsHandledAndTheSentRecordsStayWhole) {
    model();
    start_peer();
    const std::string door = "1kTvXnbbzCWw8lcMd1dR4o";
    desktop.during_send = [&](const kb::sim::SentMessage&) {
        CopyData cds{0, static_cast<std::uint32_t>(door.size() + 1), door.c_str()};
        EXPECT_EQ(desktop.deliver_copy_data(main_window, nullptr, cds), host_copydata_result);
    };
    plugin.state.previous_window_proc = &host_window_proc;
    desktop.find_window(main_window)->proc = &kb::window_proc_trampoline;
    kb::handle_button_click(plugin);

    ASSERT_EQ(desktop.sent.size(), 1u);
    EXPECT_EQ(records_of(desktop.sent[0]).size(), 2u);
    auto zooms = host.calls_named({"zoom_to"});
    ASSERT_EQ(zooms.size(), 1u);
    EXPECT_EQ(zooms[0].args[1], 3u);
}

TEST_F(Transfer, AFailureInsideTheEnumerationNeverLeavesTheTrigger) {
    model();
    start_peer();
    desktop.add_window(peer_pid);
    desktop.during_send = [](const kb::sim::SentMessage&) { throw std::runtime_error("peer"); };
    EXPECT_NO_THROW(kb::handle_button_click(plugin));
    EXPECT_EQ(desktop.sent.size(), 1u);  // the enumeration stopped at the first window
}

TEST_F(Transfer, MemoryRunningOutWhileCollectingSendsNothingAndOnlyTheButtonTellsTheUser) {
    model();
    start_peer();
    host.selected = {1};
    host.out_of_memory_on_properties = true;

    kb::handle_selection_change(plugin);
    EXPECT_EQ(on_drag_enter(0, 0, 0), 2);
    EXPECT_TRUE(desktop.message_boxes.empty());
    EXPECT_TRUE(desktop.sent.empty());

    kb::handle_button_click(plugin);
    EXPECT_TRUE(desktop.sent.empty());  // never an empty update in place of the model
    ASSERT_EQ(desktop.message_boxes.size(), 1u);
    EXPECT_EQ(desktop.message_boxes[0].text, u"El modelo es demasiado grande para enviarlo a KESTRO");
    EXPECT_EQ(desktop.message_boxes[0].caption, u"Error");
    EXPECT_TRUE(plugin.lists.guid.empty());
}

}  // namespace
