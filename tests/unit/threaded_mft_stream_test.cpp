#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>
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

constexpr std::uint32_t kUnreadable = 0xFFFFFFFF;

// Reads the stream to its end: the table position each record starts at,
// checked word by word (kUnreadable for a record given as unreadable), and
// Next's last answer.
std::pair<std::vector<std::uint32_t>, int> ReadAll(ThreadedMftStream& stream) {
    std::vector<std::uint32_t> starts;
    int next = 0;
    while ((next = stream.Next()) > 0) {
        if (stream.unreadable()) {
            starts.push_back(kUnreadable);
            continue;
        }
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

// Bad sectors: a few records that cannot be read, with readable ones after
// them, are given as unreadable in their places, within a chunk and across
// two; a longer run, one the table ends in, or one inside a record split
// between extents ends the stream after the records before it, as an image
// cut short does.
TEST(ThreadedMftStream, PassesOverAFewUnreadableRecords) {
    const std::size_t bytes = 3 * (std::size_t{1} << 20);
    const std::size_t records = bytes / kRecord;  // 1,024 a chunk
    std::vector<std::uint8_t> image(bytes);
    PutStream(image, 0, 0, bytes);
    auto read = [&image](std::vector<TableExtent> extents, std::size_t firstBad, std::size_t badRecords) {
        MemoryVolume volume(image);
        volume.MakeUnreadable(firstBad * kRecord + 100, (badRecords - 1) * kRecord + 1);
        ThreadedMftStream stream(volume.handle(), kRecord, std::move(extents));
        return ReadAll(stream);
    };
    const std::vector<TableExtent> whole{{0, bytes}};
    {
        MemoryVolume volume(image);
        volume.MakeUnreadable(5 * kRecord + 512, 1);
        volume.MakeUnreadable(1022 * kRecord, 4 * kRecord);
        ThreadedMftStream stream(volume.handle(), kRecord, whole);
        const auto [starts, last] = ReadAll(stream);
        std::vector<std::uint32_t> expected = Starts(records);
        for (const std::size_t bad : {5, 1022, 1023, 1024, 1025}) expected[bad] = kUnreadable;
        EXPECT_EQ(last, 0);
        EXPECT_EQ(starts, expected);
    }
    constexpr std::size_t kMost = ThreadedMftStream::kMostUnreadableInARow;
    for (const std::size_t at : {std::size_t{10}, std::size_t{1000}}) {
        const auto [starts, last] = read(whole, at, kMost + 1);
        EXPECT_EQ(last, -1);
        EXPECT_EQ(starts, Starts(at));
    }
    {
        const auto [starts, last] = read(whole, records - 3, 3);
        EXPECT_EQ(last, -1);
        EXPECT_EQ(starts, Starts(records - 3));
    }
    {
        const std::size_t split = 2 * kRecord + 512;
        const auto [starts, last] = read({{0, split}, {static_cast<std::int64_t>(split), bytes - split}}, 2, 1);
        EXPECT_EQ(last, -1);
        EXPECT_EQ(starts, Starts(2));
    }
}

// A caller that stops early leaves no thread behind and no read pending,
// also while the reading thread is busy with work on the side: a stop it
// misses then would leave it waiting for good.
TEST(ThreadedMftStream, StopsWhenLeftEarly) {
    const std::size_t bytes = 8 * (std::size_t{1} << 20);
    std::vector<std::uint8_t> image(bytes);
    MemoryVolume volume(image);
    for (int i = 0; i < 20; ++i) {
        ThreadedMftStream stream(volume.handle(), kRecord, {{0, bytes}});
        for (int r = 0; r < i * 37; ++r) ASSERT_EQ(stream.Next(), 1);
    }
    std::atomic<int> sideWork{0};
    auto side = [&sideWork] {
        ++sideWork;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return false;
    };
    for (int i = 0; i < 20; ++i) {
        std::promise<void> left;
        std::future<void> done = left.get_future();
        std::thread caller([&] {
            {
                ThreadedMftStream stream(volume.handle(), kRecord, {{0, bytes}}, INT64_MAX, side);
                EXPECT_EQ(stream.Next(), 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            left.set_value();
        });
        if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            std::fprintf(stderr, "the reading thread missed the stop and never ended\n");
            std::abort();
        }
        caller.join();
    }
    EXPECT_GT(sideWork.load(), 0) << "the work on the side ran";
}

}  // namespace
}  // namespace tarnwick
