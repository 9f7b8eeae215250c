#include "text.h"

#include "utf8.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iconv.h>
#include <vector>

namespace ifc2snapshot {
namespace {


using kbtools::append_utf8;
using kbtools::join_surrogates;

// The reader decodes \X2\ runs before it splits a typed value such as IFCLABEL('...') off a
// property, so an apostrophe or backslash handed over in a run became a quote again there, and
// the value came out empty. They are handed over as private-use characters instead, which
// to_utf8 turns back; a private-use character of the file that is one of these three goes over
// behind stand_in_escape, so no text changes on the way.
constexpr char32_t stand_in_escape = 0xF8F0;
constexpr char32_t stand_in_apostrophe = 0xF8F1;
constexpr char32_t stand_in_backslash = 0xF8F2;

// Decodes bytes as strict UTF-8 (no overlongs, no surrogates); false when they are not.
bool decode_utf8(const std::vector<unsigned char>& bytes, std::u32string& out) {
    out.clear();
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char b = bytes[i];
        int extra;
        char32_t cp;
        if (b < 0x80) { extra = 0; cp = b; }
        else if ((b & 0xE0) == 0xC0) { extra = 1; cp = b & 0x1F; }
        else if ((b & 0xF0) == 0xE0) { extra = 2; cp = b & 0x0F; }
        else if ((b & 0xF8) == 0xF0) { extra = 3; cp = b & 0x07; }
        else return false;
        if (i + static_cast<size_t>(extra) >= bytes.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char c = bytes[i + k];
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        out += cp;
        i += extra + 1;
    }
    return true;
}

// Raw bytes from 0x80 up: UTF-8 when they form it, ISO 8859-1 otherwise.
void append_raw_bytes(const std::vector<unsigned char>& run, std::u32string& out) {
    std::u32string decoded;
    if (decode_utf8(run, decoded)) out += decoded;
    else
        for (unsigned char b : run) out += static_cast<char32_t>(b);
}

// One byte of ISO 8859 part 1 to 9 (\PA\ to \PI\). Part 1 is the first 256 code points; the
// others go through the C library's converters, which do not depend on the locale.
char32_t from_iso8859(int part, unsigned char byte) {
    if (part == 1 || byte < 0xA0) return byte;
    static iconv_t converters[10] = {};
    static bool tried[10] = {};
    if (!tried[part]) {
        tried[part] = true;
        const std::string name = "ISO-8859-" + std::to_string(part);
        converters[part] = iconv_open("UTF-32LE", name.c_str());
    }
    iconv_t cd = converters[part];
    if (cd == reinterpret_cast<iconv_t>(-1) || cd == nullptr) return 0xFFFD;
    char in[1] = {static_cast<char>(byte)};
    unsigned char out[4] = {};
    char* in_p = in;
    char* out_p = reinterpret_cast<char*>(out);
    size_t in_left = 1, out_left = 4;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == static_cast<size_t>(-1) || out_left != 0) return 0xFFFD;
    return static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 | static_cast<std::uint32_t>(out[3]) << 24);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// `digits` hex digits at s[at] as a number; -1 when they are not all hex digits.
long long hex_at(std::string_view s, size_t at, size_t digits) {
    if (at + digits > s.size()) return -1;
    long long v = 0;
    for (size_t k = 0; k < digits; ++k) {
        const int d = hex_digit(s[at + k]);
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

bool is_high_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Joins UTF-16 surrogate pairs; a lone surrogate is left for the UTF-8 writer to replace.
void append_utf16(const std::vector<char32_t>& units, std::u32string& out) {
    for (size_t k = 0; k < units.size(); ++k) {
        const char32_t u = units[k];
        if (is_high_surrogate(u) && k + 1 < units.size() && is_low_surrogate(units[k + 1])) {
            out += join_surrogates(u, units[k + 1]);
            ++k;
        } else {
            out += u;
        }
    }
}

// \X2\ or \X4\ at s[i]: the characters up to \X0\, `digits` hex digits each. Returns the index
// past \X0\, or npos when the run is malformed (then nothing is appended).
size_t decode_hex_run(std::string_view s, size_t i, size_t digits, std::u32string& out) {
    std::vector<char32_t> units;
    size_t at = i + 4;
    for (;;) {
        if (s.compare(at, 4, "\\X0\\") == 0) break;
        const long long v = hex_at(s, at, digits);
        if (v < 0) return std::string_view::npos;
        units.push_back(v > 0x10FFFF ? 0xFFFD : static_cast<char32_t>(v));
        at += digits;
    }
    if (digits == 4) append_utf16(units, out);
    else out.append(units.begin(), units.end());
    return at + 4;
}

bool is_widened_byte(wchar_t c) {
    const auto u = static_cast<std::uint32_t>(c);
    return u >= 0xFFFFFF80u;
}

} // namespace

std::u32string decode_step_string(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    int part = 1;  // the ISO 8859 part that \S\ refers to
    std::vector<unsigned char> run;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            run.clear();
            while (i < s.size() && static_cast<unsigned char>(s[i]) >= 0x80) run.push_back(static_cast<unsigned char>(s[i++]));
            append_raw_bytes(run, out);
            continue;
        }
        if (c == '\'') {  // '' stands for one apostrophe
            out += U'\'';
            i += (i + 1 < s.size() && s[i + 1] == '\'') ? 2 : 1;
            continue;
        }
        if (c != '\\') {
            out += c;
            ++i;
            continue;
        }
        if (s.compare(i, 2, "\\\\") == 0) {
            out += U'\\';
            i += 2;
            continue;
        }
        if (s.compare(i, 3, "\\S\\") == 0 && i + 3 < s.size() && static_cast<unsigned char>(s[i + 3]) < 0x80) {
            // The character after \S\ is written like any other: '' and \\ stand for one.
            const char next = s[i + 3];
            size_t used = 4;
            if ((next == '\'' || next == '\\') && i + 4 < s.size() && s[i + 4] == next) used = 5;
            out += from_iso8859(part, static_cast<unsigned char>(next + 0x80));
            i += used;
            continue;
        }
        if (s.compare(i, 2, "\\P") == 0 && i + 3 < s.size() && s[i + 2] >= 'A' && s[i + 2] <= 'I' && s[i + 3] == '\\') {
            part = s[i + 2] - 'A' + 1;
            i += 4;
            continue;
        }
        if (s.compare(i, 3, "\\X\\") == 0) {
            const long long v = hex_at(s, i + 3, 2);
            if (v >= 0) {
                out += static_cast<char32_t>(v);
                i += 5;
                continue;
            }
        }
        if (s.compare(i, 4, "\\X2\\") == 0 || s.compare(i, 4, "\\X4\\") == 0) {
            const size_t end = decode_hex_run(s, i, s[i + 2] == '2' ? 4 : 8, out);
            if (end != std::string_view::npos) {
                i = end;
                continue;
            }
        }
        out += U'\\';  // starts no escape: a backslash as written
        ++i;
    }
    return out;
}

