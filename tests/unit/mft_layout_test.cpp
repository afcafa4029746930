#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <tuple>

#include "fragmented_mft.h"
#include "listing/listing.h"
#include "memory_volume.h"
#include "mft/mft_layout.h"
#include "test_volumes.h"

namespace tarnwick {
namespace {

using testing::FragmentMft;
using testing::MemoryVolume;

std::vector<std::uint8_t> ReadImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Read {
    MftLayoutStatus status;
    MftLayout layout;
};

Read Layout(const std::vector<std::uint8_t>& image) {
    MemoryVolume volume(image);
    VolumeInfo info;
    EXPECT_EQ(ParseBootSector(std::span(image.data(), boot_sector::kSize), info), 0);
    Read read;
    read.status = ReadMftLayout(volume.handle(), info, read.layout);
    return read;
}

// Every row as one comparable line: path, record and sizes.
std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t, std::uint64_t>> Rows(
    const std::vector<std::uint8_t>& image, listing::ListingStatus expected = listing::ListingStatus::Complete) {
    MemoryVolume volume(image);
    listing::Listing listing;
    EXPECT_EQ(listing::ReadListing(volume.handle(), {}, listing), expected);
    std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t, std::uint64_t>> rows;
    for (const listing::Row& row : listing.rows()) {
        std::string path;
        listing.AppendPath(row, path);
        rows.emplace_back(path, row.record, row.dataSize, row.allocatedSize);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// A fresh ntfs-3g volume and two made by Windows, when they are at hand.
std::vector<std::pair<std::string, std::string>> Sources() {
    std::vector<std::pair<std::string, std::string>> sources;
    const std::string fresh = testing::FreshVolume("fragmented-source.img", 16, 1024);
    if (!fresh.empty()) sources.emplace_back("mkntfs", fresh);
    for (const char* image : {"grr/ntfs_img.dd", "donald/test.ntfs.dd"}) {
        const std::string path = testing::SharedImage(image);
        if (!path.empty()) sources.emplace_back(image, path);
    }
    return sources;
}

TEST(MftLayout, FollowsRecordZeroIntoAnExtensionRecord) {
    const auto sources = Sources();
    if (sources.empty()) GTEST_SKIP() << "no mkntfs and no shared images";
    for (const auto& [name, path] : sources) {
        SCOPED_TRACE(name);
        const std::vector<std::uint8_t> original = ReadImage(path);
        std::vector<std::uint8_t> image = original;
        const auto made = FragmentMft(image);
        ASSERT_TRUE(made);
        const Read before = Layout(original);
        const Read after = Layout(image);
        ASSERT_EQ(before.status, MftLayoutStatus::Ok);
        ASSERT_EQ(after.status, MftLayoutStatus::Ok);
        EXPECT_GT(after.layout.runs.size(), before.layout.runs.size());
        EXPECT_EQ(after.layout.RunBytes(), before.layout.RunBytes());
        EXPECT_EQ(after.layout.dataSize, before.layout.dataSize);
        EXPECT_EQ(after.layout.initializedSize, before.layout.initializedSize);
        EXPECT_TRUE(after.layout.BitmapSays(made->extensionRecord));
        // The same clusters in the same order, however the runs are cut.
        auto clusters = [](const RunList& runs) {
            std::vector<std::int64_t> out;
            for (const RunEntry& run : runs)
                for (std::uint64_t i = 0; i < run.length; ++i) out.push_back(run.lcn + static_cast<std::int64_t>(i));
            return out;
        };
        EXPECT_EQ(clusters(after.layout.runs), clusters(before.layout.runs));
        EXPECT_EQ(Rows(image), Rows(original)) << "the listing reads the whole table either way";
    }
}

TEST(MftLayout, RefusesAnExtensionRecordThatDoesNotBelong) {
    const std::string fresh = testing::FreshVolume("fragmented-damage.img", 16, 1024);
    if (fresh.empty()) GTEST_SKIP() << "mkntfs is not installed";
    std::vector<std::uint8_t> image = ReadImage(fresh);
    const auto made = FragmentMft(image);
    ASSERT_TRUE(made);
    VolumeInfo info;
    ASSERT_EQ(ParseBootSector(std::span(image.data(), boot_sector::kSize), info), 0);
    // mkntfs writes the table in one run, so the extension record lies at
    // its number's place from record 0. None of the fields below lies at
    // the end of a 512-byte stride, so the update sequence still matches.
    const std::size_t extension = static_cast<std::size_t>(info.mftStartLcn * info.ClusterSize()) +
                                  static_cast<std::size_t>(made->extensionRecord * info.fileRecordSize);
    const std::size_t piece = extension + ByteReader(image).U16(extension + file_record::kFirstAttributeOffset);
    struct Case {
        const char* what;
        std::size_t at;
        std::uint64_t value;
        int width;
    };
    for (const Case& c : {Case{"owned by another record", extension + file_record::kBaseRecord, 7, 8},
                          Case{"no longer in use", extension + file_record::kFlags, 0, 2},
                          Case{"a piece that leaves a gap", piece + attribute::kStartingVcn, made->clustersInRecord0 + 1, 8}}) {
        std::vector<std::uint8_t> bad = image;
        if (c.width == 8) testing::Put64(bad, c.at, c.value);
        else testing::Put16(bad, c.at, static_cast<std::uint16_t>(c.value));
        EXPECT_EQ(Layout(bad).status, MftLayoutStatus::Extension) << c.what;
        EXPECT_TRUE(Rows(bad, listing::ListingStatus::UnreadableTable).empty()) << c.what;
    }
}

}  // namespace
}  // namespace tarnwick
