// The three triggers of an outbound transfer, on a simulated desktop with a fake viewer model.
#include <gtest/gtest.h>

#include <set>

#include <sstream>
#include <stdexcept>
#include <string>

#include "peer/transfer.h"
#include "peer_fixture.h"
#include "shell/entry_points.h"

namespace {

using namespace peer_test;

std::u16string widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

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
    EXPECT_TRUE(desktop.sent.empty());
}

TEST_F(Transfer, SelectionChangeAndDragWithoutPeerAreSilent) {
    model();
    host.selected = {1};
    kb::handle_selection_change(plugin);
    EXPECT_EQ(on_drag_enter(1, 2, 3), 2);
    EXPECT_TRUE(desktop.message_boxes.empty());
    EXPECT_TRUE(desktop.sent.empty());
    EXPECT_EQ(desktop.window_enumerations, 0);
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
    EXPECT_TRUE(host.calls_named({"get_properties"}).empty());  // nothing was collected either
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
    // The transfer is over: the next trigger sends again.
    EXPECT_FALSE(plugin.transfer_under_way);
    desktop.during_send = nullptr;
    kb::handle_button_click(plugin);
    EXPECT_EQ(desktop.sent.size(), 2u);
}

TEST_F(Transfer, AModelWhoseRecordsCannotBeHadIsToldWithItsSizeOnTheButtonOnly) {
    start_peer();
    for (bv::ObjectId id = 1; id <= 50000; ++id) host.element(id, u"G");
    host.selected = {1};
    host.out_of_memory_on_properties = true;

    kb::handle_selection_change(plugin);
    EXPECT_EQ(on_drag_enter(0, 0, 0), 2);
    EXPECT_TRUE(desktop.message_boxes.empty());
    EXPECT_TRUE(desktop.sent.empty());

    kb::handle_button_click(plugin);
    EXPECT_TRUE(desktop.sent.empty());  // never an empty update in place of the model
    ASSERT_EQ(desktop.message_boxes.size(), 1u);
    EXPECT_EQ(desktop.message_boxes[0].text,
              u"El modelo tiene 50.000 elementos (617 MB): el visor no puede reservar la memoria "
              u"para enviarlos a KESTRO de una vez. Puede enviar una parte: seleccione elementos y "
              u"arr\u00E1strelos al visor.");
    EXPECT_EQ(desktop.message_boxes[0].caption, u"Error");
    EXPECT_EQ(desktop.message_boxes[0].style, 0u);
    EXPECT_FALSE(plugin.transfer_under_way);
}

// ---- one transfer at a time ----

class NestedTransfer : public Transfer {
protected:
    void SetUp() override {
        Transfer::SetUp();
        model();
        peer = start_peer();
        // The subclass is in place, and the viewer reports selection changes from inside `select`.
        plugin.state.previous_window_proc = &host_window_proc;
        plugin.state.selected_id = host.selected_pseudo_id;
        desktop.find_window(main_window)->proc = &kb::window_proc_trampoline;
        host.report_selection = [] { kb::handler_selection_change(); };
    }
    /// KESTRO asking for `guid` from inside its handling of a message.
    void peer_requests(const std::string& guid) {
        CopyData cds{0, static_cast<std::uint32_t>(guid.size() + 1), guid.c_str()};
        EXPECT_EQ(desktop.deliver_copy_data(main_window, peer, cds), host_copydata_result);
    }
    WindowHandle peer = nullptr;
};

