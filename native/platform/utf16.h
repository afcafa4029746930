// UTF-16, as NTFS stores names, to UTF-8 for wherever text leaves the library
// on a POSIX system: the debug channel, file paths, the command-line tool and
// the volume builder's files. The one converter of the project.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace tarnwick {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

constexpr bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
// The first unit of a pair.
constexpr bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Three bytes per unit bound the output: a pair's four bytes come from two units.
constexpr std::size_t Utf8Bound(std::size_t utf16Units) { return utf16Units * 3; }

// The code point that starts at text[i], a surrogate pair joined (i then
// moves to the pair's second unit). An unpaired surrogate comes back as it
// is, so a caller can choose to spell it out rather than replace it.
// `Unit` is char16_t, or std::uint16_t as the catalogue's fields hold text.
template <typename Unit>
constexpr char32_t NextCodePoint(const Unit* text, std::size_t units, std::size_t& i) {
    static_assert(sizeof(Unit) == 2 && std::is_unsigned_v<Unit>, "UTF-16 units");
    const char32_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
        return 0x10000 + ((unit - 0xD800) << 10) + (char32_t{text[i]} - 0xDC00);
    }
    return unit;
}

// One code point (not a surrogate) as UTF-8 at `out`; returns one past the last byte.
inline char* WriteCodePoint(char* out, char32_t cp) {
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

// `units` units of UTF-16 as UTF-8 at `out`, at most Utf8Bound(units) bytes;
// returns one past the last. An unpaired surrogate becomes U+FFFD, so the
// output is always valid UTF-8.
template <typename Unit>
char* WriteUtf8(char* out, const Unit* text, std::size_t units) {
    for (std::size_t i = 0; i < units; ++i) {
        // Most names are ASCII: one comparison per unit for them.
        if (text[i] < 0x80) {
            *out++ = static_cast<char>(text[i]);
            continue;
        }
        const char32_t cp = NextCodePoint(text, units, i);
        out = WriteCodePoint(out, IsSurrogate(cp) ? kReplacementCharacter : cp);
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text);

// The same for `units` units stored little-endian at `bytes`, as NTFS keeps
// names, at any alignment: at most Utf8Bound(units) bytes.
char* WriteUtf8FromBytes(char* out, const std::uint8_t* bytes, std::size_t units);

// The UTF-16 units of valid UTF-8 text: one a code point, two past U+FFFF.
constexpr std::size_t Utf16Units(std::string_view utf8) {
    std::size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;
        if (byte >= 0xF0) ++units;
    }
    return units;
}

}  // namespace tarnwick
