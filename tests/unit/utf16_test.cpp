#include "platform/utf16.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

// Names as NTFS stores them, read from bytes at any alignment, must come
// out as the one converter writes them from units: the fast ASCII stretches
// and the runs of other units meet at every length and position.
TEST(Utf16, NamesFromBytesConvertAsFromUnits) {
    std::vector<std::u16string> names;
    for (std::size_t length = 0; length <= 20; ++length) {
        std::u16string ascii(length, u'a');
        for (std::size_t i = 0; i < length; ++i) ascii[i] = static_cast<char16_t>(u'a' + i % 26);
        names.push_back(ascii);
        for (std::size_t at = 0; at < length; ++at) {
            for (const char16_t other : {u'\u00e9', u'\u7167', u'\xd83d', u'\xde0a', u'\x7f', u'\x80'}) {
                std::u16string name = ascii;
                name[at] = other;
                names.push_back(name);
            }
        }
    }
    // A pair, and a lone high surrogate, where a run of 64 units ends.
    for (const std::size_t before : {62, 63, 64}) {
        std::u16string name(before, u'\u00e9');
        names.push_back(name + u"\xd83d\xde0a" + u"tail");
        names.push_back(name + u"\xd83d" + u"tail");
    }
    names.push_back(std::u16string(255, u'\xd83d'));

    for (const std::u16string& name : names) {
        for (const std::size_t offset : {0, 1}) {
            std::vector<std::uint8_t> bytes(offset + 2 * name.size());
            for (std::size_t i = 0; i < name.size(); ++i) {
                bytes[offset + 2 * i] = static_cast<std::uint8_t>(name[i] & 0xFF);
                bytes[offset + 2 * i + 1] = static_cast<std::uint8_t>(name[i] >> 8);
            }
            std::string out(Utf8Bound(name.size()), '\0');
            out.resize(static_cast<std::size_t>(WriteUtf8FromBytes(out.data(), bytes.data() + offset, name.size()) -
                                                out.data()));
            ASSERT_EQ(out, Utf16ToUtf8(name)) << name.size() << " units at offset " << offset;
            EXPECT_EQ(Utf16Units(out), name.size());
        }
    }
}

}  // namespace
}  // namespace tarnwick