TEST_F(NestedTransfer, APeerAnsweringEveryMessageWithAGuidRequestGetsOneUpdateAndTheRequestIsHandled) {
    int answered = 0;
    desktop.during_send = [&](const kb::sim::SentMessage&) {
        ++answered;
        EXPECT_TRUE(plugin.transfer_under_way);
        peer_requests("1kTvXnbbzCWw8lcMd1dR4o");
        // Any other trigger from that depth sends nothing either; the drag still answers 2.
        kb::handler_button_click();
        EXPECT_EQ(on_drag_enter(0, 0, 0), 2);
    };
    kb::handle_button_click(plugin);

    EXPECT_EQ(answered, 1);
    ASSERT_EQ(desktop.sent.size(), 1u);
    EXPECT_EQ(records_of(desktop.sent[0]).size(), 2u);
    EXPECT_EQ(records_of(desktop.sent[0])[0].codigo, kb::REQUEST_UPDATE);
    // The request was handled in full: cleared, then selected, activated and zoomed.
    auto zooms = host.calls_named({"zoom_to"});
    ASSERT_EQ(zooms.size(), 1u);
    EXPECT_EQ(zooms[0].args[1], 3u);
    EXPECT_EQ(host.calls_named({"set_object_active"}).size(), 2u);
    EXPECT_EQ(host.selected, (std::vector<bv::ObjectId>{3}));
    EXPECT_TRUE(desktop.message_boxes.empty());
    EXPECT_FALSE(plugin.transfer_under_way);
    // The transfer's own result, written after the skipped triggers, still names its trigger.
    ASSERT_FALSE(desktop.debug_lines.empty());
    EXPECT_EQ(desktop.debug_lines.back().rfind(u"kestro_bimvision: transfer: trigger update, window ", 0),
              0u);
    // Two selection reports (the clearing and the match), the button and the drag: all skipped.
    int skipped = 0;
    for (const auto& line : desktop.debug_lines)
        if (line.find(u"another transfer is under way") != std::u16string::npos) ++skipped;
    EXPECT_EQ(skipped, 4);
}

TEST_F(NestedTransfer, ARequestFromOutsideAnyTransferStillSendsTheSelectionItCauses) {
    peer_requests("2O2Fr$t4X7Zf8NOew3FLOH");
    ASSERT_EQ(desktop.sent.size(), 1u);
    auto records = records_of(desktop.sent[0]);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].guid, "2O2Fr$t4X7Zf8NOew3FLOH");
    EXPECT_EQ(records[0].codigo, kb::REQUEST_SELECTION);
    EXPECT_EQ(host.calls_named({"zoom_to"}).size(), 1u);
}

TEST_F(NestedTransfer, ASelectionReportMadeFromInsideTheSendSendsNothing) {
    host.selected = {1};
    desktop.during_send = [&](const kb::sim::SentMessage&) { peer_requests("1kTvXnbbzCWw8lcMd1dR4o"); };
    kb::handle_selection_change(plugin);
    ASSERT_EQ(desktop.sent.size(), 1u);
    EXPECT_EQ(records_of(desktop.sent[0])[0].guid, "2O2Fr$t4X7Zf8NOew3FLOH");
    EXPECT_EQ(host.selected, (std::vector<bv::ObjectId>{3}));

    // Once it is over, the next change goes out as before.
    desktop.during_send = nullptr;
    host.selected = {1};
    kb::handle_selection_change(plugin);
    EXPECT_EQ(desktop.sent.size(), 2u);
}

// ---- a peer that is hung, refuses or is gone ----

TEST_F(Transfer, EverySendWaitsMinutesAndNotForever) {
    model();
    start_peer();
    host.selected = {1};
    kb::handle_button_click(plugin);
    kb::handle_selection_change(plugin);
    ASSERT_EQ(desktop.send_timeouts.size(), 2u);
    for (std::uint32_t t : desktop.send_timeouts) {
        EXPECT_EQ(t, kb::platform::copy_data_timeout_ms);
        EXPECT_GE(t, 60u * 1000u);
    }
}

