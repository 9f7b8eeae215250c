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
using kb::element_record_size;
using Bytes = std::vector<unsigned char>;

Bytes record_bytes(const kb::RecordBlock& block, std::size_t r) {
    const unsigned char* p = block.bytes.get() + r * element_record_size;
    return Bytes(p, p + element_record_size);
}

// Collects for `w`'s request code, builds, and checks the block's count and total.
kb::RecordBlock build(World& w, std::uint32_t expected_count) {
    kb::collect_elements(w.plugin, w.request, w.lists);
    kb::RecordBlock block = kb::build_element_records(w.plugin, w.request, w.lists);
    EXPECT_TRUE(block.ok);
    EXPECT_EQ(block.count, expected_count);
    EXPECT_EQ(block.total, expected_count * 12336u);
    return block;
}

// The text of a field up to its terminator; fails when the field has none.
std::string field_text(const Bytes& rec, std::size_t offset, std::size_t width) {
    const char* p = reinterpret_cast<const char*>(rec.data() + offset);
    const void* zero = std::memchr(p, 0, width);
    EXPECT_NE(zero, nullptr) << "field at " << offset << " is not terminated";
    return zero ? std::string(p, static_cast<const char*>(zero)) : std::string(p, width);
}

std::string propiedad(const Bytes& rec) { return field_text(rec, 2332, 10000); }
std::string ficheros(const Bytes& rec) { return field_text(rec, 1300, 1000); }

double double_at(const Bytes& rec, std::size_t offset) {
    double d;
    std::memcpy(&d, rec.data() + offset, sizeof d);
    return d;
}

void put(Bytes& rec, std::size_t offset, const std::string& text) {
    std::memcpy(rec.data() + offset, text.data(), text.size());
}
void put(Bytes& rec, std::size_t offset, double d) { std::memcpy(rec.data() + offset, &d, 8); }

// The first differing offset, or -1.
long first_difference(const Bytes& a, const Bytes& b) {
    for (std::size_t k = 0; k < a.size() && k < b.size(); ++k)
        if (a[k] != b[k]) return static_cast<long>(k);
    return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}

TEST(RecordLayout, OneRecordMatchesTheFormatByteForByte) {
    World w(kb::REQUEST_SELECTION);
    auto& o = w.host.element(7, u"2O2Fr$t4X7Zf8NOew3FLOH", u"Mu\u00F1o", u"IfcWall", u"Standard");
    o.set(1).number(u"Width", 0.3).text(u"Material", u"Concrete");
    o.bounds = {1.0, 2.0, 3.0, 4.5, 2.25, 2.0};  // z: maximum below minimum
    o.volume = 1.5;
    o.area = 12.0;
    w.host.selected = {7};
    w.host.files = {u"a.ifc", u"b.ifc"};
    const kb::RecordBlock block = build(w, 1);

    Bytes expected(element_record_size, 0);
    put(expected, 0, "2O2Fr$t4X7Zf8NOew3FLOH");  // 22 bytes, zero at 22
    put(expected, 100, "Mu\xF1o");
    put(expected, 1100, "IfcWall");
    put(expected, 1200, "Standard");
    put(expected, 1300, "a.ifc#b.ifc#");
    put(expected, 2304, 3.5);
    put(expected, 2312, 0.25);
    put(expected, 2320, -1.0);
    expected[2329] = 0x04;  // 1024, little-endian
    put(expected, 2332, "#Width#0.300000#Material#Concrete#VOLUMEN#1.500000#AREA#12.000000");
    EXPECT_EQ(first_difference(record_bytes(block, 0), expected), -1);
}

TEST(RecordLayout, GapsAndBytesAfterEveryTerminatorAreZeroOverReusedMemory) {
    World w(kb::REQUEST_DRAG);
    for (int k = 0; k < 50; ++k) {
        auto& o = w.host.element(k + 1, std::u16string(99, u'g'), std::u16string(998, u'n'),
                                 std::u16string(99, u'e'), std::u16string(99, u't'));
        o.set(1).text(u"P", std::u16string(12000, u'p'));
        o.bounds = {-1e300, -1e300, -1e300, 1e300, 1e300, 1e300};
        o.volume = o.area = -1.0;
        w.host.selected.push_back(k + 1);
    }
    w.host.files = {std::u16string(2000, u'f')};
    for (int round = 0; round < 3; ++round) build(w, 50);  // the next block may reuse this memory
    for (auto& o : w.host.objects) {
        o.sets.clear();
        o.set(0).text(u"Guid", u"g");
        o.bounds = {};
        o.volume = o.area = 0.0;
    }
    w.host.files.clear();
    const kb::RecordBlock block = build(w, 50);
    Bytes expected(element_record_size, 0);
    put(expected, 0, "g");
    expected[2328] = 0x01;
    expected[2329] = 0x04;  // 1025: a drag
    put(expected, 2332, "#VOLUMEN#0.000000#AREA#0.000000");
    for (std::size_t r = 0; r < block.count; ++r)
        EXPECT_EQ(first_difference(record_bytes(block, r), expected), -1) << "record " << r;
}

