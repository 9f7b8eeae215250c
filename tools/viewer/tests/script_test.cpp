#include <gtest/gtest.h>

#include "model.h"
#include "script.h"
#include "text.h"

namespace bvs {
namespace {

TEST(CommandLine, TakesEveryOptionWithItsValue) {
    auto r = parse_command_line({u"--model", u"m.json", u"--plugin", u"C:\\p\\x.dll", u"--log",
                                 u"l.jsonl", u"--script", u"quit", u"--screenshot", u"s.png",
                                 u"--host-select-notifies"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value.model, u"m.json");
    EXPECT_EQ(r.value.plugin, u"C:\\p\\x.dll");
    EXPECT_EQ(r.value.log, u"l.jsonl");
    EXPECT_EQ(r.value.script, u"quit");
    EXPECT_EQ(r.value.screenshot, u"s.png");
    EXPECT_TRUE(r.value.host_select_notifies);
}

TEST(CommandLine, SynchronousSelectionReportsAreAFlagOfTheirOwn) {
    auto r = parse_command_line({u"--host-select-sync", u"--model", u"m.json"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(r.value.host_select_sync);
    EXPECT_FALSE(r.value.host_select_notifies);
    EXPECT_FALSE(parse_command_line({u"--model", u"m.json"}).value.host_select_sync);
}

TEST(CommandLine, AddressSpaceLeftIsAWholeNumberOfMegabytes) {
    auto r = parse_command_line({u"--model", u"m.json", u"--address-space-left", u"16"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value.address_space_left_mb, 16u);
    EXPECT_EQ(parse_command_line({u"--model", u"m.json"}).value.address_space_left_mb, 0u);
    for (const char16_t* bad : {u"0", u"x", u"-5", u"12345", u""})
        EXPECT_NE(parse_command_line({u"--model", u"m", u"--address-space-left", bad}).error.find("--address-space-left"),
                  std::string::npos)
            << utf16_to_utf8(bad);
    EXPECT_FALSE(parse_command_line({u"--model", u"m", u"--address-space-left"}).ok());
}

TEST(CommandLine, RefusesMissingModelValuesAndUnknownArguments) {
    EXPECT_NE(parse_command_line({}).error.find("--model"), std::string::npos);
    EXPECT_NE(parse_command_line({u"--model"}).error.find("needs a value"), std::string::npos);
    EXPECT_NE(parse_command_line({u"--model", u"m", u"--fast"}).error.find("--fast"),
              std::string::npos);
    EXPECT_TRUE(parse_command_line({u"--model", u"m"}).ok());  // a plugin is optional
}

TEST(Script, ReadsEveryActionInOrder) {
    auto r = parse_script(
        u" click ; select 2O2Fr$t4X7Zf8NOew3FLOH, #4294967303 ;select; drag;wait-requests 2;"
        u"wait-requests 1 500; sleep 20; screenshot C:\\tmp\\a b.bmp; copydata 1abc$_X;"
        u"dismiss-dialog; dismiss-dialog 300; load; load other.json; click 1; quit;;");
    ASSERT_TRUE(r.ok()) << r.error;
    const auto& a = r.value;
    ASSERT_EQ(a.size(), 15u);
    EXPECT_EQ(a[0].kind, ActionKind::click);
    EXPECT_EQ(a[0].number, 0u);
    EXPECT_EQ(a[1].kind, ActionKind::select);
    EXPECT_EQ(a[1].items, (std::vector<std::u16string>{u"2O2Fr$t4X7Zf8NOew3FLOH", u"#4294967303"}));
    EXPECT_EQ(a[1].source, u"select 2O2Fr$t4X7Zf8NOew3FLOH, #4294967303");
    EXPECT_TRUE(a[2].items.empty());  // clears the selection
    EXPECT_EQ(a[3].kind, ActionKind::drag);
    EXPECT_EQ(a[4].kind, ActionKind::wait_requests);
    EXPECT_EQ(a[4].number, 2u);
    EXPECT_EQ(a[4].timeout_ms, default_wait_timeout_ms);
    EXPECT_EQ(a[5].timeout_ms, 500u);
    EXPECT_EQ(a[6].kind, ActionKind::sleep);
    EXPECT_EQ(a[6].number, 20u);
    EXPECT_EQ(a[7].text, u"C:\\tmp\\a b.bmp");  // a file name may hold spaces
    EXPECT_EQ(a[8].kind, ActionKind::copydata);
    EXPECT_EQ(a[8].text, u"1abc$_X");
    EXPECT_EQ(a[9].timeout_ms, default_dialog_timeout_ms);
    EXPECT_EQ(a[10].timeout_ms, 300u);
    EXPECT_TRUE(a[11].text.empty());
    EXPECT_EQ(a[12].text, u"other.json");
    EXPECT_EQ(a[13].number, 1u);
    EXPECT_EQ(a[14].kind, ActionKind::quit);
}

TEST(Script, RefusesUnknownActionsAndBadArguments) {
    EXPECT_NE(parse_script(u"quit; jump").error.find("not a known action"), std::string::npos);
    EXPECT_NE(parse_script(u"sleep").error.find("whole number"), std::string::npos);
    EXPECT_NE(parse_script(u"sleep -5").error.find("whole number"), std::string::npos);
    EXPECT_NE(parse_script(u"wait-requests 99999999999").error.find("whole number"),
              std::string::npos);
    EXPECT_NE(parse_script(u"wait-requests 1 2 3").error.find("too many"), std::string::npos);
    EXPECT_NE(parse_script(u"quit now").error.find("too many"), std::string::npos);
    EXPECT_NE(parse_script(u"screenshot").error.find("file name"), std::string::npos);
    EXPECT_NE(parse_script(u"select a,,b").error.find("empty item"), std::string::npos);
    EXPECT_TRUE(parse_script(u"").ok());
    EXPECT_TRUE(parse_script(u"").value.empty());
}

TEST(Script, WaitFileTakesItsLimitFirstThenANameThatMayHoldSpaces) {
    auto r = parse_script(u"wait-file 500 C:\\a b\\go.txt; quit");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value[0].kind, ActionKind::wait_file);
    EXPECT_EQ(r.value[0].timeout_ms, 500u);
    EXPECT_EQ(r.value[0].text, u"C:\\a b\\go.txt");
    EXPECT_NE(parse_script(u"wait-file 500").error.find("file name"), std::string::npos);
    EXPECT_NE(parse_script(u"wait-file go.txt").error.find("whole number"), std::string::npos);
}

TEST(Script, ScreenshotFormatFollowsTheExtension) {
    EXPECT_TRUE(is_png_path(u"a.PNG"));
    EXPECT_TRUE(is_png_path(u"C:\\x\\shot.png"));
    EXPECT_FALSE(is_png_path(u"a.bmp"));
    EXPECT_FALSE(is_png_path(u"png"));
}

TEST(Script, SelectItemsNameAnObjectByIdOrByGuid) {
    auto object = [](const char* id, const char* guid) {
        return std::string(R"({"id": )") + id + R"(, "property_sets": [{"name": "A",)" +
               R"( "properties": [{"name": "Guid", "value": ")" + guid + R"("}]}]})";
    };
    ModelLoadResult r = Model::parse(
        R"({"format": "kestro-bimvision-snapshot", "version": 1, "files": [], "objects": [)" +
        object("12", "12x") + "," + object("4294967303", "#") + "," + object("5", "#12") + "]}");
    ASSERT_TRUE(r.model) << r.error;
    const Model& m = *r.model;
    EXPECT_EQ(find_select_item(m, u"#4294967303"), 1u);  // ids above 32 bits
    EXPECT_EQ(find_select_item(m, u"#12"), 0u);          // "#" and digits is an id, never a GUID
    EXPECT_EQ(find_select_item(m, u"#005"), 2u);
    EXPECT_EQ(find_select_item(m, u"12x"), 0u);          // anything else is a GUID
    EXPECT_EQ(find_select_item(m, u"#"), 1u);            // "#" alone too
    EXPECT_EQ(find_select_item(m, u"#12x"), Model::npos);  // not all digits: no object
    EXPECT_EQ(find_select_item(m, u"#7"), Model::npos);
    EXPECT_EQ(find_select_item(m, u"G404"), Model::npos);
}

}  // namespace
}  // namespace bvs