TEST_F(Transfer, AHungPeerIsGivenUpAndOnlyTheButtonTellsTheUser) {
    model();
    start_peer();
    host.selected = {1};
    desktop.send_outcome = kb::platform::SendOutcome::timed_out;
    desktop.send_error = 1460;  // ERROR_TIMEOUT
    kb::handle_selection_change(plugin);
    EXPECT_EQ(on_drag_enter(0, 0, 0), 2);
    EXPECT_TRUE(desktop.message_boxes.empty());

    kb::handle_button_click(plugin);
    ASSERT_EQ(desktop.message_boxes.size(), 1u);
    const auto& box = desktop.message_boxes[0];
    EXPECT_EQ(box.text,
              u"KESTRO no responde. Int\u00E9ntelo de nuevo cuando termine la operaci\u00F3n en curso.");
    EXPECT_EQ(box.caption, u"Error");
    EXPECT_EQ(box.style, 0u);
    EXPECT_EQ(box.owner, main_window);
    EXPECT_TRUE(desktop.sent.empty());
    EXPECT_EQ(desktop.send_timeouts.size(), 3u);
    EXPECT_FALSE(plugin.transfer_under_way);

    // KESTRO takes messages again: the next click arrives whole.
    desktop.send_outcome = kb::platform::SendOutcome::delivered;
    kb::handle_button_click(plugin);
    ASSERT_EQ(desktop.sent.size(), 1u);
    EXPECT_EQ(records_of(desktop.sent[0]).size(), 2u);
    EXPECT_EQ(desktop.message_boxes.size(), 1u);
}

// How the system's answer to a send becomes its outcome. SMTO_ABORTIFHUNG fails for a hung
// receiver with ERROR_TIMEOUT under Wine, and on some Windows versions with no error code at all.
TEST(SendResult, TheSystemsAnswerGivesTheOutcomeAndANoCodeFailureIsAHungReceiver) {
    using kb::platform::SendOutcome;
    using kb::platform::send_result_of;
    const auto delivered = send_result_of(1, 0x4B42, 1460);
    EXPECT_EQ(delivered.outcome, SendOutcome::delivered);
    EXPECT_EQ(delivered.answer, 0x4B42);
    EXPECT_EQ(delivered.error, 0u);
    struct Case { std::uint32_t error; SendOutcome outcome; };
    for (const Case& c : {Case{0, SendOutcome::timed_out}, Case{1460, SendOutcome::timed_out},
                          Case{5, SendOutcome::access_denied}, Case{1400, SendOutcome::failed},
                          Case{8, SendOutcome::failed}, Case{1450, SendOutcome::failed}}) {
        const auto r = send_result_of(0, 0x4B42, c.error);
        EXPECT_EQ(r.outcome, c.outcome) << c.error;
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.answer, 0) << c.error;
    }
}

TEST_F(Transfer, AHungPeerIsToldAsHungWhetherTheSystemSaysTimeOutOrGivesNoCode) {
    model();
    start_peer();
    for (const std::uint32_t error : {0u, 1460u}) {
        desktop.message_boxes.clear();
        desktop.send_fails_with = error;
        kb::handle_button_click(plugin);
        ASSERT_EQ(desktop.message_boxes.size(), 1u) << error;
        EXPECT_EQ(desktop.message_boxes[0].text,
                  u"KESTRO no responde. Int\u00E9ntelo de nuevo cuando termine la operaci\u00F3n "
                  u"en curso.")
            << error;
        EXPECT_NE(desktop.debug_lines.back().find(u"not sent, KESTRO is hung or timed out (error " +
                                                  widen(std::to_string(error)) + u")"),
                  std::u16string::npos);
    }
    EXPECT_TRUE(desktop.sent.empty());
    // Another code is a send KESTRO did not take, with the code named.
    desktop.send_fails_with = 1400;
    kb::handle_button_click(plugin);
    EXPECT_NE(desktop.message_boxes.back().text.find(u"C\u00F3digo de error del sistema: 1400."),
              std::u16string::npos);
}

TEST_F(Transfer, ARefusalByTheSystemIsExplainedOnTheButtonOnly) {
    model();
    start_peer();
    host.selected = {3};
    desktop.send_outcome = kb::platform::SendOutcome::access_denied;
    desktop.send_error = 5;  // ERROR_ACCESS_DENIED
    kb::handle_selection_change(plugin);
    EXPECT_EQ(on_drag_enter(0, 0, 0), 2);
    EXPECT_TRUE(desktop.message_boxes.empty());
    kb::handle_button_click(plugin);
    ASSERT_EQ(desktop.message_boxes.size(), 1u);
    EXPECT_EQ(desktop.message_boxes[0].text,
              u"KESTRO se est\u00E1 ejecutando con permisos de administrador y no acepta datos del "
              u"visor. Ejecute ambos programas con los mismos permisos.");
    EXPECT_EQ(desktop.message_boxes[0].caption, u"Error");
    EXPECT_TRUE(desktop.sent.empty());
}

