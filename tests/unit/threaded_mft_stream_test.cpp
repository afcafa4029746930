#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "memory_volume.h"
#include "mft/threaded_mft_stream.h"

namespace tarnwick {
namespace {

using testing::MemoryVolume;

constexpr std::size_t kRecord = 1024;

// Bytes whose every 4-byte word holds its own table position divided by
// four, so a record read from the wrong place shows it.
void PutStream(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t streamOffset, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; i += 4) {
        const std::uint32_t word = (streamOffset + static_cast<std::uint32_t>(i)) / 4;
        std::memcpy(image.data() + at + i, &word, 4);
    }
}

// Reads the stream to its end: the table position each record starts at,
// checked word by word, and Next's last answer.
std::pair<std::vector<std::uint32_t>, int> ReadAll(ThreadedMftStream& stream) {
    std::vector<std::uint32_t> starts;
    int next = 0;
    while ((next = stream.Next()) > 0) {
        const std::span<std::uint8_t> record = stream.record();
        std::uint32_t first = 0;
        std::memcpy(&first, record.data(), 4);
        for (std::size_t i = 0; i < kRecord; i += 4) {
            std::uint32_t word = 0;
            std::memcpy(&word, record.data() + i, 4);
            EXPECT_EQ(word, first + i / 4) << "record " << starts.size() << " byte " << i;
        }
        starts.push_back(first * 4);
        record[0] ^= 0xFF;  // changed in place, as fixups are
    }
    return {starts, next};
}

std::vector<std::uint32_t> Starts(std::size_t count) {
    std::vector<std::uint32_t> starts;
    for (std::size_t i = 0; i < count; ++i) starts.push_back(static_cast<std::uint32_t>(i * kRecord));
    return starts;
}

// Three extents out of order on the volume: the first ends half-way into a
// record, the second, on a big table several chunks long, splits records
// between chunks as well; a small table gets chunks of its own size.
TEST(ThreadedMftStream, JoinsRecordsAcrossExtentsAndChunks) {
    for (const std::size_t second : {(std::size_t{5} << 20) + 512, 2 * kRecord + 512}) {
        SCOPED_TRACE(second);
        const std::size_t first = 2 * kRecord + 512;
        const std::size_t third = 3 * kRecord;
        const std::size_t secondAt = 4096;
        const std::size_t firstAt = secondAt + second + 4096;
        const std::size_t thirdAt = firstAt + first + 512;
        std::vector<std::uint8_t> image(thirdAt + third);
        PutStream(image, firstAt, 0, first);
        PutStream(image, secondAt, static_cast<std::uint32_t>(first), second);
        PutStream(image, thirdAt, static_cast<std::uint32_t>(first + second), third);

        MemoryVolume volume(image);
        ThreadedMftStream stream(volume.handle(), kRecord,
                                 {{static_cast<std::int64_t>(firstAt), first},
                                  {static_cast<std::int64_t>(secondAt), second},
                                  {static_cast<std::int64_t>(thirdAt), third}});
        const auto [starts, last] = ReadAll(stream);
        EXPECT_EQ(last, 0);
        EXPECT_EQ(starts, Starts((first + second + third) / kRecord));
    }
}

// Every whole record before the failure counts, whether the stream fails at
// the end the volume claims or where the image itself is cut short.
TEST(ThreadedMftStream, EndsWithAFailureAfterTheRecordsBeforeIt) {
    const std::size_t bytes = 3 * (std::size_t{1} << 20);
    std::vector<std::uint8_t> image(bytes);
    PutStream(image, 0, 0, bytes);
    const std::size_t end = (std::size_t{1} << 20) + 10 * kRecord + 100;
    {
        MemoryVolume volume(image);
        ThreadedMftStream stream(volume.handle(), kRecord, {{0, bytes}}, static_cast<std::int64_t>(end));
        const auto [starts, last] = ReadAll(stream);
        EXPECT_EQ(last, -1);
        EXPECT_EQ(starts, Starts(end / kRecord));
    }
    {
        image.resize(end);
        MemoryVolume volume(image);
        ThreadedMftStream stream(volume.handle(), kRecord, {{0, bytes}});
        const auto [starts, last] = ReadAll(stream);
        EXPECT_EQ(last, -1);
        EXPECT_EQ(starts, Starts(end / kRecord));
    }
    {
        MemoryVolume volume(image);
        ThreadedMftStream stream(volume.handle(), kRecord, {{0, kRecord}, {-1, kRecord}});
        const auto [starts, last] = ReadAll(stream);
        EXPECT_EQ(last, -1);
        EXPECT_EQ(starts, Starts(1));
    }
}

// A caller that stops early leaves no thread behind and no read pending.
TEST(ThreadedMftStream, StopsWhenLeftEarly) {
    const std::size_t bytes = 8 * (std::size_t{1} << 20);
    std::vector<std::uint8_t> image(bytes);
    MemoryVolume volume(image);
    for (int i = 0; i < 20; ++i) {
        ThreadedMftStream stream(volume.handle(), kRecord, {{0, bytes}});
        for (int r = 0; r < i * 37; ++r) ASSERT_EQ(stream.Next(), 1);
    }
}

}  // namespace
}  // namespace tarnwick
