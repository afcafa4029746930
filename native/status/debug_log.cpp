#include "status/debug_log.h"

#include <cstdarg>
#include <cwchar>
#include <memory>
#include <string>

#include "platform/platform.h"

#if defined(_WIN32)
#include <stdio.h>
#endif

namespace tarnwick {

namespace {

#if defined(_WIN32)
static_assert(sizeof(wchar_t) == sizeof(char16_t));

void FormatInto(char16_t* out, std::size_t room, const char16_t* format, va_list args) {
    _vsnwprintf_s(reinterpret_cast<wchar_t*>(out), room, _TRUNCATE, reinterpret_cast<const wchar_t*>(format), args);
}
#else
// wchar_t is 32 bits here, so the format is widened, formatted by the C
// library, and narrowed back, cut to the room left as _TRUNCATE would.
void FormatInto(char16_t* out, std::size_t room, const char16_t* format, va_list args) {
    std::wstring wideFormat;
    for (const char16_t* p = format; *p != 0; ++p) wideFormat.push_back(static_cast<wchar_t>(*p));

    std::wstring formatted(room, L'\0');
    int written = -1;
    // vswprintf reports overflow only as failure, so grow until the whole
    // text fits (bounded: a format can ask for gigabytes of padding).
    for (std::size_t size = room; size <= (std::size_t{1} << 26); size *= 2) {
        formatted.assign(size, L'\0');
        va_list copy;
        va_copy(copy, args);
        written = std::vswprintf(formatted.data(), size, wideFormat.c_str(), copy);
        va_end(copy);
        if (written >= 0) break;
    }
    if (written < 0) written = 0;

    std::size_t used = 0;
    for (int i = 0; i < written && used + 1 < room; ++i) {
        const auto c = static_cast<char32_t>(formatted[static_cast<std::size_t>(i)]);
        if (c >= 0x10000) {
            if (used + 2 >= room) break;
            out[used++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out[used++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out[used++] = static_cast<char16_t>(c);
        }
    }
    out[used] = 0;
}
#endif

}  // namespace

void DebugLog(const char16_t* format, ...) {
    auto buffer = std::make_unique<char16_t[]>(kDebugLogCapacity);  // value-initialised: all zero
    std::size_t n = 0;
    for (; kDebugLogPrefix[n] != 0 && n + 1 < kDebugLogCapacity; ++n) buffer[n] = kDebugLogPrefix[n];

    va_list args;
    va_start(args, format);
    FormatInto(buffer.get() + n, kDebugLogCapacity - n, format, args);
    va_end(args);

    platform::DebugOutput(buffer.get());
}

}  // namespace tarnwick
