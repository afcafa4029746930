// UTF-16 <-> UTF-8 conversion for the places where text leaves the library
// on a POSIX system (the debug channel, file paths, the command-line tool).
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

// Unpaired surrogates become U+FFFD, so the output is always valid UTF-8.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace tarnwick
