#include "records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using monitor::record_size;

/// A record block laid out by hand, byte offsets as the viewer writes them.
struct Block {
    std::vector<unsigned char> bytes;
    explicit Block(std::size_t records) : bytes(records * record_size, 0) {}
    unsigned char* at(std::size_t r) { return bytes.data() + r * record_size; }
    void text(std::size_t r, const monitor::TextField& f, const std::string& s) {
        std::memcpy(at(r) + f.offset, s.data(), s.size());
    }
    void number(std::size_t r, std::size_t offset, double v) { std::memcpy(at(r) + offset, &v, sizeof v); }
    void code(std::size_t r, std::int32_t v) { std::memcpy(at(r) + monitor::codigo_offset, &v, sizeof v); }
    monitor::Message decode(std::size_t count) { return monitor::decode_message(count, count * record_size, bytes.data()); }
};

TEST(MonitorDecoding, ReadsEveryFieldAtItsOffset) {
    Block b(2);
    b.text(1, monitor::guid_field, "2O2Fr$t4X7Zf8NOew3FLOH");
    b.text(1, monitor::texto_field, "Muro b\xE1sico");
    b.text(1, monitor::entidad_field, "IfcWall");
    b.text(1, monitor::tipo_field, "Basic Wall");
    b.text(1, monitor::ficheros_field, "a.ifc#b.ifc#");
    b.number(1, monitor::dx_offset, 4.25);
    b.number(1, monitor::dy_offset, -0.5);
    b.number(1, monitor::dz_offset, 3.0);
    b.code(1, 1026);
    b.text(1, monitor::propiedad_field, "#Width#0.300000#VOLUMEN#1.500000#AREA#12.000000");
    monitor::Message m = b.decode(2);
    ASSERT_TRUE(m.valid) << monitor::rejection_reason(m.rejection);
    ASSERT_EQ(m.records.size(), 2u);
    const monitor::Record& r = m.records[1];
    EXPECT_EQ(r.guid, "2O2Fr$t4X7Zf8NOew3FLOH");
    EXPECT_EQ(r.texto, "Muro b\xE1sico");
    EXPECT_EQ(r.entidad, "IfcWall");
    EXPECT_EQ(r.tipo, "Basic Wall");
    EXPECT_EQ(r.ficheros, "a.ifc#b.ifc#");
    EXPECT_EQ(r.dx, 4.25);
    EXPECT_EQ(r.dy, -0.5);
    EXPECT_EQ(r.dz, 3.0);
    EXPECT_EQ(r.codigo, 1026);
    EXPECT_EQ(r.propiedad, "#Width#0.300000#VOLUMEN#1.500000#AREA#12.000000");
    EXPECT_EQ(m.records[0].guid, "");
}

TEST(MonitorDecoding, TextsStopAtTheFirstZeroAndIgnoreWhatFollows) {
    Block b(1);
    b.text(0, monitor::guid_field, std::string("abc\0garbage", 11));
    EXPECT_EQ(b.decode(1).records[0].guid, "abc");
}

TEST(MonitorDecoding, AcceptsAnEmptyMessageWithOrWithoutData) {
    EXPECT_TRUE(monitor::decode_message(0, 0, nullptr).valid);
    char one = 0;
    monitor::Message m = monitor::decode_message(0, 0, &one);
    EXPECT_TRUE(m.valid);
    EXPECT_TRUE(m.records.empty());
}

TEST(MonitorDecoding, RejectsAByteTotalThatIsNotTheRecordCountTimesTheRecordSize) {
    Block b(2);
    EXPECT_FALSE(monitor::decode_message(2, record_size, b.bytes.data()).valid);
    EXPECT_FALSE(monitor::decode_message(1, 2 * record_size, b.bytes.data()).valid);
    EXPECT_FALSE(monitor::decode_message(0, 200, b.bytes.data()).valid);
    monitor::Message m = monitor::decode_message(1, record_size - 1, b.bytes.data());
    EXPECT_FALSE(m.valid);
    EXPECT_NE(monitor::rejection_reason(m.rejection).find("12336"), std::string::npos);
    EXPECT_TRUE(m.records.empty());
}

TEST(MonitorDecoding, RejectsMissingDataForANonEmptyMessage) {
    EXPECT_FALSE(monitor::decode_message(1, record_size, nullptr).valid);
}

