// The library's one diagnostic: a printf-style line on the debug channel.
#pragma once

#include <cstddef>

namespace tarnwick {

inline constexpr char16_t kDebugLogPrefix[] = u"[Tarnwick.dll] - ";
// Units of the buffer one call formats into, terminator included.
inline constexpr std::size_t kDebugLogCapacity = 0xFFFF;

// Writes the prefix and the formatted text (wide printf conventions: %f takes
// a double) in one piece; output beyond the buffer is cut silently.
void DebugLog(const char16_t* format, ...);

}  // namespace tarnwick
