// The monitor's command line, read natively: what it asks for, and how a refusal is worded.
#include "options.h"

#include <gtest/gtest.h>

namespace {

TEST(MonitorOptions, ReadsTheSendsInCommandLineOrderAndTheLimits) {
    monitor::Options o;
    monitor::ParseError e;
    ASSERT_TRUE(monitor::parse_options({L"--send-row", L"2", L"--send-guid", L"G\u00E9\u20AC", L"--send-raw", L"bare",
                                        L"--send-after", L"3", L"--quit-after", L"0", L"--windows", L"16",
                                        L"--answer-inside", L"always", L"--exit-inside", L"2", L"--slow-inside", L"1500",
                                        L"--stack-mb", L"64", L"--stall", L"60", L"--stall-until", L"C:\\w.txt",
                                        L"--slow-until", L"C:\\s.txt",
                                        L"--out", L"C:\\a b.jsonl"},
                                       o, e))
        << monitor::describe(e);
    ASSERT_EQ(o.after_first.size(), 3u);
    EXPECT_EQ(o.after_first[0].kind, monitor::ActionKind::row);
    EXPECT_EQ(o.after_first[0].row, 2);
    EXPECT_EQ(o.after_first[1].text, "G\xE9?");  // the GUID as 8-bit text
    EXPECT_EQ(o.after_first[2].text, "bare");
    EXPECT_EQ(o.send_after, 3);
    EXPECT_EQ(o.quit_after, 0);
    EXPECT_EQ(o.windows, 16);
    EXPECT_EQ(o.answer_inside, 2);
    EXPECT_EQ(o.exit_inside, 2);
    EXPECT_EQ(o.slow_inside_ms, 1500);
    EXPECT_EQ(o.stack_mb, 64);
    EXPECT_EQ(o.stall_seconds, 60);
    EXPECT_EQ(o.stall_until, L"C:\\w.txt");
    EXPECT_EQ(o.slow_until, L"C:\\s.txt");
    EXPECT_EQ(o.out, L"C:\\a b.jsonl");
    EXPECT_TRUE(monitor::wants_help({L"--out", L"x", L"/?"}));
    EXPECT_FALSE(monitor::wants_help({L"--out", L"x"}));
}

TEST(MonitorOptions, ARefusalNamesTheArgumentAtFault) {
    const std::pair<std::vector<std::wstring>, std::string> cases[] = {
        {{L"--windows", L"x"}, "--windows: \"x\" is not a whole number"},
        {{L"--windows", L"17"}, "--windows: 17 is out of range"},
        {{L"--repeat"}, "--repeat needs a value"},
        {{L"--stack-mb", L"0"}, "--stack-mb: 0 is out of range"},
        {{L"--send-raw", L"huge"}, "--send-raw: \"huge\" is not an accepted value"},
        {{L"--bogus"}, "unknown argument \"--bogus\""},
        {{L"--exit-inside", L"0"}, "--exit-inside: 0 is out of range"},
        {{L"--send-raw-bytes", L"10"}, "--send-raw-bytes and --to-class go together"},
    };
    for (const auto& [args, message] : cases) {
        monitor::Options o;
        monitor::ParseError e;
        EXPECT_FALSE(monitor::parse_options(args, o, e)) << message;
        EXPECT_EQ(monitor::describe(e), message);
    }
}

}  // namespace
