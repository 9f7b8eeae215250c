// 8-bit fields made from wide text, and the "%f" number text.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "elements/text.h"

namespace {

// A field of `width` bytes pre-filled with 0xCC, so that untouched bytes show.
std::string narrow(std::u16string_view text, std::size_t width) {
    std::string field(width, '\xCC');
    kb::to_narrow_field(text, field.data(), width);
    return field;
}

std::string padded(std::string content, std::size_t width) {
    content.resize(width, '\0');
    return content;
}

TEST(NarrowField, KeepsUnitsUpToFFAndMarksEveryOtherCodePointWithOneQuestionMark) {
    EXPECT_EQ(narrow(u"a\u00F1\u0001\u00FF\u0080z", 10), padded("a\xF1\x01\xFF\x80z", 10));
    EXPECT_EQ(narrow(u"5\u20AD net", 12), padded("5? net", 12));
    EXPECT_EQ(narrow(u"a\U0001F600b", 8), padded("a?b", 8));  // a pair is one code point
    // Lone surrogates, and a high one followed by a pair; an embedded zero unit.
    EXPECT_EQ(narrow(std::u16string(u"x\xD83D"), 8), padded("x?", 8));
    EXPECT_EQ(narrow(std::u16string(u"\xDE00x"), 8), padded("?x", 8));
    EXPECT_EQ(narrow(std::u16string(u"\xD83D\xD83D\xDE00"), 8), padded("??", 8));
    EXPECT_EQ(narrow(std::u16string(u"a\0b", 3), 6), padded("a?b", 6));
    EXPECT_EQ(narrow(u"", 4), std::string(4, '\0'));
}

// Pairs at the corners of the two surrogate ranges (D800/DBFF high, DC00/DFFF low), among them
// U+1F7FF and U+10FFFF, whose low half is U+DFFF: each is one '?', so what follows stays in its
// place and the field is cut after the same code point.
TEST(NarrowField, EveryPairAtTheEdgesOfTheSurrogateRangesIsOneCodePoint) {
    for (const std::u16string pair : {u"\U00010000", u"\U000103FF", u"\U0010FC00",
                                      u"\U0001F7FF", u"\U0010FFFF"}) {
        ASSERT_EQ(pair.size(), 2u);
        const unsigned low = pair[1];
        EXPECT_EQ(narrow(u"a" + pair + u"b", 6), padded("a?b", 6)) << std::hex << low;
        EXPECT_EQ(narrow(pair + pair + u"xyz", 5), std::string("??xy\0", 5)) << std::hex << low;
        EXPECT_EQ(narrow(u"ab" + pair, 4), std::string("ab?\0", 4)) << std::hex << low;
    }
}

// The characters that Windows-1252 adds beyond Latin-1, in the order of their bytes 0x80..0x9F
// (0x81, 0x8D, 0x8F, 0x90 and 0x9D have none).
struct Extra {
    char16_t code_point;
    unsigned char byte;
};
constexpr Extra windows_1252_extras[] = {
    {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84}, {0x2026, 0x85}, {0x2020, 0x86},
    {0x2021, 0x87}, {0x02C6, 0x88}, {0x2030, 0x89}, {0x0160, 0x8A}, {0x2039, 0x8B}, {0x0152, 0x8C},
    {0x017D, 0x8E}, {0x2018, 0x91}, {0x2019, 0x92}, {0x201C, 0x93}, {0x201D, 0x94}, {0x2022, 0x95},
    {0x2013, 0x96}, {0x2014, 0x97}, {0x02DC, 0x98}, {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B},
    {0x0153, 0x9C}, {0x017E, 0x9E}, {0x0178, 0x9F}};

const Extra* extra_for(char16_t c) {
    for (const Extra& e : windows_1252_extras)
        if (e.code_point == c) return &e;
    return nullptr;
}

TEST(NarrowField, WritesTheWindows1252BytesOfTheCharactersItAddsToLatin1) {
    // Each of the 27 alone and between letters.
    for (const Extra& e : windows_1252_extras) {
        const char byte = static_cast<char>(e.byte);
        EXPECT_EQ(narrow(std::u16string(1, e.code_point), 3), std::string({byte, '\0', '\0'}))
            << std::hex << static_cast<unsigned>(e.code_point);
        const std::u16string between{u'a', e.code_point, u'b'};
        EXPECT_EQ(narrow(between, 5), std::string({'a', byte, 'b', '\0', '\0'}));
    }
    EXPECT_EQ(narrow(u"Sal\u00F3n\u2013comedor", 16), padded("Sal\xF3n\x96" "comedor", 16));
    EXPECT_EQ(narrow(u"Coste \u20AC \u201Cm\u00B2\u201D\u2026", 16), padded("Coste \x80 \x93m\xB2\x94\x85", 16));
    // Latin-1 keeps its bytes, C1 controls included: 0x80 may come from U+0080 or from U+20AC.
    EXPECT_EQ(narrow(u"\u0080\u0081\u009F\u00A0", 5), std::string("\x80\x81\x9F\xA0\0", 5));
}

// Every other code unit, the neighbours of the 27 included (U+20AB, U+20AD, U+2012, ...).
TEST(NarrowField, EveryCodeUnitGivesItsOwnByteItsWindows1252ByteOrOneQuestionMark) {
    for (char32_t c = 1; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;  // surrogates: above
        const char16_t unit = static_cast<char16_t>(c);
        const Extra* e = extra_for(unit);
        const char want = c <= 0xFF ? static_cast<char>(c) : e ? static_cast<char>(e->byte) : '?';
        char out[2] = {'x', 'x'};
        ASSERT_EQ(kb::to_narrow(std::u16string_view(&unit, 1), out, 2), 1u);
        ASSERT_EQ(out[0], want) << std::hex << static_cast<unsigned>(c);
    }
}

TEST(NarrowField, KeepsWidthMinusOneConvertedBytesWithoutSplittingAPair) {
    EXPECT_EQ(narrow(u"abcd", 5), std::string("abcd\0", 5));
    EXPECT_EQ(narrow(u"abcdef", 5), std::string("abcd\0", 5));
    EXPECT_EQ(narrow(u"abc", 1), std::string(1, '\0'));
    EXPECT_EQ(narrow(u"a\U0001F600b\U0001F600cd", 5), std::string("a?b?\0", 5));
    EXPECT_EQ(narrow(u"abc\U0001F600", 5), std::string("abc?\0", 5));
    char out[8] = {};
    EXPECT_EQ(kb::to_narrow(u"a\U0001F600bcdef", out, 4), 4u);
    EXPECT_EQ(std::string(out), "a?bc");
}

TEST(FixedNumber, WritesSixDecimalsAPointAndTheCRunTimeSpellings) {
    EXPECT_EQ(kb::format_fixed(2.5), u"2.500000");
    EXPECT_EQ(kb::format_fixed(-0.25), u"-0.250000");
    EXPECT_EQ(kb::format_fixed(1234567.0), u"1234567.000000");  // no grouping
    EXPECT_EQ(kb::format_fixed(2.5e-6), u"0.000003");
    EXPECT_EQ(kb::format_fixed(-1e-9), u"-0.000000");
    EXPECT_EQ(kb::format_fixed(-0.0), u"-0.000000");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(kb::format_fixed(nan), u"nan");
    EXPECT_EQ(kb::format_fixed(std::copysign(nan, -1.0)), u"-nan");
    EXPECT_EQ(kb::format_fixed(inf), u"inf");
    EXPECT_EQ(kb::format_fixed(-inf), u"-inf");
}

TEST(FixedNumber, WritesLargeNumbersInFullAndAppendCutsThem) {
    const std::u16string full = kb::format_fixed(1e100);
    ASSERT_EQ(full.size(), 108u);  // 101 digits, the point, six decimals
    EXPECT_EQ(full.substr(0, 17), u"10000000000000000");
    EXPECT_EQ(kb::format_fixed(std::numeric_limits<double>::max()).size(), 316u);
    std::u16string out = u"#";
    kb::append_fixed(out, 1e100, 99);
    EXPECT_EQ(out.substr(0, 1), u"#");
    EXPECT_EQ(out.substr(1), full.substr(0, 99));
}

TEST(FixedNumber, IgnoresTheProcessLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252"})
        if (std::setlocale(LC_ALL, name)) {
            chosen = name;
            break;
        }
    if (!chosen) GTEST_SKIP() << "no locale with a decimal comma is installed";
    const std::u16string text = kb::format_fixed(1234.5);
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(text, u"1234.500000") << "under " << chosen;
}

TEST(WidenBytes, MapsEveryByteToTheCodeUnitOfTheSameValue) {
    EXPECT_EQ(kb::widen_bytes("A\x80\xF1\xFF"), (std::u16string{u'A', 0x80, 0xF1, 0xFF}));
    EXPECT_EQ(kb::widen_bytes(""), u"");
}

}  // namespace
