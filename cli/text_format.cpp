#include "text_format.h"

#include <cstring>

namespace tarnwick::cli {

std::size_t BoundedLength(const std::uint16_t* text, std::size_t capacity) {
    std::size_t n = 0;
    while (n < capacity && text[n] != 0) ++n;
    return n;
}

bool CsvNeedsQuotes(std::string_view text) {
    for (const char c : text) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
    }
    return false;
}

char* WriteCsvEscaped(char* out, std::string_view text) {
    for (const char c : text) {
        if (c == '"') *out++ = '"';
        *out++ = c;
    }
    return out;
}

char* WriteCsvField(char* out, std::string_view text) {
    if (!CsvNeedsQuotes(text)) {
        if (!text.empty()) std::memcpy(out, text.data(), text.size());
        return out + text.size();
    }
    *out++ = '"';
    out = WriteCsvEscaped(out, text);
    *out++ = '"';
    return out;
}

char* WriteJsonEscaped(char* out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && c != '"' && c != '\\') {
            *out++ = c;
            continue;
        }
        *out++ = '\\';
        switch (c) {
            case '"': *out++ = '"'; break;
            case '\\': *out++ = '\\'; break;
            case '\b': *out++ = 'b'; break;
            case '\f': *out++ = 'f'; break;
            case '\n': *out++ = 'n'; break;
            case '\r': *out++ = 'r'; break;
            case '\t': *out++ = 't'; break;
            default:
                *out++ = 'u';
                *out++ = '0';
                *out++ = '0';
                *out++ = kHex[b >> 4];
                *out++ = kHex[b & 0xF];
        }
    }
    return out;
}

char* WriteJsonString(char* out, std::string_view text) {
    *out++ = '"';
    out = WriteJsonEscaped(out, text);
    *out++ = '"';
    return out;
}

namespace {

// Days from 1970-01-01 to the given civil date of the proleptic Gregorian
// calendar, and back (the well-known era-based conversion).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

constexpr Civil CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

constexpr std::int64_t kTicksPerDay = kNtfsTicksPerSecond * 86'400;
constexpr std::int64_t kEpochDays1601 = DaysFromCivil(1601, 1, 1);
// First tick that would need a five-digit year.
constexpr std::int64_t kTicksEnd = (DaysFromCivil(10000, 1, 1) - kEpochDays1601) * kTicksPerDay;

static_assert(CivilFromDays(0).year == 1970);
static_assert(DaysFromCivil(1601, 1, 1) == -134774);

// "00" to "99": two digits a division, for the millions of numbers a
// listing writes.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void PutTwoDigits(char* out, std::uint32_t belowHundred) { std::memcpy(out, kDigitPairs + 2 * belowHundred, 2); }

// Every field of a date and time fits 32 bits, whose divisions by a
// constant are the cheaper; the width known when compiled unrolls the loop.
template <int kWidth>
char* Digits(char* out, std::uint32_t value) {
    int i = kWidth;
    for (; i >= 2; i -= 2) {
        PutTwoDigits(out + i - 2, value % 100);
        value /= 100;
    }
    if (i == 1) out[0] = static_cast<char>('0' + value % 10);
    return out + kWidth;
}

bool InTimeRange(std::int64_t ticks) { return ticks > 0 && ticks < kTicksEnd; }

}  // namespace

std::int64_t NtfsDay(std::int64_t ticks) {
    return InTimeRange(ticks) ? ticks / kTicksPerDay : -1;
}

char* WriteNtfsTimeOfDay(char* out, std::int64_t ticks) {
    // Below a day both parts fit 32 bits, whose divisions are the cheaper.
    const auto inDay = static_cast<std::uint64_t>(ticks % kTicksPerDay);
    const auto seconds = static_cast<std::uint32_t>(inDay / kNtfsTicksPerSecond);
    const auto fraction = static_cast<std::uint32_t>(inDay % kNtfsTicksPerSecond);
    out = Digits<2>(out, seconds / 3600);
    *out++ = ':';
    out = Digits<2>(out, seconds / 60 % 60);
    *out++ = ':';
    out = Digits<2>(out, seconds % 60);
    *out++ = '.';
    out = Digits<7>(out, fraction);
    *out++ = 'Z';
    return out;
}