TEST(MonitorDecoding, RejectsATextFieldThatFillsItsWholeWidth) {
    const monitor::TextField fields[] = {monitor::guid_field,  monitor::texto_field,    monitor::entidad_field,
                                         monitor::tipo_field,  monitor::ficheros_field, monitor::propiedad_field};
    for (const monitor::TextField& f : fields) {
        Block b(3);
        b.text(2, f, std::string(f.width, 'x'));
        monitor::Message m = b.decode(3);
        EXPECT_FALSE(m.valid) << f.name;
        const std::string reason = monitor::rejection_reason(m.rejection);
        EXPECT_NE(reason.find(f.name), std::string::npos) << reason;
        EXPECT_NE(reason.find("record 2"), std::string::npos) << reason;
        // One byte shorter fits.
        Block fits(1);
        fits.text(0, f, std::string(f.width - 1, 'x'));
        EXPECT_TRUE(fits.decode(1).valid) << f.name;
    }
}

TEST(MonitorProperties, SplitsPairsAndTakesOutTheTrailingVolumeAndArea) {
    monitor::Properties p =
        monitor::split_properties("#Width#0.300000#Material#Concrete#VOLUMEN#1.500000#AREA#12.000000");
    ASSERT_EQ(p.pairs.size(), 2u);
    EXPECT_EQ(p.pairs[0].name, "Width");
    EXPECT_EQ(p.pairs[0].value, "0.300000");
    EXPECT_EQ(p.pairs[1].name, "Material");
    EXPECT_EQ(p.pairs[1].value, "Concrete");
    EXPECT_TRUE(p.has_totals);
    EXPECT_EQ(p.volume, "1.500000");
    EXPECT_EQ(p.area, "12.000000");
}

TEST(MonitorProperties, ReadsTotalsOfAnElementWithoutOtherProperties) {
    monitor::Properties p = monitor::split_properties("#VOLUMEN#0.000000#AREA#0.000000");
    EXPECT_TRUE(p.pairs.empty());
    EXPECT_TRUE(p.has_totals);
    EXPECT_EQ(p.volume, "0.000000");
}

TEST(MonitorProperties, LeavesTextWithoutTotalsAsPlainPairs) {
    EXPECT_TRUE(monitor::split_properties("").pairs.empty());
    EXPECT_FALSE(monitor::split_properties("").has_totals);
    monitor::Properties p = monitor::split_properties("#Empty##Odd");
    ASSERT_EQ(p.pairs.size(), 2u);
    EXPECT_EQ(p.pairs[0].value, "");
    EXPECT_EQ(p.pairs[1].name, "Odd");
    EXPECT_FALSE(p.has_totals);
}

TEST(MonitorText, LogsEveryByteAsTheCodePointOfTheSameValueAndShowsItAsWindows1252) {
    EXPECT_EQ(monitor::latin1_to_utf8("a\xF1\xFF\x80"), "a\xC3\xB1\xC3\xBF\xC2\x80");
    EXPECT_EQ(monitor::windows_1252_to_wide("\x80\x96\x9F\xA0\xF1\x7F"), L"\u20AC\u2013\u0178\u00A0\u00F1\x7F");
}

TEST(MonitorJson, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(monitor::json_string("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
}

TEST(MonitorJson, WritesNumbersThatReadBackExactly) {
    EXPECT_EQ(monitor::json_number(0.1), "0.1");
    EXPECT_EQ(monitor::json_number(-2.5), "-2.5");
    EXPECT_EQ(monitor::json_number(1.0 / 0.0), "null");
}

TEST(MonitorJson, ArrivalLineCarriesTheMessageAndItsRecords) {
    Block b(1);
    b.text(0, monitor::guid_field, "G\xE9");
    b.code(0, 1024);
    monitor::Message m = b.decode(1);
    monitor::Arrival a;
    a.window = 1;
    a.dw_data = 1;
    a.cb_data = record_size;
    a.w_param = 65538;
    std::string line = monitor::arrival_json(a, m);
    EXPECT_NE(line.find("\"window\":1,"), std::string::npos);
    EXPECT_NE(line.find("\"cbData\":12336,"), std::string::npos);
    EXPECT_NE(line.find("\"wParam\":65538,"), std::string::npos);
    EXPECT_NE(line.find("\"valid\":true"), std::string::npos);
    EXPECT_NE(line.find("\"guid\":\"G\xC3\xA9\""), std::string::npos);
    EXPECT_NE(line.find("\"codigo\":1024"), std::string::npos);

    monitor::Message bad = monitor::decode_message(1, 5, b.bytes.data());
    std::string rejected = monitor::arrival_json(a, bad);
    EXPECT_NE(rejected.find("\"valid\":false,\"reason\":"), std::string::npos);
    EXPECT_NE(rejected.find("\"records\":[]"), std::string::npos);
}

}  // namespace
