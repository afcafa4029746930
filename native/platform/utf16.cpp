#include "platform/utf16.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick {

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out(Utf8Bound(text.size()), '\0');
    out.resize(static_cast<std::size_t>(WriteUtf8(out.data(), text.data(), text.size()) - out.data()));
    return out;
}

char* WriteUtf8FromBytes(char* out, const std::uint8_t* bytes, std::size_t units) {
    const auto unitAt = [bytes](std::size_t at) {
        return static_cast<char16_t>(bytes[2 * at] | bytes[2 * at + 1] << 8);
    };
    // Most names are ASCII: a byte a unit, eight at a time where SSE2 is at
    // hand, the last eight taken again rather than one by one.
    std::size_t i = 0;
#if defined(__SSE2__)
    const auto asciiEight = [bytes, out](std::size_t at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 2 * at));
        const __m128i high = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) return false;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + at), _mm_packus_epi16(v, v));
        return true;
    };
    while (i + 8 <= units && asciiEight(i)) i += 8;
    if (units >= 8 && i + 8 > units && (i == units || asciiEight(units - 8))) return out + units;
#endif
    for (; i < units && unitAt(i) < 0x80; ++i) out[i] = static_cast<char>(unitAt(i));
    out += i;
    // The rest a run of units at a time, in the machine's order for
    // WriteUtf8; a pair split between two runs is joined by carrying its
    // first unit over.
    constexpr std::size_t kRun = 64;
    char16_t run[kRun];
    while (i < units) {
        std::size_t count = std::min(units - i, kRun);
        for (std::size_t k = 0; k < count; ++k) run[k] = unitAt(i + k);
        if (count == kRun && i + count < units && IsHighSurrogate(run[kRun - 1])) --count;
        out = WriteUtf8(out, run, count);
        i += count;
    }
    return out;
}

}  // namespace tarnwick
