#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>
#include <string>

#include "output_buffer.h"
#include "text_format.h"

namespace tarnwick::cli {
namespace {

TEST(Utf8, EncodesEveryLengthAndReplacesLoneSurrogates) {
    EXPECT_EQ(Utf8(u"plain.txt"), "plain.txt");
    EXPECT_EQ(Utf8(u"caf\u00e9"), "caf\xc3\xa9");
    EXPECT_EQ(Utf8(u"\u65e5\u672c"), "\xe6\x97\xa5\xe6\x9c\xac");
    EXPECT_EQ(Utf8(u"\U0001F600"), "\xf0\x9f\x98\x80");
    EXPECT_EQ(Utf8(std::u16string{u'a', 0xD83D}), "a\xef\xbf\xbd");          // high at the end
    EXPECT_EQ(Utf8(std::u16string{0xDE00, u'b'}), "\xef\xbf\xbd" "b");       // low alone
    EXPECT_EQ(Utf8(std::u16string{0xD83D, u'c'}), "\xef\xbf\xbd" "c");       // high before a non-low
    EXPECT_EQ(Utf8(std::u16string{0xD83D, 0xD83D, 0xDE00}), "\xef\xbf\xbd\xf0\x9f\x98\x80");
}

// Callers reserve the bound before writing straight into their buffers.
TEST(Utf8, StaysWithinItsBoundOnRandomText) {
    std::mt19937 random(42);
    const char16_t pool[] = {u'a', u',', u'"', 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFF};
    for (int round = 0; round < 2000; ++round) {
        std::u16string text(random() % 12, u'\0');
        for (char16_t& unit : text) unit = pool[random() % std::size(pool)];
        ASSERT_LE(Utf8(text).size(), Utf8Bound(text.size())) << round;
    }
}

TEST(Csv, QuotesOnlyFieldsThatNeedIt) {
    EXPECT_EQ(CsvField("report.txt"), "report.txt");
    EXPECT_EQ(CsvField(""), "");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("\""), "\"\"\"\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(CsvField("cr\r"), "\"cr\r\"");
    EXPECT_EQ(CsvField("tab\tand 'single' \xc3\xa9"), "tab\tand 'single' \xc3\xa9");
    EXPECT_EQ(CsvField(std::string(4, '"')).size(), CsvBound(4));  // the worst case fills the bound
}

TEST(Json, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString("\b\f\n\r\t"), "\"\\b\\f\\n\\r\\t\"");
    EXPECT_EQ(JsonString(std::string("\x00\x01\x1f", 3)), "\"\\u0000\\u0001\\u001f\"");
    EXPECT_EQ(JsonString("\x7f/\xf0\x9f\x98\x80"), "\"\x7f/\xf0\x9f\x98\x80\"");
    EXPECT_EQ(JsonString(std::string(4, '\x01')).size(), JsonBound(4));  // the worst case fills the bound
}

TEST(NtfsTime, FormatsUtcWithAllSevenDecimals) {
    EXPECT_EQ(NtfsTime(133590404961234567), "2024-05-01T12:34:56.1234567Z");
    EXPECT_EQ(NtfsTime(116444736000000000), "1970-01-01T00:00:00.0000000Z");
    EXPECT_EQ(NtfsTime(1), "1601-01-01T00:00:00.0000001Z");
    // 2000-02-29 (a leap day of a century year) and the day after.
    EXPECT_EQ(NtfsTime(116444736000000000 + 951782400LL * 10000000), "2000-02-29T00:00:00.0000000Z");
    EXPECT_EQ(NtfsTime(116444736000000000 + 951868799LL * 10000000 + 9999999), "2000-02-29T23:59:59.9999999Z");
    EXPECT_EQ(NtfsTime(116444736000000000 + 951868800LL * 10000000), "2000-03-01T00:00:00.0000000Z");
    EXPECT_EQ(NtfsTime(2650467744000000000 - 1), "9999-12-31T23:59:59.9999999Z");
}

TEST(NtfsTime, LeavesUnsetAndUnrepresentableTimesEmpty) {
    EXPECT_EQ(NtfsTime(0), "");
    EXPECT_EQ(NtfsTime(-1), "");
    EXPECT_EQ(NtfsTime(LLONG_MIN), "");
    EXPECT_EQ(NtfsTime(2650467744000000000), "");  // year 10000
    EXPECT_EQ(NtfsTime(LLONG_MAX), "");
}

TEST(Integers, CoverTheWholeRange) {
    char text[kIntegerBound];
    auto integer = [&](std::int64_t v) { return std::string(text, WriteInteger(text, v)); };
    EXPECT_EQ(integer(0), "0");
    EXPECT_EQ(integer(-1), "-1");
    EXPECT_EQ(integer(LLONG_MIN), "-9223372036854775808");
    EXPECT_EQ(integer(LLONG_MAX), "9223372036854775807");
    EXPECT_EQ(std::string(text, WriteUnsigned(text, UINT64_MAX)), "18446744073709551615");
    // Digits go in groups: every length, at both of its ends and across the
    // 32-bit boundary.
    for (std::uint64_t power = 1; power != 0 && power <= UINT64_MAX / 10; power *= 10) {
        for (const std::uint64_t v : {power - 1, power, power + 1, 10 * power - 1, 4294967295u + power}) {
            EXPECT_EQ(std::string(text, WriteUnsigned(text, v)), std::to_string(v));
        }
    }
}

TEST(OutputBuffer, WritesEverythingInOrderAcrossChunksAndOversizedPieces) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::string expected;
    {
        OutputBuffer out(file, 64);
        for (int i = 0; i < 500; ++i) {
            const std::string piece = std::to_string(i) + (i % 7 == 0 ? std::string(200, 'x') : std::string(",")) + "\n";
            out.Append(piece);
            expected += piece;
        }
        out.Append('!');
        expected += '!';
        ASSERT_TRUE(out.Flush());
    }
    std::rewind(file);
    std::string written(expected.size() + 16, '\0');
    written.resize(std::fread(written.data(), 1, written.size(), file));
    std::fclose(file);
    EXPECT_EQ(written, expected);
}

TEST(OutputBuffer, ReportsAFailedWrite) {
    std::FILE* full = std::fopen("/dev/full", "w");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    OutputBuffer out(full, 16);
    out.Append(std::string(100, 'x'));
    EXPECT_FALSE(out.Flush());
    EXPECT_TRUE(out.Failed());
    EXPECT_NE(out.Error(), 0);
    std::fclose(full);
}

}  // namespace
}  // namespace tarnwick::cli
