// Text conversions of the substitute viewer. None of them looks at the process locale.
#pragma once

#include <string>
#include <string_view>

namespace bvs {

/// UTF-8 to UTF-16. Malformed sequences become U+FFFD.
std::u16string utf8_to_utf16(std::string_view utf8);

/// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view utf16);

/// 8-bit text read byte for byte as U+0000..U+00FF, written as UTF-8.
std::string latin1_to_utf8(std::string_view bytes);

/// UTF-16 to 8-bit text: code units up to U+00FF keep their value, everything else becomes '?'.
std::string utf16_to_latin1(std::u16string_view utf16);

/// The text of a null-terminated UTF-16 string (null gives an empty string).
std::u16string_view terminated(const char16_t* text);

}  // namespace bvs
