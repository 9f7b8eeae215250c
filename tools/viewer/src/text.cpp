#include "text.h"

#include "utf8.h"

#include <cstdint>

namespace bvs {

namespace {

constexpr char32_t replacement = 0xFFFD;


void append_utf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        auto b = static_cast<unsigned char>(in[i]);
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        int extra;
        char32_t c;
        char32_t min;
        if ((b & 0xE0) == 0xC0) {
            extra = 1, c = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, c = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, c = b & 0x07, min = 0x10000;
        } else {
            out += static_cast<char16_t>(replacement);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < extra; ++k, ++j) {
            if (j >= in.size() || (static_cast<unsigned char>(in[j]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(in[j]) & 0x3F);
        }
        if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += static_cast<char16_t>(replacement);
            i = j;  // resume at the first byte that was not part of the sequence
            continue;
        }
        append_utf16(out, c);
        i = j;
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view in) { return kbtools::utf16_to_utf8(in); }

std::string latin1_to_utf8(std::string_view bytes) { return kbtools::latin1_to_utf8(bytes); }

std::string utf16_to_latin1(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (char16_t c : utf16) out += c <= 0xFF ? static_cast<char>(c) : '?';
    return out;
}

std::u16string_view terminated(const char16_t* text) {
    if (text == nullptr) return {};
    return std::u16string_view(text);
}

}  // namespace bvs