std::int64_t NtfsSecond(std::int64_t ticks) { return InTimeRange(ticks) ? ticks / kNtfsTicksPerSecond : -1; }

char* WriteNtfsFraction(char* out, std::uint32_t ticksInSecond) {
    out = Digits<7>(out, ticksInSecond);
    *out++ = 'Z';
    return out;
}

char* WriteNtfsTime(char* out, std::int64_t ticks) {
    const std::int64_t day = NtfsDay(ticks);
    if (day < 0) return out;
    const Civil date = CivilFromDays(day + kEpochDays1601);
    out = Digits<4>(out, static_cast<std::uint32_t>(date.year));
    *out++ = '-';
    out = Digits<2>(out, static_cast<std::uint32_t>(date.month));
    *out++ = '-';
    out = Digits<2>(out, static_cast<std::uint32_t>(date.day));
    *out++ = 'T';
    return WriteNtfsTimeOfDay(out, ticks);
}

namespace {

// Exactly four digits of a value below 10,000, zeros in front included.
char* PutFourDigits(char* out, std::uint32_t value) {
    PutTwoDigits(out, value / 100);
    PutTwoDigits(out + 2, value % 100);
    return out + 4;
}

// The digits of a value below 10,000, no zero in front.
char* PutUpToFourDigits(char* out, std::uint32_t value) {
    if (value < 100) {
        if (value < 10) {
            *out = static_cast<char>('0' + value);
            return out + 1;
        }
        PutTwoDigits(out, value);
        return out + 2;
    }
    const std::uint32_t high = value / 100;
    if (high < 10) {
        *out = static_cast<char>('0' + high);
        PutTwoDigits(out + 1, value % 100);
        return out + 3;
    }
    PutTwoDigits(out, high);
    PutTwoDigits(out + 2, value % 100);
    return out + 4;
}

// Most numbers of a listing fit 32 bits, whose divisions are the cheaper:
// their digits go in groups of four, each group's length known from its
// place, without a count first or a copy of a length known only at run time.
char* WriteDigits32(char* out, std::uint32_t value) {
    if (value < 10000) return PutUpToFourDigits(out, value);
    if (value < 100000000) {
        out = PutUpToFourDigits(out, value / 10000);
        return PutFourDigits(out, value % 10000);
    }
    out = PutUpToFourDigits(out, value / 100000000);
    const std::uint32_t rest = value % 100000000;
    out = PutFourDigits(out, rest / 10000);
    return PutFourDigits(out, rest % 10000);
}

}  // namespace

char* WriteUnsignedDigits(char* out, std::uint64_t value) {
    if (value <= 0xFFFFFFFFu) return WriteDigits32(out, static_cast<std::uint32_t>(value));
    // Above 32 bits: the groups of eight below, the rest (at most 12
    // digits) in front.
    const std::uint64_t high = value / 100000000;
    const auto low = static_cast<std::uint32_t>(value % 100000000);
    out = WriteUnsignedDigits(out, high);
    out = PutFourDigits(out, low / 10000);
    return PutFourDigits(out, low % 10000);
}

char* WriteInteger(char* out, std::int64_t value) {
    if (value >= 0) return WriteUnsigned(out, static_cast<std::uint64_t>(value));
    *out++ = '-';
    // Negating in unsigned arithmetic keeps the most negative value exact.
    return WriteUnsigned(out, 0 - static_cast<std::uint64_t>(value));
}

std::string Utf8(std::u16string_view text) { return Utf16ToUtf8(text); }

std::string CsvField(std::string_view text) {
    std::string out(CsvBound(text.size()), '\0');
    out.resize(static_cast<std::size_t>(WriteCsvField(out.data(), text) - out.data()));
    return out;
}

std::string JsonString(std::string_view text) {
    std::string out(JsonBound(text.size()), '\0');
    out.resize(static_cast<std::size_t>(WriteJsonString(out.data(), text) - out.data()));
    return out;
}

std::string NtfsTime(std::int64_t ticks) {
    std::string out(kTimeBound, '\0');
    out.resize(static_cast<std::size_t>(WriteNtfsTime(out.data(), ticks) - out.data()));
    return out;
}

}  // namespace tarnwick::cli
