// The element records built from the element lists: layout byte by byte, packing, the values
// asked of the fake viewer, and what happens to texts that do not fit or cannot be written.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "elements/collector.h"
#include "elements/element_record.h"
#include "elements/text.h"
#include "elements_fixture.h"

namespace {

using elements_test::World;
using kb::ElementRecord;
using kb::element_record_size;
using Bytes = std::vector<unsigned char>;

// Record r of a block, as bytes.
Bytes record_bytes(const kb::RecordBlock& block, std::size_t r) {
    const unsigned char* p = block.bytes.get() + r * element_record_size;
    return Bytes(p, p + element_record_size);
}

// The text of a field up to its terminator; fails when the field has none.
std::string field_text(const Bytes& rec, std::size_t offset, std::size_t width) {
    const char* p = reinterpret_cast<const char*>(rec.data() + offset);
    const void* zero = std::memchr(p, 0, width);
    EXPECT_NE(zero, nullptr) << "field at " << offset << " is not terminated";
    return zero ? std::string(p, static_cast<const char*>(zero)) : std::string(p, width);
}

double double_at(const Bytes& rec, std::size_t offset) {
    double d;
    std::memcpy(&d, rec.data() + offset, sizeof d);
    return d;
}

std::int32_t int_at(const Bytes& rec, std::size_t offset) {
    // Little-endian, whatever the build.
    return static_cast<std::int32_t>(std::uint32_t{rec[offset]} | std::uint32_t{rec[offset + 1]} << 8 |
                                     std::uint32_t{rec[offset + 2]} << 16 |
                                     std::uint32_t{rec[offset + 3]} << 24);
}

void put_text(Bytes& rec, std::size_t offset, const std::string& text) {
    std::memcpy(rec.data() + offset, text.data(), text.size());
}

void put_double(Bytes& rec, std::size_t offset, double d) { std::memcpy(rec.data() + offset, &d, 8); }

// The first differing offset, or -1.
long first_difference(const Bytes& a, const Bytes& b) {
    for (std::size_t k = 0; k < a.size() && k < b.size(); ++k)
        if (a[k] != b[k]) return static_cast<long>(k);
    return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}

TEST(RecordLayout, OneRecordMatchesTheFormatByteForByte) {
    World w(kb::REQUEST_SELECTION);
    const std::u16string guid = u"2O2Fr$t4X7Zf8NOew3FLOH";  // 22 characters
    auto& o = w.host.element(7, guid, u"Mu\u00F1o", u"IfcWall", u"Standard");
    o.set(1).number(u"Width", 0.3).text(u"Material", u"Concrete");
    o.bounds = {1.0, 2.0, 3.0, 4.5, 2.25, 2.0};  // z: maximum below minimum
    o.volume = 1.5;
    o.area = 12.0;
    w.host.selected = {7};
    w.host.files = {u"a.ifc", u"b.ifc"};
    kb::collect_elements(w.plugin);
    const kb::RecordBlock block = kb::build_element_records(w.plugin);

    ASSERT_TRUE(block.ok);
    ASSERT_EQ(block.count, 1u);
    ASSERT_EQ(block.total, 12336u);

    Bytes expected(element_record_size, 0);
    put_text(expected, 0, "2O2Fr$t4X7Zf8NOew3FLOH");
    put_text(expected, 100, "Mu\xF1o");
    put_text(expected, 1100, "IfcWall");
    put_text(expected, 1200, "Standard");
    put_text(expected, 1300, "a.ifc#b.ifc#");
    put_double(expected, 2304, 3.5);
    put_double(expected, 2312, 0.25);
    put_double(expected, 2320, -1.0);
    expected[2328] = 0x00;
    expected[2329] = 0x04;  // 1024, little-endian
    put_text(expected, 2332,
             "#Width#0.300000#Material#Concrete#VOLUMEN#1.500000#AREA#12.000000");
    const Bytes actual = record_bytes(block, 0);
    EXPECT_EQ(first_difference(actual, expected), -1);
    EXPECT_EQ(actual[22], 0);
    EXPECT_EQ(double_at(actual, 2320), -1.0);
}

TEST(RecordLayout, GapsAndBytesAfterEveryTerminatorAreZeroEvenOverReusedMemory) {
    // Several builds in a row, so the block may land on memory that held earlier records.
    World w(kb::REQUEST_UPDATE);
    for (int k = 0; k < 50; ++k) {
        auto& o = w.host.element(k + 1, u"G" + std::u16string(90, u'g'), std::u16string(998, u'n'),
                                 std::u16string(99, u'e'), std::u16string(99, u't'));
        o.set(1).text(u"P", std::u16string(12000, u'p'));
        o.bounds = {-1e300, -1e300, -1e300, 1e300, 1e300, 1e300};
        o.volume = o.area = -1.0;
    }
    w.host.files = {std::u16string(2000, u'f')};
    for (int round = 0; round < 3; ++round) {
        kb::collect_elements(w.plugin);
        kb::RecordBlock filled = kb::build_element_records(w.plugin);
        ASSERT_EQ(filled.count, 50u);
    }
    for (auto& o : w.host.objects) {
        o.sets.clear();
        o.set(0).text(u"Guid", u"g");
        o.bounds = {};
        o.volume = o.area = 0.0;
    }
    w.host.files.clear();
    kb::collect_elements(w.plugin);
    const kb::RecordBlock block = kb::build_element_records(w.plugin);
    ASSERT_EQ(block.count, 50u);
    Bytes expected(element_record_size, 0);
    put_text(expected, 0, "g");
    expected[2329] = 0x04;
    expected[2328] = 0x02;
    put_text(expected, 2332, "#VOLUMEN#0.000000#AREA#0.000000");
    for (std::size_t r = 0; r < block.count; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(first_difference(record_bytes(block, r), expected), -1);
    }
}

TEST(RecordPacking, EmptyGuidListGivesNoRecordsAndAsksTheHostNothingPerElement) {
    World w(kb::REQUEST_UPDATE);
    w.host.log_queries = true;
    const kb::RecordBlock block = kb::build_element_records(w.plugin);
    EXPECT_TRUE(block.ok);
    EXPECT_EQ(block.count, 0u);
    EXPECT_EQ(block.total, 0u);
    EXPECT_TRUE(w.host.calls_named({"get_bounds", "get_volume", "get_total_area"}).empty());
}

TEST(RecordPacking, EntriesWithoutGuidYieldNoRecordAndKeepTheirPropiedad) {
    World w(kb::REQUEST_UPDATE);
    w.host.element(1, u"", u"no guid");
    w.host.element(2, u"G2", u"", u"", u"IfcSite");
    kb::collect_elements(w.plugin);
    const kb::RecordBlock block = kb::build_element_records(w.plugin);
    EXPECT_TRUE(block.ok);
    EXPECT_EQ(block.count, 0u);
    EXPECT_EQ(block.total, 0u);
    EXPECT_EQ(w.plugin.lists.propiedad, (std::vector<std::u16string>{u"", u""}));
}

TEST(RecordPacking, RecordsLieBackToBackInListOrderSkippingEmptyEntries) {
    World w(kb::REQUEST_UPDATE);
    w.host.log_queries = true;
    w.host.element(1, u"FIRST").volume = 1.0;
    w.host.element(2, u"", u"skipped").volume = 2.0;
    w.host.element(3, u"THIRD").volume = 3.0;
    kb::collect_elements(w.plugin);
    w.host.calls.clear();
    const kb::RecordBlock block = kb::build_element_records(w.plugin);
    ASSERT_EQ(block.count, 2u);
    EXPECT_EQ(block.total, 2u * 12336u);
    EXPECT_EQ(field_text(record_bytes(block, 0), 0, 100), "FIRST");
    EXPECT_EQ(field_text(record_bytes(block, 1), 0, 100), "THIRD");
    EXPECT_EQ(field_text(record_bytes(block, 1), 2332, 10000), "#VOLUMEN#3.000000#AREA#0.000000");

    // The element's own object is asked, bounds then volume then area, and only for records.
    std::vector<std::pair<std::string, std::uint64_t>> seen;
    for (const auto& c : w.host.calls_named({"get_bounds", "get_volume", "get_total_area"}))
        seen.emplace_back(c.name, c.args.at(1));
    const std::vector<std::pair<std::string, std::uint64_t>> expected = {
        {"get_bounds", 1}, {"get_volume", 1}, {"get_total_area", 1},
        {"get_bounds", 3}, {"get_volume", 3}, {"get_total_area", 3}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(w.host.calls_named({"get_loaded_ifc_files_count"}).size(), 1u);
}

TEST(RecordPacking, ValoresAreAppendedToThePropiedadListOfPackedEntriesOnly) {
    World w(kb::REQUEST_UPDATE);
    auto& a = w.host.element(1, u"A");
    a.set(1).text(u"P", u"x");
    a.volume = 0.5;
    a.area = 2.0;
    w.host.element(2, u"", u"no guid").set(1).text(u"Q", u"y");
    kb::collect_elements(w.plugin);
    kb::build_element_records(w.plugin);
    EXPECT_EQ(w.plugin.lists.propiedad,
              (std::vector<std::u16string>{u"#P#x#VOLUMEN#0.500000#AREA#2.000000", u""}));
}

TEST(RecordValues, CodigoIsTheRequestCodeInEveryRecord) {
    for (std::int32_t code : {kb::REQUEST_SELECTION, kb::REQUEST_DRAG, kb::REQUEST_UPDATE}) {
        World w(code);
        w.host.element(1, u"A");
        w.host.element(2, u"B");
        w.host.selected = {1, 2};
        if (code == kb::REQUEST_SELECTION) w.host.selected = {2};
        kb::collect_elements(w.plugin);
        const kb::RecordBlock block = kb::build_element_records(w.plugin);
        ASSERT_GT(block.count, 0u);
        for (std::size_t r = 0; r < block.count; ++r)
            EXPECT_EQ(int_at(record_bytes(block, r), 2328), code);
    }
}

TEST(RecordValues, MissingOrSilentHostGivesZeroExtentsAndZeroMeasures) {
    World w(kb::REQUEST_UPDATE);
    auto& silent = w.host.element(1, u"A");
    silent.bounds = {1, 1, 1, 9, 9, 9};
    silent.fills_bounds = false;  // get_bounds leaves the record untouched
    kb::collect_elements(w.plugin);
    Bytes rec = record_bytes(kb::build_element_records(w.plugin), 0);
    EXPECT_EQ(double_at(rec, 2304), 0.0);
    EXPECT_EQ(double_at(rec, 2312), 0.0);
    EXPECT_EQ(double_at(rec, 2320), 0.0);

    World v(kb::REQUEST_UPDATE);
    auto& o = v.host.element(1, u"A");
    o.bounds = {1, 1, 1, 9, 9, 9};
    o.volume = 5;
    o.area = 6;
    v.host.files = {u"a.ifc"};
    v.host.missing = {"get_bounds", "get_volume", "get_total_area", "get_loaded_ifc_files_count"};
    v.host.install();
    kb::collect_elements(v.plugin);
    rec = record_bytes(kb::build_element_records(v.plugin), 0);
    EXPECT_EQ(double_at(rec, 2304), 0.0);
    EXPECT_EQ(double_at(rec, 2320), 0.0);
    EXPECT_EQ(field_text(rec, 1300, 1000), "");
    EXPECT_EQ(field_text(rec, 2332, 10000), "#VOLUMEN#0.000000#AREA#0.000000");
}

TEST(RecordValues, ValoresLongerThan99CharactersKeepTheirFirst99) {
    World w(kb::REQUEST_UPDATE);
    auto& o = w.host.element(1, u"A");
    o.set(1).text(u"P", u"v");
    o.volume = 1e100;
    o.area = 3.0;
    kb::collect_elements(w.plugin);
    const Bytes rec = record_bytes(kb::build_element_records(w.plugin), 0);
    std::string volume;
    for (char16_t c : kb::format_fixed(1e100)) volume.push_back(static_cast<char>(c));
    const std::string valores = ("#VOLUMEN#" + volume).substr(0, 99);
    EXPECT_EQ(field_text(rec, 2332, 10000), "#P#v" + valores);
}

TEST(RecordFiles, LoadedFileNamesEachEndWithAHash) {
    World w(kb::REQUEST_UPDATE);
    w.host.element(1, u"A");
    w.host.element(2, u"B");
    w.host.files = {u"a.ifc", u"b.ifc"};
    kb::collect_elements(w.plugin);
    const kb::RecordBlock block = kb::build_element_records(w.plugin);
    ASSERT_EQ(block.count, 2u);
    EXPECT_EQ(field_text(record_bytes(block, 0), 1300, 1000), "a.ifc#b.ifc#");
    EXPECT_EQ(field_text(record_bytes(block, 1), 1300, 1000), "a.ifc#b.ifc#");
}

TEST(RecordFiles, NullNameBelowTheCountIsLeftOutButKeepsItsHash) {
    World w(kb::REQUEST_UPDATE);
    w.host.element(1, u"A");
    w.host.files = {u"a.ifc", std::nullopt, u"c.ifc"};
    kb::collect_elements(w.plugin);
    const Bytes rec = record_bytes(kb::build_element_records(w.plugin), 0);
    EXPECT_EQ(field_text(rec, 1300, 1000), "a.ifc##c.ifc#");
}

TEST(RecordFiles, ZeroOrNegativeFileCountGivesAnEmptyField) {
    for (std::int32_t reported : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
        World w(kb::REQUEST_UPDATE);
        w.host.log_queries = true;
        w.host.element(1, u"A");
        w.host.files = {u"a.ifc"};
        w.host.reported_files_count = reported;
        kb::collect_elements(w.plugin);
        const Bytes rec = record_bytes(kb::build_element_records(w.plugin), 0);
        EXPECT_EQ(field_text(rec, 1300, 1000), "");
        EXPECT_TRUE(w.host.calls_named({"get_loaded_ifc_filename"}).empty());
    }
}

TEST(RecordTexts, UnrepresentableCharactersBecomeQuestionMarksAndTheRestIsKept) {
    World w(kb::REQUEST_UPDATE);
    auto& o = w.host.element(1, u"G\u20AC", u"5\u20AC \u00F1", u"Ifc\U0001F600Wall", u"T");
    o.set(1).text(u"Precio", u"12\u20AC");
    o.volume = 1.0;
    w.host.files = {u"pr\u0151ba.ifc"};
    kb::collect_elements(w.plugin);
    const Bytes rec = record_bytes(kb::build_element_records(w.plugin), 0);
    EXPECT_EQ(field_text(rec, 0, 100), "G?");
    EXPECT_EQ(field_text(rec, 100, 1000), "5? \xF1");
    EXPECT_EQ(field_text(rec, 1100, 100), "Ifc?Wall");
    EXPECT_EQ(field_text(rec, 1300, 1000), "pr?ba.ifc#");
    EXPECT_EQ(field_text(rec, 2332, 10000), "#Precio#12?#VOLUMEN#1.000000#AREA#0.000000");
}

TEST(RecordTexts, TextsThatFitFillTheFieldUpToItsLastByteButOne) {
    World w(kb::REQUEST_UPDATE);
    w.host.element(1, std::u16string(99, u'g'), std::u16string(999, u'n'), std::u16string(99, u'e'),
                   std::u16string(99, u't'));
    w.host.files = {std::u16string(998, u'f')};
    kb::collect_elements(w.plugin);
    const Bytes rec = record_bytes(kb::build_element_records(w.plugin), 0);
    EXPECT_EQ(field_text(rec, 0, 100), std::string(99, 'g'));
    EXPECT_EQ(field_text(rec, 100, 1000), std::string(999, 'n'));
    EXPECT_EQ(field_text(rec, 1100, 100), std::string(99, 'e'));
    EXPECT_EQ(field_text(rec, 1200, 100), std::string(99, 't'));
    EXPECT_EQ(field_text(rec, 1300, 1000), std::string(998, 'f') + "#");
}

TEST(RecordTexts, LongerTextsAreCutToTheFieldWithTheirTerminatorInside) {
    World w(kb::REQUEST_UPDATE);
    w.host.element(1, std::u16string(150, u'g'), std::u16string(1500, u'n'), std::u16string(100, u'e'),
                   std::u16string(300, u't'));
    w.host.files = {std::u16string(999, u'f')};
    kb::collect_elements(w.plugin);
    const Bytes rec = record_bytes(kb::build_element_records(w.plugin), 0);
    EXPECT_EQ(field_text(rec, 0, 100), std::string(99, 'g'));
    EXPECT_EQ(field_text(rec, 100, 1000), std::string(999, 'n'));
    EXPECT_EQ(field_text(rec, 1100, 100), std::string(99, 'e'));
    EXPECT_EQ(field_text(rec, 1200, 100), std::string(99, 't'));
    EXPECT_EQ(field_text(rec, 1300, 1000), std::string(999, 'f'));
    EXPECT_EQ(double_at(rec, 2304), 0.0) << "nothing spills into the extents";
}

TEST(RecordTexts, LongPropiedadIsCutBeforeItsVolumeAndAreaTextWhichArrivesWhole) {
    World w(kb::REQUEST_UPDATE);
    auto& o = w.host.element(1, u"A");
    o.set(1).text(u"Long", std::u16string(20000, u'x'));
    o.volume = 1.5;
    o.area = 12.0;
    kb::collect_elements(w.plugin);
    const Bytes rec = record_bytes(kb::build_element_records(w.plugin), 0);
    const std::string suffix = "#VOLUMEN#1.500000#AREA#12.000000";
    const std::string text = field_text(rec, 2332, 10000);
    ASSERT_EQ(text.size(), 9999u);
    EXPECT_EQ(text.substr(0, 6), "#Long#");
    EXPECT_EQ(text.substr(9999 - suffix.size()), suffix);
    EXPECT_EQ(text.substr(6, 9999 - suffix.size() - 6), std::string(9999 - suffix.size() - 6, 'x'));
    EXPECT_EQ(rec[12331], 0);
}

TEST(RecordTexts, PropiedadCutCountsASurrogatePairAsOneByte) {
    World w(kb::REQUEST_UPDATE);
    auto& o = w.host.element(1, u"A");
    std::u16string value;
    for (int k = 0; k < 6000; ++k) value += u"\U0001F600";  // 12000 code units, 6000 bytes
    value += std::u16string(5000, u'y');
    o.set(1).text(u"E", value);
    kb::collect_elements(w.plugin);
    const Bytes rec = record_bytes(kb::build_element_records(w.plugin), 0);
    const std::string suffix = "#VOLUMEN#0.000000#AREA#0.000000";
    const std::string text = field_text(rec, 2332, 10000);
    ASSERT_EQ(text.size(), 9999u);
    const std::size_t gathered = 9999 - suffix.size();
    EXPECT_EQ(text.substr(0, 3 + 6000), "#E#" + std::string(6000, '?'));
    EXPECT_EQ(text.substr(3 + 6000, gathered - 6003), std::string(gathered - 6003, 'y'));
    EXPECT_EQ(text.substr(gathered), suffix);
}

TEST(RecordBlockLimits, TooManyRecordsForA32BitTotalBuildNothing) {
    World w(kb::REQUEST_UPDATE);
    w.host.log_queries = true;
    // One record more than a 32-bit byte total can describe.
    const std::size_t n = std::numeric_limits<std::uint32_t>::max() / element_record_size + 1;
    w.plugin.lists.ids.assign(n, 1);
    w.plugin.lists.guid.assign(n, u"g");
    w.plugin.lists.propiedad.assign(n, u"#P#v");
    const kb::RecordBlock block = kb::build_element_records(w.plugin);
    EXPECT_FALSE(block.ok);
    EXPECT_EQ(block.count, 0u);
    EXPECT_EQ(block.total, 0u);
    EXPECT_EQ(block.bytes, nullptr);
    EXPECT_TRUE(w.host.calls_named({"get_bounds"}).empty());
    EXPECT_EQ(w.plugin.lists.propiedad.front(), u"#P#v");
    EXPECT_EQ(w.plugin.lists.propiedad.back(), u"#P#v");
}

}  // namespace
