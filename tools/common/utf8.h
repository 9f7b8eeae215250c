// UTF-8 output shared by the tools (logs, JSON, snapshots). Header-only.
#pragma once

#include <string>
#include <string_view>

namespace kbtools {

/// Appends one code point as UTF-8; a surrogate or a value past U+10FFFF becomes U+FFFD.
inline void append_utf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

/// The code point a UTF-16 surrogate pair stands for (hi in D800..DBFF, lo in DC00..DFFF).
inline char32_t join_surrogates(char32_t hi, char32_t lo) { return 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00); }

/// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
inline std::string utf16_to_utf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t c = in[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF) {
            c = join_surrogates(c, in[i + 1]);
            ++i;
        }
        append_utf8(out, c);
    }
    return out;
}

/// Each byte as the code point of the same value (how the element records' 8-bit texts read).
inline std::string latin1_to_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) append_utf8(out, static_cast<unsigned char>(ch));
    return out;
}

}  // namespace kbtools
