// Text conversion, the JSON form of the snapshot, the all-or-nothing write and the command line.
#include "ifc_samples.h"
#include "ifc_test_support.h"
#include "text.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

using namespace ifc_test;
using ifc2snapshot::parse_step_number;
using ifc2snapshot::to_utf8;

namespace {

// How the IFC reader hands over raw bytes: each one widened through a signed char.
std::wstring widened(const std::string& bytes) {
    std::wstring w;
    for (char c : bytes) w += static_cast<wchar_t>(static_cast<signed char>(c));
    return w;
}

TEST(TextToUtf8, EncodesCodePointsOfEveryLength) {
    EXPECT_EQ(to_utf8(L"a\u00F1\u20AC\U0001F600"), "a\xC3\xB1\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(TextToUtf8, RepairsRawBytesAsUtf8OrElseLatin1) {
    EXPECT_EQ(to_utf8(widened("Espa\xC3\xB1" "a")), "Espa\xC3\xB1" "a");
    EXPECT_EQ(to_utf8(widened("Espa\xF1" "a")), "Espa\xC3\xB1" "a") << "a lone byte is Latin-1";
}

TEST(TextToUtf8, ReplacesWhatIsNoCharacter) {
    EXPECT_EQ(to_utf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(to_utf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

std::string decoded(const std::string& body) {
    const std::u32string d = ifc2snapshot::decode_step_string(body);
    return to_utf8(std::wstring(d.begin(), d.end()));
}

TEST(StepStrings, EveryEscapeIsDecoded) {
    const std::pair<const char*, const char*> cases[] = {
        {"O''Brien''s wall", "O'Brien's wall"},
        {"Hole Has Wall''s Side Material", "Hole Has Wall's Side Material"},
        {"''", "'"},
        {R"(C:\\Temp\\)", R"(C:\Temp\)"},
        {R"(caf\X\E9)", "caf\xC3\xA9"},
        {R"(\S\a)", "\xC3\xA1"},
        {R"(\S\'')", "\xC2\xA7"},
        {R"(\S\\\)", "\xC3\x9C"},
        {R"(\PE\\S\0)", "\xD0\x90"},  // ISO 8859-5: Cyrillic A
        {R"(\X2\00E100F1\X0\)", "\xC3\xA1\xC3\xB1"},
        {R"(\X2\D83DDE00\X0\)", "\xF0\x9F\x98\x80"},
        {R"(\X4\0001F600\X0\)", "\xF0\x9F\x98\x80"},
        {R"(\X2\0041\X0\\X\E9'')", "A\xC3\xA9'"},
        {"Espa\xC3\xB1" "a", "Espa\xC3\xB1" "a"},
        {"Espa\xF1" "a", "Espa\xC3\xB1" "a"},
        {R"(\X2\00E)", R"(\X2\00E)"},  // no escape after all: kept as written
        {R"(x\P\y)", R"(x\P\y)"},
    };
    for (const auto& [body, expected] : cases) EXPECT_EQ(decoded(body), expected) << body;
}

// What the reader makes of an encoded text (it decodes the runs into wide characters), turned
// into UTF-8 as the converter does, is the text itself. Apostrophes and backslashes travel as
// stand-ins the reader cannot take for the end of a text, even inside a typed value.
TEST(StepStrings, AreWrittenBackInAFormTheReaderTakesAsItIs) {
    for (const std::u32string& text : {std::u32string(U"it's"), std::u32string(U"a\\b\\"), std::u32string(U"line\nbreak"),
                                      std::u32string(U"\u00E1\u20AC\U0001F600"), std::u32string(UR"(\X2\0041\X0\)"),
                                      std::u32string(U"\uF8F0\uF8F1\uF8F2\uF8F3")}) {
        const std::string encoded = ifc2snapshot::encode_step_string(text);
        for (char c : encoded) EXPECT_TRUE(c >= 0x20 && c <= 0x7E && c != '\'') << encoded;
        const std::u32string read = ifc2snapshot::decode_step_string(encoded);
        std::string expected;
        for (char32_t c : text) {  // UTF-8, by hand
            if (c < 0x80) expected += static_cast<char>(c);
            else if (c < 0x800) expected += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
            else if (c < 0x10000)
                expected += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                             static_cast<char>(0x80 | (c & 0x3F))};
            else
                expected += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
                             static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        }
        EXPECT_EQ(to_utf8(std::wstring(read.begin(), read.end())), expected) << encoded;
    }
    EXPECT_EQ(to_utf8(L"\xD83D\xDE00"), "\xF0\x9F\x98\x80") << "a surrogate pair from the reader is one character";
}

TEST(StepNumbers, ParseTheStepSpellingsOfReals) {
    EXPECT_EQ(parse_step_number("5."), 5.0);
    EXPECT_EQ(parse_step_number("-0.25"), -0.25);
    EXPECT_EQ(parse_step_number("1.E-05"), 1e-05);
    EXPECT_EQ(parse_step_number("+16"), 16.0);
    EXPECT_EQ(parse_step_number("0.34999999999999998"), 0.35);
    for (const char* bad : {"", ".T.", "'5'", "5,0", "1e999", "nan", "5 "})
        EXPECT_FALSE(parse_step_number(bad).has_value()) << bad;
}

ifc2snapshot::Snapshot one_object_snapshot() {
    ifc2snapshot::Snapshot s;
    s.files = {"a.ifc", "b.ifc"};
    ifc2snapshot::SnapshotObject o;
    o.id = (std::uint64_t{1} << 53) - 1;
    o.bounds = {0, 0, 0, 5, 0.3, 2.8};
    o.volume = 4.2;
    o.area = 1.0 / 0.0;
    o.property_sets.push_back({"Atributos", {{"Guid", std::string("2O2Fr$t4X7Zf8NOew3FLOH")},
                                             {"Name", std::string("Muro \xE2\x82\xAC")}}});
    o.property_sets.push_back({"Pset", {{"Width", 0.1}, {"Nada", std::monostate{}}}});
    s.objects.push_back(o);
    return s;
}

TEST(SnapshotJson, HasTheViewersLayoutAndRoundTripsNumbers) {
    const auto j = nlohmann::json::parse(ifc2snapshot::to_json(one_object_snapshot(), false));
    EXPECT_EQ(j["format"], "kestro-bimvision-snapshot");
    EXPECT_EQ(j["version"], 1);
    EXPECT_EQ(j["files"], nlohmann::json::array({"a.ifc", "b.ifc"}));
    const auto& o = j["objects"][0];
    EXPECT_EQ(o["id"].get<std::uint64_t>(), (std::uint64_t{1} << 53) - 1);
    EXPECT_EQ(o["bounds"][4].get<double>(), 0.3);
    EXPECT_EQ(o["volume"].get<double>(), 4.2);
    EXPECT_EQ(o["area"].get<double>(), 0.0) << "a non-finite number is written as 0";
    EXPECT_EQ(o["property_sets"][0]["properties"][1]["value"], "Muro \xE2\x82\xAC");
    EXPECT_TRUE(o["property_sets"][1]["properties"][0]["value"].is_number_float());
    EXPECT_TRUE(o["property_sets"][1]["properties"][1]["value"].is_null());
}

TEST(SnapshotJson, NumbersIgnoreTheProcessLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    // Any locale with a decimal comma will do when one is installed; otherwise the test still
    // checks the text under the current one.
    for (const char* name : {"de_DE.UTF-8", "es_ES.UTF-8", "fr_FR.UTF-8"})
        if (std::setlocale(LC_ALL, name)) break;
    const std::string text = ifc2snapshot::to_json(one_object_snapshot(), false);
    std::setlocale(LC_ALL, before.c_str());
    EXPECT_NE(text.find("\"volume\":4.2,"), std::string::npos) << text;
}

TEST(AtomicWrite, ReplacesTheFileWholeAndLeavesNothingBeside) {
    ScratchDir dir;
    const std::string path = dir.write("modelo.json", "old");
    ifc2snapshot::write_file_atomically(path, "new content");
    EXPECT_EQ(read_file(path), "new content");
    EXPECT_EQ(dir.entry_count(), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(AtomicWrite, FailsWithoutTouchingAnythingWhenTheFolderIsMissing) {
    ScratchDir dir;
    EXPECT_THROW(ifc2snapshot::write_file_atomically(dir.file("no/such/folder/modelo.json"), "x"), std::runtime_error);
    EXPECT_EQ(dir.entry_count(), 0u);
}

// --- The command-line tool -----------------------------------------------------------------------

TEST(CommandLine, WritesASnapshotTheViewerCanRead) {
    ScratchDir dir;
    const std::string in = dir.write("edificio.ifc", ifc_samples::building_ifc4());
    ASSERT_EQ(run_converter("--quiet '" + in + "' '" + dir.file("edificio.json") + "'").status, 0);
    const auto j = nlohmann::json::parse(read_file(dir.file("edificio.json")));
    EXPECT_EQ(j["files"], nlohmann::json::array({"edificio.ifc"}));
    EXPECT_EQ(j["objects"].size(), 7u);
    EXPECT_EQ(dir.entry_count(), 2u);
}

TEST(CommandLine, LeavesAnEarlierSnapshotAloneWhenTheFileCannotBeRead) {
    ScratchDir dir;
    const std::string in = dir.write("malo.ifc", ifc_samples::step_file("IFC4", ""));
    const std::string out = dir.write("modelo.json", "earlier snapshot");
    EXPECT_EQ(run_converter("'" + in + "' '" + out + "'").status, 1);
    EXPECT_EQ(read_file(out), "earlier snapshot");
    EXPECT_EQ(dir.entry_count(), 2u);
}

TEST(CommandLine, RefusesWrongUsage) {
    EXPECT_EQ(run_converter("").status, 2);
    EXPECT_EQ(run_converter("only-one.ifc").status, 2);
    EXPECT_EQ(run_converter("--bogus a.ifc b.json").status, 2);
}

}  // namespace
