// Finding KESTRO among the running processes of a simulated desktop.
#include <gtest/gtest.h>

#include <string>

#include "core/plugin.h"
#include "peer/discovery.h"
#include "platform/sim/sim_desktop.h"

namespace {

using kb::platform::process_query_limited_information;

class PeerDiscovery : public ::testing::Test {
protected:
    kb::platform::ProcessId scan() { return kb::find_peer_process(plugin); }

    kb::sim::SimDesktop desktop;
    kb::Plugin plugin{desktop.platform()};
};

TEST_F(PeerDiscovery, NoProcessWithTheTokenGivesZeroAndLeavesNoHandleOpen) {
    desktop.add_process(4, "\\Device\\HarddiskVolume1\\Windows\\System32\\smss.exe");
    desktop.add_process(8, "\\Device\\HarddiskVolume1\\Apps\\KESTR\\O.exe");
    EXPECT_EQ(scan(), 0u);
    EXPECT_EQ(desktop.open_requests.size(), 2u);
    EXPECT_EQ(desktop.open_handles(), 0u);
    EXPECT_EQ(desktop.bad_closes, 0);
}

TEST_F(PeerDiscovery, TokenMatchesInAnyAsciiCaseAnywhereInThePath) {
    for (const char* path : {"\\Device\\HarddiskVolume2\\Program Files\\KESTRO\\app.exe",
                             "\\Device\\HarddiskVolume2\\tools\\kestro.exe",
                             "\\Device\\HarddiskVolume2\\x\\MiKeStRoS 2024\\bin\\run.exe",
                             "\\Device\\kestro"}) {
        kb::sim::SimDesktop d;
        kb::Plugin p{d.platform()};
        d.add_process(12, "\\Device\\HarddiskVolume1\\Windows\\explorer.exe");
        d.add_process(34, path);
        EXPECT_EQ(kb::find_peer_process(p), 34u) << path;
        EXPECT_EQ(d.open_handles(), 0u) << path;
    }
}

TEST_F(PeerDiscovery, LettersOutsideAsciiAreNotFolded) {
    desktop.add_process(5, "\\Device\\HarddiskVolume1\\K\xC9STRO\\a.exe");  // É in Latin-1
    desktop.add_process(6, "\\Device\\HarddiskVolume1\\k\xE9stro\\b.exe");  // é
    // Full-width KESTRO as UTF-8 bytes.
    desktop.add_process(7, "\\Device\\X\\\xEF\xBC\xAB\xEF\xBC\xA5\xEF\xBC\xB3\xEF\xBC\xB4\xEF\xBC"
                           "\xB2\xEF\xBC\xAF.exe");
    EXPECT_EQ(scan(), 0u);
}

TEST_F(PeerDiscovery, FirstListedOfTwoMatchesWinsAndTheScanStopsThere) {
    desktop.add_process(50, "\\Device\\HarddiskVolume1\\a.exe");
    desktop.add_process(60, "\\Device\\HarddiskVolume1\\KESTRO\\second-in-id-order.exe");
    desktop.add_process(30, "\\Device\\HarddiskVolume1\\KESTRO\\third.exe");
    desktop.add_process(70, "\\Device\\HarddiskVolume1\\never-opened.exe");
    EXPECT_EQ(scan(), 60u);
    ASSERT_EQ(desktop.open_requests.size(), 2u);
    EXPECT_EQ(desktop.open_requests[1].id, 60u);
    EXPECT_EQ(desktop.open_handles(), 0u);
}

TEST_F(PeerDiscovery, EveryOpenAsksOnlyLimitedQueryRightsWithoutInheritanceAndIdZeroIsNeverOpened) {
    desktop.add_process(0, "\\Device\\HarddiskVolume1\\KESTRO-idle.exe");
    desktop.add_process(9, "\\Device\\HarddiskVolume1\\a.exe");
    desktop.add_process(0, "\\Device\\HarddiskVolume1\\KESTRO-idle.exe");
    desktop.add_process(11, "\\Device\\HarddiskVolume1\\b.exe");
    EXPECT_EQ(scan(), 0u);
    ASSERT_EQ(desktop.open_requests.size(), 2u);
    for (const auto& r : desktop.open_requests) {
        EXPECT_NE(r.id, 0u);
        EXPECT_EQ(r.access, process_query_limited_information);
        EXPECT_EQ(r.access, 0x1000u);
        EXPECT_FALSE(r.inherit);
    }
}

TEST_F(PeerDiscovery, ProcessesThatCannotBeOpenedOrReadArePassedOver) {
    desktop.add_process(20, "\\Device\\HarddiskVolume1\\KESTRO\\elevated.exe").openable = false;
    desktop.add_process(21, "\\Device\\HarddiskVolume1\\KESTRO\\protected.exe").readable = false;
    desktop.add_process(22, "\\Device\\HarddiskVolume1\\Kestro\\kestro.exe");
    EXPECT_EQ(scan(), 22u);
    EXPECT_EQ(desktop.open_handles(), 0u);
    EXPECT_EQ(desktop.handles_closed, 2);  // the unreadable one and the match
    EXPECT_EQ(desktop.bad_closes, 0);
}

TEST_F(PeerDiscovery, AnUnreadableProcessListGivesZeroWithoutOpeningAnything) {
    desktop.add_process(22, "\\Device\\HarddiskVolume1\\KESTRO.exe");
    desktop.process_list_fails = true;
    EXPECT_EQ(scan(), 0u);
    EXPECT_TRUE(desktop.open_requests.empty());
}

TEST_F(PeerDiscovery, OnlyTheFirst1024ListedProcessesAreExamined) {
    for (kb::platform::ProcessId id = 1; id <= 1024; ++id)
        desktop.add_process(id * 4, "\\Device\\HarddiskVolume1\\p.exe");
    desktop.add_process(99999, "\\Device\\HarddiskVolume1\\KESTRO.exe");
    EXPECT_EQ(scan(), 0u);
    ASSERT_EQ(desktop.enum_buffer_sizes.size(), 1u);
    EXPECT_EQ(desktop.enum_buffer_sizes[0], 4096u);
    EXPECT_EQ(desktop.open_requests.size(), 1024u);

    desktop.processes.erase(desktop.processes.begin());
    EXPECT_EQ(scan(), 99999u);
}

TEST_F(PeerDiscovery, ThePathIsReadInto260CharactersSoALongerOneNeverMatches) {
    std::string fits = "\\Device\\HarddiskVolume1\\KESTRO";
    fits += std::string(259 - fits.size(), 'a');
    std::string too_long = fits + "a";
    desktop.add_process(40, too_long);
    EXPECT_EQ(scan(), 0u);
    desktop.add_process(41, fits);
    EXPECT_EQ(scan(), 41u);
}

TEST_F(PeerDiscovery, TheOwnProcessIsNeverExaminedEvenWithTheTokenInItsPath) {
    // The viewer installed beside KESTRO: its own path has the token and it is listed first.
    desktop.add_process(40, "\\Device\\HarddiskVolume2\\Programas\\KESTRO\\Visor\\viewer.exe");
    desktop.add_process(41, "\\Device\\HarddiskVolume2\\Programas\\KESTRO\\kestro.exe");
    desktop.current_process = 40;
    EXPECT_EQ(scan(), 41u);
    for (const auto& r : desktop.open_requests) EXPECT_NE(r.id, 40u);

    // Alone, the viewer finds no peer, and says which process it skipped.
    kb::sim::SimDesktop alone;
    kb::Plugin viewer{alone.platform()};
    alone.add_process(3, "\\Device\\HarddiskVolume2\\Windows\\explorer.exe");
    alone.add_process(40, "\\Device\\HarddiskVolume2\\Programas\\KESTRO\\Visor\\viewer.exe");
    alone.current_process = 40;
    EXPECT_EQ(kb::find_peer_process(viewer), 0u);
    ASSERT_EQ(alone.open_requests.size(), 1u);
    EXPECT_EQ(alone.open_requests[0].id, 3u);
    EXPECT_EQ(alone.debug_lines, (std::vector<std::u16string>{
                                     u"kestro_bimvision: no peer among 2 processes (own process 40 "
                                     u"skipped)"}));
}

TEST_F(PeerDiscovery, TheFoundPeerAndAnUnreadableListAreReported) {
    desktop.add_process(7, "\\Device\\HarddiskVolume1\\KESTRO\\k\xE9stro.exe");
    EXPECT_EQ(scan(), 7u);
    desktop.process_list_fails = true;
    EXPECT_EQ(scan(), 0u);
    EXPECT_EQ(desktop.debug_lines,
              (std::vector<std::u16string>{
                  u"kestro_bimvision: peer found: process 7, image "
                  u"\\Device\\HarddiskVolume1\\KESTRO\\k\u00E9stro.exe",
                  u"kestro_bimvision: no peer: the process list cannot be read"}));
}

}  // namespace
