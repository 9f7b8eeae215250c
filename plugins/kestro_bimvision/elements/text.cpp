#include "elements/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>

namespace kb {

namespace {

constexpr bool is_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool is_low_surrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The 27 characters above U+00FF that Windows-1252 (the 8-bit code page of a Spanish Windows,
// which KESTRO reads) places at 0x80..0x9F, sorted by code point. A fixed table on purpose: the
// system's code page plays no part.
struct Windows1252Extra {
    char16_t code_point;
    unsigned char byte;
};
constexpr Windows1252Extra windows_1252_extras[] = {
    {0x0152, 0x8C}, {0x0153, 0x9C}, {0x0160, 0x8A}, {0x0161, 0x9A}, {0x0178, 0x9F}, {0x017D, 0x8E},
    {0x017E, 0x9E}, {0x0192, 0x83}, {0x02C6, 0x88}, {0x02DC, 0x98}, {0x2013, 0x96}, {0x2014, 0x97},
    {0x2018, 0x91}, {0x2019, 0x92}, {0x201A, 0x82}, {0x201C, 0x93}, {0x201D, 0x94}, {0x201E, 0x84},
    {0x2020, 0x86}, {0x2021, 0x87}, {0x2022, 0x95}, {0x2026, 0x85}, {0x2030, 0x89}, {0x2039, 0x8B},
    {0x203A, 0x9B}, {0x20AC, 0x80}, {0x2122, 0x99}};
static_assert(sizeof windows_1252_extras / sizeof windows_1252_extras[0] == 27);

// The Windows-1252 byte of a code unit above U+00FF, or '?' when that code page has none.
char windows_1252_byte(char16_t c) {
    const Windows1252Extra* first = std::begin(windows_1252_extras);
    const Windows1252Extra* last = std::end(windows_1252_extras);
    const Windows1252Extra* found = std::lower_bound(
        first, last, c, [](const Windows1252Extra& e, char16_t v) { return e.code_point < v; });
    return found != last && found->code_point == c ? static_cast<char>(found->byte) : '?';
}

// Large enough for the longest fixed text of a double: 309 integer digits, sign, point, six
// decimals.
constexpr std::size_t fixed_buffer_size = 400;

// Writes the "%f" text of `value` into `buffer` and returns its length. The spelling of the
// special values follows the C run-time: "nan", "-nan", "inf", "-inf".
std::size_t write_fixed(double value, char (&buffer)[fixed_buffer_size]) {
    const bool negative = std::signbit(value);
    if (std::isnan(value) || std::isinf(value)) {
        const char* word = std::isnan(value) ? (negative ? "-nan" : "nan")
                                             : (negative ? "-inf" : "inf");
        const std::size_t n = std::strlen(word);
        std::memcpy(buffer, word, n);
        return n;
    }
    // std::to_chars ignores the locale: '.' always, no grouping, '-' for negatives (also -0.0).
    const auto result =
        std::to_chars(buffer, buffer + fixed_buffer_size, value, std::chars_format::fixed, 6);
    if (result.ec != std::errc{}) return 0;  // cannot happen with this buffer
    return static_cast<std::size_t>(result.ptr - buffer);
}

}  // namespace

std::size_t to_narrow(std::u16string_view text, char* out, std::size_t limit) {
    const char16_t* p = text.data();
    const char16_t* const end = p + text.size();
    std::size_t n = 0;
    while (p != end && n < limit) {
        const char16_t c = *p++;
        if (c != 0 && c <= 0xFF) {
            out[n++] = static_cast<char>(static_cast<unsigned char>(c));
            continue;
        }
        if (c != 0 && !is_high_surrogate(c) && !is_low_surrogate(c)) {
            out[n++] = windows_1252_byte(c);
            continue;
        }
        // A zero unit or a surrogate: one '?' per code point. A high surrogate followed by a low
        // one is a single code point; a lone surrogate (and U+0000) is one of its own.
        if (is_high_surrogate(c) && p != end && is_low_surrogate(*p)) ++p;
        out[n++] = '?';
    }
    return n;
}

void to_narrow_field(std::u16string_view text, char* field, std::size_t width) {
    if (width == 0) return;
    const std::size_t n = to_narrow(text, field, width - 1);
    std::memset(field + n, 0, width - n);
}

std::u16string format_fixed(double value) {
    std::u16string out;
    append_fixed(out, value, fixed_buffer_size);
    return out;
}

void append_fixed(std::u16string& out, double value, std::size_t max_chars) {
    char buffer[fixed_buffer_size];
    std::size_t n = write_fixed(value, buffer);
    if (n > max_chars) n = max_chars;
    const std::size_t old = out.size();
    out.resize(old + n);
    char16_t* dst = out.data() + old;
    for (std::size_t k = 0; k < n; ++k) dst[k] = static_cast<unsigned char>(buffer[k]);
}

std::u16string widen_bytes(std::string_view bytes) {
    std::u16string out(bytes.size(), u'\0');
    for (std::size_t k = 0; k < bytes.size(); ++k)
        out[k] = static_cast<char16_t>(static_cast<unsigned char>(bytes[k]));
    return out;
}

std::u16string format_grouped(std::uint64_t value) {
    std::u16string digits;
    do {
        digits.push_back(static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    std::u16string out;
    for (std::size_t i = digits.size(); i-- > 0;) {
        out.push_back(digits[i]);
        if (i != 0 && i % 3 == 0) out.push_back(u'.');
    }
    return out;
}

}  // namespace kb