TEST_F(Transfer, ASendKestroDidNotTakeIsExplainedWithItsReasonAndTheSystemsCode) {
    model();
    start_peer();
    host.selected = {1};
    desktop.send_outcome = kb::platform::SendOutcome::failed;
    desktop.send_error = 1400;  // KESTRO's window and process are still there
    kb::handle_selection_change(plugin);
    EXPECT_TRUE(desktop.message_boxes.empty());
    EXPECT_NE(desktop.debug_lines.back().find(u"failed (error 1400)"), std::u16string::npos);

    kb::handle_button_click(plugin);
    desktop.send_error = 8;  // ERROR_NOT_ENOUGH_MEMORY
    kb::handle_button_click(plugin);
    desktop.send_error = 14;  // ERROR_OUTOFMEMORY
    kb::handle_button_click(plugin);
    ASSERT_EQ(desktop.message_boxes.size(), 3u);
    EXPECT_EQ(desktop.message_boxes[0].text,
              u"KESTRO no ha aceptado los datos del visor (2 elementos, 0 MB): el sistema no pudo "
              u"entregar el mensaje. C\u00F3digo de error del sistema: 1400.");
    const std::u16string memory =
        u"KESTRO no ha aceptado los datos del visor (2 elementos, 0 MB): se agot\u00F3 la "
        u"memoria al entregar el mensaje. C\u00F3digo de error del sistema: ";
    EXPECT_EQ(desktop.message_boxes[1].text, memory + u"8.");
    EXPECT_EQ(desktop.message_boxes[2].text, memory + u"14.");
    for (const auto& box : desktop.message_boxes) EXPECT_EQ(box.caption, u"Error");
}

TEST_F(Transfer, KestroEndingWhileItTakesAnUpdateIsNamedAsTheCauseWhateverTheSystemSays) {
    model();
    const std::u16string gone =
        u"KESTRO se cerr\u00F3 o fall\u00F3 mientras recib\u00EDa los datos (2 elementos). "
        u"Vuelva a abrir KESTRO y repita la actualizaci\u00F3n.";
    // Never taken for a peer with higher rights or a hung one: its window and process are gone.
    struct Case { kb::platform::SendOutcome outcome; std::uint32_t error; };
    kb::platform::ProcessId pid = peer_pid;
    for (const Case& c : {Case{kb::platform::SendOutcome::access_denied, 5},
                          Case{kb::platform::SendOutcome::failed, 1400},
                          Case{kb::platform::SendOutcome::timed_out, 0}}) {
        desktop.message_boxes.clear();
        desktop.sent.clear();
        desktop.add_process(pid, "\\Device\\HarddiskVolume2\\KESTRO\\kestro.exe");
        desktop.add_window(pid);
        desktop.send_outcome = c.outcome;
        desktop.send_error = c.error;
        desktop.dies_during_send = pid;
        kb::handle_button_click(plugin);
        ASSERT_EQ(desktop.message_boxes.size(), 1u) << c.error;
        EXPECT_EQ(desktop.message_boxes[0].text, gone) << c.error;
        EXPECT_NE(desktop.debug_lines.back().find(u"KESTRO closed or failed while taking it"),
                  std::u16string::npos);
        // A dead KESTRO's id stays listed: the next KESTRO started gets the next update whole.
        desktop.processes.back().image_path = "\\Device\\HarddiskVolume2\\Other\\other.exe";
        ++pid;
        desktop.add_process(pid, "\\Device\\HarddiskVolume2\\KESTRO\\kestro.exe");
        desktop.add_window(pid);
        desktop.send_outcome = kb::platform::SendOutcome::delivered;
        kb::handle_button_click(plugin);
        ASSERT_EQ(desktop.sent.size(), 1u);
        EXPECT_EQ(records_of(desktop.sent[0]).size(), 2u);
        EXPECT_EQ(desktop.message_boxes.size(), 1u);
        desktop.processes.back().image_path = "\\Device\\HarddiskVolume2\\Other\\other.exe";
        ++pid;
    }
}

