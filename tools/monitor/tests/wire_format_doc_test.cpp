// docs/wire-format.md and the monitor's decoder agree: the document's example record, read from
// its hexdump block, decodes to the values the document states.
#include "records.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

/// The bytes of the first ```hexdump block: "offset: hh hh ..." lines, unlisted bytes zero.
std::vector<unsigned char> example_bytes(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << "cannot read " << path;
    std::vector<unsigned char> bytes(monitor::record_size, 0);
    std::string line;
    bool inside = false, seen = false;
    while (std::getline(in, line)) {
        if (!inside) {
            inside = line == "```hexdump";
            continue;
        }
        if (line == "```") break;
        std::istringstream fields(line);
        std::string offset_text;
        fields >> offset_text;
        EXPECT_EQ(offset_text.back(), ':') << line;
        std::size_t offset = std::stoul(offset_text, nullptr, 16);
        std::string byte;
        while (fields >> byte) {
            EXPECT_LT(offset, bytes.size()) << line;
            if (offset >= bytes.size()) break;
            bytes[offset++] = static_cast<unsigned char>(std::stoul(byte, nullptr, 16));
            seen = true;
        }
    }
    EXPECT_TRUE(seen) << "no hexdump block in " << path;
    return bytes;
}

TEST(WireFormatDocument, ExampleRecordDecodesToTheStatedFields) {
    std::vector<unsigned char> bytes = example_bytes(KB_WIRE_FORMAT_DOC);
    monitor::Message message = monitor::decode_message(1, monitor::record_size, bytes.data());
    ASSERT_TRUE(message.valid) << monitor::rejection_reason(message.rejection);
    ASSERT_EQ(message.records.size(), 1u);
    const monitor::Record& r = message.records[0];
    EXPECT_EQ(r.guid, "2O2Fr$t4X7Zf8NOew3FLOH");
    EXPECT_EQ(r.texto, "Muro b\xe1sico 200");
    EXPECT_EQ(monitor::latin1_to_utf8(r.texto), "Muro b\xc3\xa1sico 200");
    EXPECT_EQ(r.entidad, "IfcWallStandardCase");
    EXPECT_EQ(r.tipo, "Muro exterior");
    EXPECT_EQ(r.ficheros, "edificio.ifc#");
    EXPECT_EQ(r.dx, 5.0);
    EXPECT_EQ(r.dy, 0.2);
    EXPECT_EQ(r.dz, 3.0);
    EXPECT_EQ(r.codigo, 1026);
    EXPECT_EQ(r.propiedad, "#Width#0.200000#Material#Hormig\xf3n#VOLUMEN#3.000000#AREA#15.000000");

    monitor::Properties p = monitor::split_properties(r.propiedad);
    ASSERT_TRUE(p.has_totals);
    EXPECT_EQ(p.volume, "3.000000");
    EXPECT_EQ(p.area, "15.000000");
    ASSERT_EQ(p.pairs.size(), 2u);
    EXPECT_EQ(p.pairs[0].name, "Width");
    EXPECT_EQ(p.pairs[0].value, "0.200000");
    EXPECT_EQ(p.pairs[1].name, "Material");

    // The same record as the second of a block, and the counts the document gives: the decoder
    // rejects a cbData that is not dwData x 12336, and takes an empty update.
    std::vector<unsigned char> two(bytes);
    two.insert(two.end(), bytes.begin(), bytes.end());
    monitor::Message pair = monitor::decode_message(2, two.size(), two.data());
    ASSERT_TRUE(pair.valid) << monitor::rejection_reason(pair.rejection);
    EXPECT_EQ(pair.records[1].guid, r.guid);
    EXPECT_FALSE(monitor::decode_message(2, monitor::record_size, two.data()).valid);
    monitor::Message empty = monitor::decode_message(0, 0, nullptr);
    EXPECT_TRUE(empty.valid);
    EXPECT_TRUE(empty.records.empty());

    // Every text field of the example is terminated within its width, as the document says
    // every field is: without the terminator of guid the record is rejected.
    std::vector<unsigned char> unterminated(bytes);
    for (std::size_t i = 0; i < 100; ++i)
        if (unterminated[i] == 0) unterminated[i] = 'x';
    EXPECT_FALSE(monitor::decode_message(1, monitor::record_size, unterminated.data()).valid);
}

}  // namespace
