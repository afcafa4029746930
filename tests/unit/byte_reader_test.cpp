// Fields read from bytes that may be cut short: a reader past its buffer
// gives 0 and says so, never bytes beyond it.
#include <gtest/gtest.h>

#include <array>

#include "volume/byte_reader.h"

namespace tarnwick {
namespace {

TEST(FixedReader, ReadsFieldsAtItsOffsetAndNothingWhenTheyDoNotFit) {
    const std::array<std::uint8_t, 12> bytes = {0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B};
    const FixedReader<8> inside(bytes, 4);
    ASSERT_TRUE(inside.ok());
    EXPECT_EQ(inside.U8<0>(), 0x04);
    EXPECT_EQ(inside.U16<1>(), 0x0605);
    EXPECT_EQ(inside.U32<4>(), 0x0B0A0908u);

    // Eight bytes from offset 5 would end one byte past the buffer, and an
    // offset beyond it must not wrap around.
    for (const std::size_t offset : {std::size_t{5}, std::size_t{13}, ~std::size_t{0}}) {
        const FixedReader<8> outside(bytes, offset);
        EXPECT_FALSE(outside.ok());
        EXPECT_EQ(outside.U64<0>(), 0u);
        EXPECT_EQ(outside.U8<7>(), 0u);
    }
}

}  // namespace
}  // namespace tarnwick