TEST(RecordPacking, OnlyEntriesWithGuidBecomeRecordsBackToBackInListOrder) {
    World none(kb::REQUEST_UPDATE);
    build(none, 0);  // empty guid list
    none.host.element(1, u"", u"no guid");
    none.host.element(2, u"G2", u"", u"", u"IfcSite");
    build(none, 0);
    EXPECT_TRUE(none.lists.propiedad.empty());

    World w(kb::REQUEST_UPDATE);
    w.host.element(1, u"FIRST").volume = 1.0;
    w.host.element(2, u"", u"skipped").volume = 2.0;
    w.host.element(3, u"THIRD").volume = 3.0;
    w.host.log_queries = true;
    const kb::RecordBlock block = build(w, 2);
    EXPECT_EQ(field_text(record_bytes(block, 0), 0, 100), "FIRST");
    EXPECT_EQ(field_text(record_bytes(block, 1), 0, 100), "THIRD");
    EXPECT_EQ(propiedad(record_bytes(block, 1)), "#VOLUMEN#3.000000#AREA#0.000000");
    // The volume and area text goes into the records only: the lists are read, never changed.
    EXPECT_EQ(w.lists.propiedad, (std::vector<std::u16string>(2)));
    // Each record's own object is asked, bounds then volume then area.
    std::vector<std::pair<std::string, std::uint64_t>> seen;
    for (const auto& c : w.host.calls_named({"get_bounds", "get_volume", "get_total_area"}))
        seen.emplace_back(c.name, c.args.at(1));
    const decltype(seen) expected = {{"get_bounds", 1}, {"get_volume", 1}, {"get_total_area", 1},
                                     {"get_bounds", 3}, {"get_volume", 3}, {"get_total_area", 3}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(w.host.calls_named({"get_loaded_ifc_files_count"}).size(), 1u);
}

TEST(RecordValues, MissingOrSilentHostGivesZeroExtentsMeasuresAndFiles) {
    World w(kb::REQUEST_UPDATE);
    auto& silent = w.host.element(1, u"A");
    silent.bounds = {1, 1, 1, 9, 9, 9};
    silent.fills_bounds = false;  // get_bounds leaves the record untouched
    Bytes rec = record_bytes(build(w, 1), 0);
    EXPECT_EQ(double_at(rec, 2304), 0.0);
    EXPECT_EQ(double_at(rec, 2320), 0.0);

    World v(kb::REQUEST_UPDATE);
    auto& o = v.host.element(1, u"A");
    o.bounds = {1, 1, 1, 9, 9, 9};
    o.volume = 5;
    o.area = 6;
    v.host.files = {u"a.ifc"};
    v.host.missing = {"get_bounds", "get_volume", "get_total_area", "get_loaded_ifc_files_count"};
    v.host.install();
    rec = record_bytes(build(v, 1), 0);
    EXPECT_EQ(double_at(rec, 2312), 0.0);
    EXPECT_EQ(ficheros(rec), "");
    EXPECT_EQ(propiedad(rec), "#VOLUMEN#0.000000#AREA#0.000000");
}

TEST(RecordFiles, NullNameKeepsItsHashAndZeroOrNegativeCountGivesNoFiles) {
    World w(kb::REQUEST_UPDATE);
    w.host.element(1, u"A");
    w.host.files = {u"a.ifc", std::nullopt, u"c.ifc"};
    EXPECT_EQ(ficheros(record_bytes(build(w, 1), 0)), "a.ifc##c.ifc#");

    for (std::int32_t reported : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
        World v(kb::REQUEST_UPDATE);
        v.host.log_queries = true;
        v.host.element(1, u"A");
        v.host.files = {u"a.ifc"};
        v.host.reported_files_count = reported;
        EXPECT_EQ(ficheros(record_bytes(build(v, 1), 0)), "");
        EXPECT_TRUE(v.host.calls_named({"get_loaded_ifc_filename"}).empty());
    }
}

TEST(RecordTexts, UnrepresentableCharactersBecomeQuestionMarksAndTheRestIsKept) {
    World w(kb::REQUEST_UPDATE);
    auto& o = w.host.element(1, u"G\u20AD", u"Sal\u00F3n\u2013comedor 5\u20AC", u"Ifc\U0001F600Wall", u"T");
    o.set(1).text(u"Precio", u"12\u20AC/m\u00B2");
    w.host.files = {u"pr\u0151ba.ifc"};
    const Bytes rec = record_bytes(build(w, 1), 0);
    EXPECT_EQ(field_text(rec, 0, 100), "G?");
    EXPECT_EQ(field_text(rec, 100, 1000), "Sal\xF3n\x96" "comedor 5\x80");  // Windows-1252
    EXPECT_EQ(field_text(rec, 1100, 100), "Ifc?Wall");
    EXPECT_EQ(ficheros(rec), "pr?ba.ifc#");
    EXPECT_EQ(propiedad(rec), "#Precio#12\x80/m\xB2#VOLUMEN#0.000000#AREA#0.000000");
}

TEST(RecordTexts, TextsKeepAtMostWidthMinusOneBytesWithTheTerminatorInside) {
    for (std::size_t extra : {0u, 1u, 400u}) {  // fits exactly, one too long, far too long
        World w(kb::REQUEST_UPDATE);
        w.host.element(1, std::u16string(99 + extra, u'g'), std::u16string(999 + extra, u'n'),
                       std::u16string(99 + extra, u'e'), std::u16string(99 + extra, u't'));
        w.host.files = {std::u16string(998 + extra, u'f')};
        const Bytes rec = record_bytes(build(w, 1), 0);
        SCOPED_TRACE(extra);
        EXPECT_EQ(field_text(rec, 0, 100), std::string(99, 'g'));
        EXPECT_EQ(field_text(rec, 100, 1000), std::string(999, 'n'));
        EXPECT_EQ(field_text(rec, 1100, 100), std::string(99, 'e'));
        EXPECT_EQ(field_text(rec, 1200, 100), std::string(99, 't'));
        EXPECT_EQ(ficheros(rec), extra ? std::string(999, 'f') : std::string(998, 'f') + "#");
        EXPECT_EQ(double_at(rec, 2304), 0.0) << "nothing spills into the extents";
    }
}

TEST(RecordTexts, LongPropiedadIsCutBeforeTheVolumeAndAreaTextWhichArrivesWhole) {
    World w(kb::REQUEST_UPDATE);
    std::u16string value;
    for (int k = 0; k < 3000; ++k) value += u"\U0001F600";  // 6000 code units, 3000 bytes
    value += std::u16string(20000, u'x');
    auto& o = w.host.element(1, u"A");
    o.set(1).text(u"E", value);
    o.volume = 1.5;
    o.area = 12.0;
    const Bytes rec = record_bytes(build(w, 1), 0);
    const std::string suffix = "#VOLUMEN#1.500000#AREA#12.000000";
    const std::size_t gathered = 9999 - suffix.size();
    EXPECT_EQ(propiedad(rec), "#E#" + std::string(3000, '?') + std::string(gathered - 3003, 'x') +
                                  suffix);

    // A volume text of more than 99 characters keeps the first 99 of "#VOLUMEN#...#AREA#...".
    World v(kb::REQUEST_UPDATE);
    v.host.element(1, u"A").volume = 1e100;
    std::string volume;
    for (char16_t c : kb::format_fixed(1e100)) volume.push_back(static_cast<char>(c));
    EXPECT_EQ(propiedad(record_bytes(build(v, 1), 0)), ("#VOLUMEN#" + volume).substr(0, 99));
}

TEST(RecordBlockLimits, TooManyRecordsForA32BitTotalBuildNothing) {
    World w(kb::REQUEST_UPDATE);
    w.host.log_queries = true;
    const std::size_t n = std::numeric_limits<std::uint32_t>::max() / element_record_size + 1;
    w.lists.ids.assign(n, 1);
    w.lists.guid.assign(n, u"g");
    w.lists.propiedad.assign(n, u"#P#v");
    const kb::RecordBlock block = kb::build_element_records(w.plugin, w.request, w.lists);
    EXPECT_FALSE(block.ok);
    EXPECT_EQ(block.count, 0u);
    EXPECT_EQ(block.total, 0u);
    EXPECT_EQ(block.bytes, nullptr);
    EXPECT_TRUE(w.host.calls_named({"get_bounds"}).empty());
    EXPECT_EQ(w.lists.propiedad.back(), u"#P#v");
}

}  // namespace
