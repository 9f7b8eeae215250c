// 8-bit fields made from wide text, and the "%f" number text.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
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

TEST(NarrowField, KeepsEveryCodeUnitUpToFFAsTheSameByte) {
    const std::u16string text = u"a\u00F1\u0001\u00FF\u0080z";
    EXPECT_EQ(narrow(text, 10), padded("a\xF1\x01\xFF\x80z", 10));
}

TEST(NarrowField, MarksEachUnrepresentableCodePointWithOneQuestionMarkAndKeepsTheRest) {
    EXPECT_EQ(narrow(u"5\u20AC net", 12), padded("5? net", 12));
    // U+1F600 as a surrogate pair is a single code point.
    EXPECT_EQ(narrow(u"a\U0001F600b", 8), padded("a?b", 8));
    // Lone surrogates: a high one at the end, a high one before a plain unit, a low one alone.
    EXPECT_EQ(narrow(std::u16string(u"x\xD83D"), 8), padded("x?", 8));
    EXPECT_EQ(narrow(std::u16string(u"\xD83Dx"), 8), padded("?x", 8));
    EXPECT_EQ(narrow(std::u16string(u"\xDE00x"), 8), padded("?x", 8));
    // Two high surrogates then a low one: the first is lone, the second pairs.
    EXPECT_EQ(narrow(std::u16string(u"\xD83D\xD83D\xDE00"), 8), padded("??", 8));
}

TEST(NarrowField, TreatsAnEmbeddedZeroUnitAsUnrepresentable) {
    const std::u16string text(u"a\0b", 3);
    EXPECT_EQ(narrow(text, 6), padded("a?b", 6));
}

TEST(NarrowField, TextThatFillsTheFieldKeepsWidthMinusOneBytesAndTheTerminator) {
    EXPECT_EQ(narrow(u"abcd", 5), std::string("abcd\0", 5));
    EXPECT_EQ(narrow(u"abcdef", 5), std::string("abcd\0", 5));
    EXPECT_EQ(narrow(u"abc", 1), std::string(1, '\0'));
}

TEST(NarrowField, CutCountsConvertedBytesSoAPairNeverSplits) {
    // Four bytes of room: a, ?, b, ? -- the second pair is the fourth byte, not two marks.
    EXPECT_EQ(narrow(u"a\U0001F600b\U0001F600cd", 5), std::string("a?b?\0", 5));
    // A pair right at the cut gives one mark, never a mark and a stray half.
    EXPECT_EQ(narrow(u"abc\U0001F600", 5), std::string("abc?\0", 5));
}

TEST(NarrowField, EmptyTextGivesAnAllZeroField) {
    EXPECT_EQ(narrow(u"", 4), std::string(4, '\0'));
}

TEST(NarrowField, ZeroWidthTouchesNothing) {
    char byte = 'x';
    kb::to_narrow_field(u"abc", &byte, 0);
    EXPECT_EQ(byte, 'x');
}

TEST(Narrow, StopsAtTheLimitAndReportsTheBytesWritten) {
    char out[8] = {};
    EXPECT_EQ(kb::to_narrow(u"a\U0001F600bcdef", out, 4), 4u);
    EXPECT_EQ(std::string(out, 4), "a?bc");
    EXPECT_EQ(out[4], '\0');
}

TEST(FixedNumber, HasSixDecimalsAPointAndALeadingMinus) {
    EXPECT_EQ(kb::format_fixed(2.5), u"2.500000");
    EXPECT_EQ(kb::format_fixed(-0.25), u"-0.250000");
    EXPECT_EQ(kb::format_fixed(0.3), u"0.300000");
    EXPECT_EQ(kb::format_fixed(12.0), u"12.000000");
    EXPECT_EQ(kb::format_fixed(1234567.0), u"1234567.000000");  // no grouping
    EXPECT_EQ(kb::format_fixed(0.0000005), u"0.000000");
    EXPECT_EQ(kb::format_fixed(2.5e-6), u"0.000003");
    EXPECT_EQ(kb::format_fixed(0.0), u"0.000000");
}

TEST(FixedNumber, SpellsSpecialValuesAsTheCRunTimeDoes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(kb::format_fixed(nan), u"nan");
    EXPECT_EQ(kb::format_fixed(std::copysign(nan, -1.0)), u"-nan");
    EXPECT_EQ(kb::format_fixed(inf), u"inf");
    EXPECT_EQ(kb::format_fixed(-inf), u"-inf");
    EXPECT_EQ(kb::format_fixed(-0.0), u"-0.000000");
    EXPECT_EQ(kb::format_fixed(-1e-9), u"-0.000000");
}

TEST(FixedNumber, WritesLargeNumbersInFullAndAppendCutsThem) {
    const std::u16string full = kb::format_fixed(1e100);
    ASSERT_EQ(full.size(), 108u);  // 101 digits, the point, six decimals
    EXPECT_EQ(full.substr(0, 17), u"10000000000000000");
    EXPECT_EQ(full.substr(101), u".000000");
    EXPECT_EQ(kb::format_fixed(std::numeric_limits<double>::max()).size(), 316u);

    std::u16string out = u"#";
    kb::append_fixed(out, 1e100, 99);
    EXPECT_EQ(out, u"#" + full.substr(0, 99));
}

TEST(FixedNumber, IgnoresTheProcessLocale) {
    const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252"};
    std::string previous = std::setlocale(LC_ALL, nullptr);
    const char* chosen = nullptr;
    for (const char* name : candidates)
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
    const std::string bytes = "A\x80\xF1\xFF";
    const std::u16string wide = kb::widen_bytes(bytes);
    ASSERT_EQ(wide.size(), 4u);
    EXPECT_EQ(wide[0], u'A');
    EXPECT_EQ(wide[1], char16_t{0x80});
    EXPECT_EQ(wide[2], char16_t{0xF1});
    EXPECT_EQ(wide[3], char16_t{0xFF});
    EXPECT_EQ(kb::widen_bytes(""), u"");
}

}  // namespace
