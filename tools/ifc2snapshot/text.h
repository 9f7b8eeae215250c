// Text helpers of the IFC converter: wide text from the IFC reader to UTF-8, and STEP
// number parsing. None of them looks at the process locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ifc2snapshot {

/// Converts text handed out by the IFC reader to UTF-8.
///
/// The reader decodes the STEP escapes (\X\, \X2\, \X4\, \S\) into real code points, but a
/// string that holds raw 8-bit bytes (files written by tools that put UTF-8 straight into the
/// file) comes out with every byte widened through a signed char, i.e. as 0xFFFFFF80..0xFFFFFFFF.
/// Such runs are taken back to bytes and decoded as UTF-8 when they form valid UTF-8, or as
/// Latin-1 otherwise. Surrogates and values beyond U+10FFFF become U+FFFD, so the result is
/// always valid UTF-8.
std::string to_utf8(std::wstring_view text);

/// Parses a STEP real or integer ("5.", "-0.25", "1.E-05", "16") in full; nullopt when the text
/// is not exactly one finite number.
std::optional<double> parse_step_number(std::string_view text);

} // namespace ifc2snapshot
