// The pieces every output line is made of: UTF-16 names as UTF-8, CSV fields,
// JSON strings, NTFS times and integers. Each writer puts its bytes at `out`
// and returns one past the last; the caller reserves the stated worst case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/utf16.h"

namespace tarnwick::cli {

// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD) and its worst case.
using tarnwick::Utf8Bound;
using tarnwick::WriteUtf8;

// Worst-case output sizes, for OutputBuffer::Reserve.
inline constexpr std::size_t CsvBound(std::size_t bytes) { return bytes * 2 + 2; }
inline constexpr std::size_t JsonBound(std::size_t bytes) { return bytes * 6 + 2; }
inline constexpr std::size_t kTimeBound = 28;     // 9999-12-31T23:59:59.9999999Z
inline constexpr std::size_t kIntegerBound = 20;  // -9223372036854775808

// Length of a text that ends at its first 0 unit or after `capacity` units.
std::size_t BoundedLength(const std::uint16_t* text, std::size_t capacity);

// True when a CSV field holding `text` must be quoted.
bool CsvNeedsQuotes(std::string_view text);
// `text` as one CSV field: quoted, with quotes doubled, when it holds a
// comma, a quote, CR or LF; as it is otherwise.
char* WriteCsvField(char* out, std::string_view text);
// `text` with quotes doubled and no enclosing quotes: a piece of a field the
// caller quotes itself.
char* WriteCsvEscaped(char* out, std::string_view text);

// `text` as a JSON string with its quotes. `text` must be valid UTF-8; it is
// written as it is except for quote, backslash and the control characters.
char* WriteJsonString(char* out, std::string_view text);
// The same without the enclosing quotes.
char* WriteJsonEscaped(char* out, std::string_view text);

// An NTFS time (100 ns ticks since 1601-01-01 UTC) as ISO 8601 UTC with all
// seven decimals, e.g. 2024-05-01T12:34:56.1234567Z. Returns `out` unchanged
// for 0 (never set), negative ticks and times after 9999-12-31.
char* WriteNtfsTime(char* out, std::int64_t ticks);
// The same in two parts, for a writer that keeps the dates it has written:
// the day a time falls on (-1 for a time written as nothing), and the text
// after its date, "HH:MM:SS.fffffffZ" (the date is kDateLength bytes).
inline constexpr std::size_t kDateLength = 11;  // 2024-05-01T
std::int64_t NtfsDay(std::int64_t ticks);
char* WriteNtfsTimeOfDay(char* out, std::int64_t ticks);
// Finer still: the second a time falls on (-1 as for NtfsDay), and the text
// after "2024-05-01T12:34:56.", "fffffffZ".
inline constexpr std::size_t kSecondLength = kDateLength + 9;
inline constexpr std::int64_t kNtfsTicksPerSecond = 10'000'000;
std::int64_t NtfsSecond(std::int64_t ticks);
// `ticksInSecond`: the time less its second, NtfsSecond(ticks) times
// kNtfsTicksPerSecond, which the caller has at hand.
char* WriteNtfsFraction(char* out, std::uint32_t ticksInSecond);

char* WriteInteger(char* out, std::int64_t value);
char* WriteUnsignedDigits(char* out, std::uint64_t value);
// The decimal digits of `value`; one digit, as most sequence numbers are,
// without a call.
inline char* WriteUnsigned(char* out, std::uint64_t value) {
    if (value < 10) {
        *out = static_cast<char>('0' + value);
        return out + 1;
    }
    return WriteUnsignedDigits(out, value);
}

// Convenience forms for tests and for short texts.
std::string Utf8(std::u16string_view text);
std::string CsvField(std::string_view text);
std::string JsonString(std::string_view text);
std::string NtfsTime(std::int64_t ticks);

}  // namespace tarnwick::cli
