// Text helpers of the IFC converter: STEP string literals decoded, wide text from the IFC
// reader to UTF-8, STEP number parsing and ASCII upper-casing. None of them looks at the
// process locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ifc2snapshot {

/// Decodes the text between the quotes of a STEP string literal:
///   ''            an apostrophe          \\           a backslash
///   \X\hh         U+00hh (ISO 8859-1)    \S\c         c + 128 in the current ISO 8859 part
///   \PA\ .. \PI\  selects ISO 8859-1 .. -9 for the \S\ that follow (-1 at the start)
///   \X2\hhhh..\X0\  UCS-2 (a surrogate pair gives one character beyond the BMP)
///   \X4\hhhhhhhh..\X0\  UCS-4
/// Bytes from 0x80 up, which some writers put straight into the file, are read as UTF-8 where
/// they form valid UTF-8 and as ISO 8859-1 otherwise. A backslash that starts none of these is
/// kept as it is; lone surrogates and values beyond U+10FFFF become U+FFFD.
std::u32string decode_step_string(std::string_view body);

/// The same text written back as a STEP string body that the IFC reader takes as it is: printable
/// ASCII stays (except ' and \), everything else goes into \X2\..\X0\ runs, characters beyond
/// the BMP as surrogate pairs. ' and \ go over as private-use stand-ins (U+F8F1, U+F8F2; one of
/// U+F8F0..U+F8F2 in the text goes behind U+F8F0), which the reader cannot mistake for the end
/// of the text; to_utf8 joins the pairs and turns the stand-ins back.
std::string encode_step_string(std::u32string_view text);

/// Converts text handed out by the IFC reader to UTF-8.
///
/// A string that holds raw 8-bit bytes comes out of the reader with every byte widened through
/// a signed char, i.e. as 0xFFFFFF80..0xFFFFFFFF. Such runs are taken back to bytes and decoded
/// as UTF-8 when they form valid UTF-8, or as Latin-1 otherwise. A UTF-16 surrogate pair becomes
/// the one character it stands for; other surrogates and values beyond U+10FFFF become U+FFFD,
/// so the result is always valid UTF-8.
std::string to_utf8(std::wstring_view text);

/// Turns the ASCII letters a-z into A-Z in place; every other byte stays as it is.
void make_upper_ascii(std::string& text);

/// Parses a STEP real or integer ("5.", "-0.25", "1.E-05", "16") in full; nullopt when the text
/// is not exactly one finite number.
std::optional<double> parse_step_number(std::string_view text);

} // namespace ifc2snapshot
