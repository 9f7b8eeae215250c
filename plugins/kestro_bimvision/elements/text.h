// Text conversions and number formatting that never depend on the process locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kb {

/// Writes `text` as 8-bit text into a field of `width` bytes and zero-fills the rest: code units
/// U+0001..U+00FF become the byte of the same value, every other code point (a surrogate pair
/// counts as one, a lone surrogate as one) becomes '?'. Keeps at most width - 1 bytes.
void to_narrow_field(std::u16string_view text, char* field, std::size_t width);

/// "%f": fixed notation, six decimals, '.' always, '-' for negatives, "nan"/"inf" spelled out.
std::u16string format_fixed(double value);

/// Each byte becomes the UTF-16 code unit of the same value (0x80..0xFF -> U+0080..U+00FF).
std::u16string widen_bytes(std::string_view bytes);

}  // namespace kb
