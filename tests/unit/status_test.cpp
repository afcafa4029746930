#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "status/debug_log.h"
#include "status/status.h"

namespace tarnwick {
namespace {

// The texts as callers see them, written out independently of the library's table.
constexpr std::pair<std::int32_t, const char16_t*> kPublishedTexts[] = {
    {0, u"info: success"},          {1, u"info: continue"},       {-1, u"error: error"},
    {-100, u"error: size"},         {-101, u"error: size1"},      {-102, u"error: size2"},
    {-103, u"error: drive type"},   {-104, u"error: open file"},  {-105, u"error: open file2"},
    {-106, u"error: read boot"},    {-107, u"error: parse boot"}, {-108, u"error: move file"},
    {-109, u"error: move file2"},   {-110, u"error: read mft"},   {-111, u"error: read mft2"},
    {-112, u"error: parse entry"},  {-113, u"error: read and parse indx"},
    {-1000, u"error: unexpected"},  {-1001, u"error: unexpected2"},
    {-1002, u"error: unexpected3"}, {-1003, u"error: unexpected4"},
    {-1004, u"error: unexpected5"},
};

TEST(StatusMessage, EveryCodeHasItsOwnTextAtOneAddress) {
    static_assert(std::size(kPublishedTexts) == 22);
    EXPECT_EQ(kStatusCodeCount, std::size(kPublishedTexts));
    std::set<const char16_t*> addresses;
    for (const auto& [code, text] : kPublishedTexts) {
        const char16_t* message = StatusMessage(code);
        EXPECT_EQ(std::u16string(message), text) << code;
        EXPECT_EQ(message, StatusMessage(code)) << code;
        addresses.insert(message);
    }
    EXPECT_EQ(addresses.size(), std::size(kPublishedTexts));
}

TEST(StatusMessage, ValuesOutsideTheTableFallBack) {
    const char16_t* other = StatusMessage(12345);
    EXPECT_EQ(std::u16string(other), u"error: other");
    for (std::int32_t value : {2, -2, -99, -114, -999, -1005, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(StatusMessage(value), other) << value;
    }
}

std::vector<std::u16string> captured;
void CaptureDebugLine(const char16_t* text) { captured.emplace_back(text); }

class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        captured.clear();
        platform::SetDebugSink(CaptureDebugLine);
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