// ---- progress ----

TEST_F(Transfer, ALongUpdateShowsItsProgressAfterASecondAndTakesItDownBeforeItReturns) {
    start_peer();
    for (bv::ObjectId id = 1; id <= 3000; ++id) host.element(id, u"G");
    desktop.clock_step_ms = 100;  // every reading of the clock finds it 100 ms on
    kb::handle_button_click(plugin);
    ASSERT_EQ(desktop.sent.size(), 1u);
    // The clock is read at the start (100) and every 256 objects: the window opens at once at
    // the first reading a second after the start, and changes at most every 250 ms after that.
    ASSERT_EQ(desktop.progress.size(), 1u);
    const auto& p = desktop.progress[0];
    EXPECT_EQ(p.over, main_window);
    EXPECT_EQ(p.opened_at, 1100u);
    EXPECT_EQ(p.delay_ms, 0u);
    const std::vector<std::u16string> texts = {u"Leyendo 2.304 de 3.000 elementos",
                                               u"Leyendo 3.000 de 3.000 elementos",
                                               u"KESTRO est\u00E1 recibiendo 3.000 elementos"};
    EXPECT_EQ(p.texts, texts);
    EXPECT_TRUE(p.closed) << "the window and its thread end before the handler returns";
    EXPECT_TRUE(p.appeared());

    // A send that takes long: the window it opens with the rest of the second appears too.
    desktop.progress.clear();
    desktop.clock_step_ms = 0;
    desktop.clock_ms = 0;
    desktop.during_send = [this](const kb::sim::SentMessage&) { desktop.clock_ms += 30000; };
    kb::handle_button_click(plugin);
    ASSERT_EQ(desktop.progress.size(), 1u);
    EXPECT_EQ(desktop.progress[0].delay_ms, 1000u);
    EXPECT_EQ(desktop.progress[0].texts,
              std::vector<std::u16string>{u"KESTRO est\u00E1 recibiendo 3.000 elementos"});
    EXPECT_TRUE(desktop.progress[0].closed);
    EXPECT_TRUE(desktop.progress[0].appeared());
}

TEST_F(Transfer, CancelStopsTheReadBetweenTwoObjectsSendsNothingSaysNothingAndTheNextUpdateArrives) {
    start_peer();
    for (bv::ObjectId id = 1; id <= 3000; ++id) host.element(id, u"G");
    desktop.clock_step_ms = 100;
    // The window opens at object 2,304 (as above) and is asked before every object from there:
    // the user presses "Cancelar" after the fifth question, before object 2,309 is read.
    desktop.cancel_after_checks = 5;
    host.log_queries = true;
    kb::handle_button_click(plugin);
    EXPECT_TRUE(desktop.sent.empty()) << "a cancelled read sent something";
    EXPECT_TRUE(desktop.message_boxes.empty()) << "the user who cancelled was told something";
    ASSERT_EQ(desktop.progress.size(), 1u);
    EXPECT_TRUE(desktop.progress[0].closed);
    EXPECT_EQ(desktop.progress[0].receiving, std::vector<bool>{false});
    EXPECT_EQ(desktop.progress[0].fits,
              (std::vector<std::u16string>{u"Leyendo 3.000 de 3.000 elementos",
                                           u"KESTRO est\u00E1 recibiendo 3.000 elementos"}));
    // Read up to the stop and not one object further.
    const auto asked = host.calls_named({"get_property_sets"});
    ASSERT_FALSE(asked.empty());
    std::set<std::uint64_t> read;
    for (const auto& c : asked) read.insert(c.args.at(1));
    EXPECT_EQ(read.size(), 2309u);
    EXPECT_EQ(*read.rbegin(), 2309u);
    EXPECT_NE(desktop.debug_lines.back().find(
                  u"transfer stopped: trigger update, cancelled by the user after 2309 of 3000 "
                  u"objects read, nothing sent"),
              std::u16string::npos)
        << std::string(desktop.debug_lines.back().begin(), desktop.debug_lines.back().end());

    // The next update is whole.
    host.log_queries = false;
    desktop.cancel_after_checks = static_cast<std::size_t>(-1);
    kb::handle_button_click(plugin);
    ASSERT_EQ(desktop.sent.size(), 1u);
    EXPECT_EQ(records_of(desktop.sent[0]).size(), 3000u);
    EXPECT_TRUE(desktop.message_boxes.empty());
    ASSERT_EQ(desktop.progress.size(), 2u);
    EXPECT_EQ(desktop.progress[1].receiving.back(), true);
    EXPECT_EQ(desktop.progress[1].bar.front(), 2304u);
}

