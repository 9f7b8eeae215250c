#include "text.h"

#include "utf8.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

namespace ifc2snapshot {
namespace {


using kbtools::append_utf8;

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

bool is_widened_byte(wchar_t c) {
    const auto u = static_cast<std::uint32_t>(c);
    return u >= 0xFFFFFF80u;
}

} // namespace

std::string to_utf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    std::vector<unsigned char> run;
    std::u32string decoded;
    for (size_t i = 0; i < text.size();) {
        if (!is_widened_byte(text[i])) {
            append_utf8(out, static_cast<char32_t>(static_cast<std::uint32_t>(text[i])));
            ++i;
            continue;
        }
        // A run of raw bytes; ASCII bytes inside the run are plain characters already, so the
        // run ends at the first character that is not a widened byte.
        run.clear();
        while (i < text.size() && is_widened_byte(text[i])) {
            run.push_back(static_cast<unsigned char>(static_cast<std::uint32_t>(text[i]) & 0xFF));
            ++i;
        }
        if (decode_utf8(run, decoded)) {
            for (char32_t cp : decoded) append_utf8(out, cp);
        } else {
            for (unsigned char b : run) append_utf8(out, b);
        }
    }
    return out;
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
