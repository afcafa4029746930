// Text helpers shared by the description parser and the catalogue writer.
//
// Names travel as UTF-16 (what NTFS stores). In description files and in the
// expected-catalogue TSV they are written as UTF-8 with a few escapes, so that
// every possible NTFS name, unpaired surrogates and control characters
// included, has one printable spelling:
//   \\  backslash        \s  space (descriptions only; TSV keeps spaces)
//   \t \n \r  \{ \}       \#  a literal '#' (descriptions only)
//   \u{HEX}              one code point; D800-DFFF give a lone surrogate unit,
//                        above FFFF a surrogate pair
//   {N*TEXT}             TEXT repeated N times (descriptions only)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace volume_builder {

// Decodes escaped UTF-8 into UTF-16. Throws std::runtime_error on bad input.
std::u16string UnescapeName(std::string_view text);

// The canonical escaped spelling of a UTF-16 name, as the TSV files use it:
// printable characters as UTF-8, backslash, tab, CR, LF, braces as \\ \t \r \n
// \{ \}, other controls and lone surrogates as \u{HEX}.
std::string EscapeName(std::u16string_view name);

// Plain UTF-16 to UTF-8 for messages (lone surrogates become U+FFFD).
std::string ToUtf8(std::u16string_view name);

}  // namespace volume_builder