TEST_F(Transfer, AShortUpdateShowsNoProgressSelectionChangesAndDragsNeverAndAMessageComesAfterIt) {
    model();
    start_peer();
    host.selected = {1};
    kb::handle_selection_change(plugin);
    EXPECT_EQ(on_drag_enter(0, 0, 0), 2);
    EXPECT_EQ(desktop.sent.size(), 2u);
    EXPECT_TRUE(desktop.progress.empty());

    desktop.clock_step_ms = 1;
    kb::handle_button_click(plugin);
    ASSERT_EQ(desktop.progress.size(), 1u);
    EXPECT_TRUE(desktop.progress[0].closed);
    EXPECT_FALSE(desktop.progress[0].appeared());

    // The message of an update that did not complete is never under its progress window.
    desktop.during_send = [this](const kb::sim::SentMessage&) { desktop.clock_ms += 5000; };
    desktop.send_outcome = kb::platform::SendOutcome::timed_out;
    kb::handle_button_click(plugin);
    ASSERT_EQ(desktop.message_boxes.size(), 1u);
    EXPECT_EQ(desktop.message_boxes[0].progress_open, 0u);
}

// ---- diagnostics ----

TEST_F(Transfer, EachTransferLeavesOneLineForThePeerAndOneForItsResult) {
    model();
    WindowHandle peer = start_peer();
    host.selected = {1};
    kb::handle_selection_change(plugin);
    host.selected = {2};
    kb::handle_selection_change(plugin);
    desktop.send_outcome = kb::platform::SendOutcome::timed_out;
    kb::handle_button_click(plugin);

    std::ostringstream window;
    window << "0x" << std::hex << reinterpret_cast<std::uintptr_t>(peer);
    const std::u16string w = widen(window.str());
    const std::u16string found =
        u"kestro_bimvision: peer found: process 200, image \\Device\\HarddiskVolume2\\KESTRO\\kestro.exe";
    const std::vector<std::u16string> expected = {
        found,
        u"kestro_bimvision: transfer: trigger selection, window " + w +
            u", 1 records, 12336 bytes: delivered, answer 0",
        found,
        u"kestro_bimvision: transfer: trigger selection, nothing to send (0 entries)",
        found,
        u"kestro_bimvision: transfer: trigger update, window " + w +
            u", 2 records, 24672 bytes: not sent, KESTRO is hung or timed out (error 0)",
    };
    EXPECT_EQ(desktop.debug_lines, expected);
    for (const auto& line : desktop.debug_lines) EXPECT_EQ(line.find(u'\n'), std::u16string::npos);
}

TEST_F(Transfer, APeerWithoutWindowAndNoPeerAtAllAreReported) {
    model();
    desktop.add_process(peer_pid, "\\Device\\HarddiskVolume2\\KESTRO\\kestro.exe");
    kb::handle_selection_change(plugin);
    ASSERT_EQ(desktop.debug_lines.size(), 2u);
    EXPECT_EQ(desktop.debug_lines[1],
              u"kestro_bimvision: transfer skipped: trigger selection, peer process 200 has no "
              u"top-level window");
}

}  // namespace
