#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "status/debug_log.h"
#include "status/status.h"

namespace tarnwick {
namespace {

TEST(StatusMessage, EveryCodeHasItsTextAndOtherValuesFallBack) {
    EXPECT_EQ(std::u16string(StatusMessage(0)), u"info: success");
    EXPECT_EQ(std::u16string(StatusMessage(1)), u"info: continue");
    EXPECT_EQ(std::u16string(StatusMessage(-1)), u"error: error");
    EXPECT_EQ(std::u16string(StatusMessage(-100)), u"error: size");
    EXPECT_EQ(std::u16string(StatusMessage(-106)), u"error: read boot");
    EXPECT_EQ(std::u16string(StatusMessage(-113)), u"error: read and parse indx");
    EXPECT_EQ(std::u16string(StatusMessage(-1004)), u"error: unexpected5");
    for (std::int32_t other : {2, -2, -99, -114, -999, -1005, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(std::u16string(StatusMessage(other)), u"error: other") << other;
    }
    EXPECT_EQ(StatusMessage(-107), StatusMessage(-107));
    EXPECT_EQ(StatusMessage(12345), StatusMessage(-5));
}

std::vector<std::u16string> captured;
void Capture(const char16_t* text) { captured.emplace_back(text); }

class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        captured.clear();
        platform::SetDebugSink(Capture);
    }
    void TearDown() override { platform::SetDebugSink(nullptr); }
};

TEST_F(DebugLogTest, PrefixesTheFormattedTextAndAddsNoLineEnd) {
    DebugLog(u"%.2f ms\n", 12.345);
    DebugLog(u"plain");
    ASSERT_EQ(captured.size(), 2u);
    EXPECT_EQ(captured[0], u"[Tarnwick.dll] - 12.35 ms\n");
    EXPECT_EQ(captured[1], u"[Tarnwick.dll] - plain");
}

TEST_F(DebugLogTest, CutsOutputLongerThanTheBufferSilently) {
    DebugLog(u"%070000d|", 7);
    ASSERT_EQ(captured.size(), 1u);
    const std::u16string& text = captured[0];
    EXPECT_EQ(text.size(), kDebugLogCapacity - 1);
    EXPECT_EQ(text.substr(0, 17), u"[Tarnwick.dll] - ");
    EXPECT_EQ(text.back(), u'0');
}

}  // namespace
}  // namespace tarnwick