std::string encode_step_string(std::u32string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    bool in_run = false;
    auto unit = [&](std::uint32_t u) {
        if (!in_run) out += "\\X2\\";
        in_run = true;
        for (int shift = 12; shift >= 0; shift -= 4) out += hex[(u >> shift) & 0xF];
    };
    for (char32_t c : text) {
        if (c >= 0x20 && c <= 0x7E && c != U'\'' && c != U'\\') {
            if (in_run) out += "\\X0\\";
            in_run = false;
            out += static_cast<char>(c);
            continue;
        }
        if (c > 0x10FFFF) c = 0xFFFD;
        if (c == U'\'') {
            unit(stand_in_apostrophe);
        } else if (c == U'\\') {
            unit(stand_in_backslash);
        } else if (c == stand_in_escape || c == stand_in_apostrophe || c == stand_in_backslash) {
            unit(stand_in_escape);
            unit(c);
        } else if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    if (in_run) out += "\\X0\\";
    return out;
}

std::string to_utf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    std::vector<unsigned char> run;
    std::u32string decoded;
    for (size_t i = 0; i < text.size();) {
        if (!is_widened_byte(text[i])) {
            char32_t c = static_cast<char32_t>(static_cast<std::uint32_t>(text[i]));
            ++i;
            if (c == stand_in_apostrophe || c == stand_in_backslash) {
                out += c == stand_in_apostrophe ? '\'' : '\\';
                continue;
            }
            if (c == stand_in_escape && i < text.size()) {
                c = static_cast<char32_t>(static_cast<std::uint32_t>(text[i]));
                ++i;
            }
            if (is_high_surrogate(c) && i < text.size()) {
                const auto next = static_cast<char32_t>(static_cast<std::uint32_t>(text[i]));
                if (is_low_surrogate(next)) {
                    c = join_surrogates(c, next);
                    ++i;
                }
            }
            append_utf8(out, c);
            continue;
        }
        // A run of raw bytes; ASCII bytes inside the run are plain characters already, so the
        // run ends at the first character that is not a widened byte.
        run.clear();
        while (i < text.size() && is_widened_byte(text[i])) {
            run.push_back(static_cast<unsigned char>(static_cast<std::uint32_t>(text[i]) & 0xFF));
            ++i;
        }
        decoded.clear();
        append_raw_bytes(run, decoded);
        for (char32_t cp : decoded) append_utf8(out, cp);
    }
    return out;
}

void make_upper_ascii(std::string& text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

std::optional<double> parse_step_number(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (*first == '+') ++first;
    double value = 0;
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec != std::errc() || end != last || !std::isfinite(value)) return std::nullopt;
    return value;
}

} // namespace ifc2snapshot
