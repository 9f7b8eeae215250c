#include <gtest/gtest.h>

#include "image_file.h"
#include "text.h"

namespace bvs {
namespace {

TEST(TextConversion, Utf8AndUtf16RoundTripOutsideLatin1) {
    std::string utf8 = "Puerta EI\xE2\x82\x82 60 \xC3\x97 \xE2\x82\xAC \xF0\x9F\x8F\xA0";
    std::u16string utf16 = utf8_to_utf16(utf8);
    EXPECT_EQ(utf16, u"Puerta EI\u2082 60 \u00d7 \u20ac \U0001F3E0");
    EXPECT_EQ(utf16_to_utf8(utf16), utf8);
}

TEST(TextConversion, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(utf8_to_utf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(utf8_to_utf16("a\xC3"), u"a\uFFFD");           // cut short
    EXPECT_EQ(utf8_to_utf16("\xC0\xAF" "x"), u"\uFFFDx");      // overlong
    EXPECT_EQ(utf8_to_utf16("\xED\xA0\x80"), u"\uFFFD");      // encoded surrogate
    EXPECT_EQ(utf16_to_utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(TextConversion, EightBitTextMapsByteForByte) {
    EXPECT_EQ(latin1_to_utf8(std::string("Ca\xF1" "o\xD7", 5)), "Ca\xC3\xB1o\xC3\x97");
    EXPECT_EQ(utf16_to_latin1(u"EI\u2082 \u00d7"), std::string("EI? \xD7", 5));
    EXPECT_TRUE(terminated(nullptr).empty());
}

Image two_by_two() {
    Image img;
    img.width = 2;
    img.height = 2;
    img.pixels = {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00123456};
    return img;
}

TEST(ImageFiles, BmpStoresRowsBottomUpInBgrWithPadding) {
    std::vector<std::uint8_t> b = encode_bmp(two_by_two());
    ASSERT_EQ(b.size(), 54u + 2 * 8);  // 2 pixels * 3 bytes padded to 8 per row
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(b[2], 70);
    EXPECT_EQ(b[28], 24);  // bits per pixel
    // First stored row is the bottom one: blue pixel, then 0x123456.
    EXPECT_EQ(b[54], 0xFF);
    EXPECT_EQ(b[55], 0x00);
    EXPECT_EQ(b[56], 0x00);
    EXPECT_EQ(b[57], 0x56);
    EXPECT_EQ(b[58], 0x34);
    EXPECT_EQ(b[59], 0x12);
    // Top row: red pixel, as B, G, R.
    EXPECT_EQ(b[62], 0x00);
    EXPECT_EQ(b[64], 0xFF);
}

std::uint32_t be32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return (std::uint32_t(b[at]) << 24) | (std::uint32_t(b[at + 1]) << 16) |
           (std::uint32_t(b[at + 2]) << 8) | b[at + 3];
}

TEST(ImageFiles, PngChunksCarryValidChecksumsAndTheRawPixels) {
    EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xCBF43926u);
    std::vector<std::uint8_t> p = encode_png(two_by_two());
    ASSERT_GT(p.size(), 8u);
    EXPECT_EQ(p[1], 'P');
    std::size_t at = 8;
    std::vector<std::string> types;
    std::vector<std::uint8_t> idat;
    while (at + 12 <= p.size()) {
        std::uint32_t len = be32(p, at);
        std::string type(p.begin() + at + 4, p.begin() + at + 8);
        types.push_back(type);
        EXPECT_EQ(be32(p, at + 8 + len), crc32(p.data() + at + 4, len + 4)) << type;
        if (type == "IDAT") idat.assign(p.begin() + at + 8, p.begin() + at + 8 + len);
        at += 12 + len;
    }
    EXPECT_EQ(at, p.size());
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    // zlib header, one final stored block of 2 rows * (1 + 6) bytes.
    ASSERT_GE(idat.size(), 2u + 5 + 14 + 4);
    EXPECT_EQ(idat[2], 1);
    EXPECT_EQ(idat[3] | (idat[4] << 8), 14);
    std::vector<std::uint8_t> raw(idat.begin() + 7, idat.begin() + 21);
    EXPECT_EQ(raw, (std::vector<std::uint8_t>{0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0x12,
                                             0x34, 0x56}));
}

}  // namespace
}  // namespace bvs
