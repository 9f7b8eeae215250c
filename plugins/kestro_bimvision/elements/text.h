// Text conversions and number formatting that never depend on the process locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kb {

/// Writes `text` as 8-bit text into a field of `width` bytes and zero-fills the rest: code units
/// U+0001..U+00FF become the byte of the same value, the 27 characters that Windows-1252 adds at
/// 0x80..0x9F (euro sign, dashes, typographic quotes, ellipsis, ...) become that byte, every other
/// code point (a surrogate pair counts as one, a lone surrogate as one) becomes '?'. A fixed
/// table: neither the process locale nor the system's code page plays a part. Keeps at most
/// width - 1 bytes.
void to_narrow_field(std::u16string_view text, char* field, std::size_t width);

/// The conversion of to_narrow_field without terminator or fill: writes at most `limit` bytes to
/// `out` and returns how many it wrote. A code point is never split: it gives one byte or none.
std::size_t to_narrow(std::u16string_view text, char* out, std::size_t limit);

/// "%f": fixed notation, six decimals, '.' always, '-' for negatives, "nan"/"inf" spelled out.
std::u16string format_fixed(double value);

/// Appends the "%f" text of `value` to `out`, keeping at most its first `max_chars` characters.
void append_fixed(std::u16string& out, double value, std::size_t max_chars);

/// A whole number with "." between groups of three digits ("50.000"), whatever the locale.
std::u16string format_grouped(std::uint64_t value);

/// Each byte becomes the UTF-16 code unit of the same value (0x80..0xFF -> U+0080..U+00FF).
std::u16string widen_bytes(std::string_view bytes);

}  // namespace kb
