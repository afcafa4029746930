// The listing's lines formatted on two threads are byte for byte those of
// one: blocks of a few rows make every hand-over between the writers, and
// every block one writer finishes too late for the other, happen many
// times on a small real volume. And the times on each line are its row's,
// whatever texts and dates the writer kept from the lines before.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../image_listing.h"
#include "../shared_images.h"
#include "listing/listing.h"
#include "listing_output.h"
#include "listing/tree_order.h"
#include "text_format.h"
#include "output_buffer.h"

namespace tarnwick::cli {
namespace {

namespace fs = std::filesystem;

std::string Lines(const listing::Listing& listing, Format format, std::size_t blockRows) {
    OutputBuffer out(nullptr);
    ListingWriter(out, format, ListingColumns{true}).WriteAll(listing, blockRows);
    return std::string(out.Pending());
}

TEST(ListingOnTwoThreads, SameBytesAsOneInEveryFormatAndBlockSize) {
    const char* images[] = {"dfir_ntfs/ntfs3_attrlist.raw", "tsk-test-data/7-ntfs-undel.dd", "donald/test.ntfs.dd",
                            "grr/ntfs_img.dd"};
    int checked = 0;
    for (const char* image : images) {
        SCOPED_TRACE(image);
        const fs::path path = testdata::SharedImage(image);
        if (path.empty()) continue;
        ++checked;
        listing::Listing listing;
        testdata::ReadImageListing(path, {.deleted = true, .streams = true}, listing);
        // The most rows a block may have and still be split.
        const std::size_t widest = listing.size() / ListingWriter::kTwoThreadBlocks;
        ASSERT_GE(widest, 1u);

        // Each line's eight times are those of its row, however the writer
        // kept the texts and dates it made before.
        const std::string csv = Lines(listing, Format::Csv, 0);
        const LargeVector<std::uint32_t> order = listing::TreeOrder(listing);
        std::size_t at = csv.find("\r\n") + 2;
        for (const std::uint32_t index : order) {
            const listing::Row& row = listing.rows()[index];
            const std::size_t end = csv.find("\r\n", at);
            ASSERT_NE(end, std::string::npos);
            std::string times;
            for (const listing::Times* t : {&row.standardTimes, &listing.FileNameTimes(row)}) {
                for (const std::int64_t ticks : {t->creation, t->modification, t->mftChange, t->access}) {
                    char text[kTimeBound];
                    times += ',' + std::string(text, WriteNtfsTime(text, ticks));
                }
            }
            EXPECT_NE(csv.substr(at, end - at).find(times + ','), std::string::npos) << csv.substr(at, end - at);
            at = end + 2;
        }

        for (const Format format : {Format::Csv, Format::JsonLines}) {
            const std::string one = Lines(listing, format, 0);
            for (const std::size_t blockRows : {std::size_t{1}, std::size_t{2}, widest}) {
                SCOPED_TRACE(blockRows);
                for (int round = 0; round < 20; ++round) ASSERT_EQ(Lines(listing, format, blockRows), one);
            }
        }
    }
    if (checked == 0) GTEST_SKIP() << "the shared images are not here";
}

}  // namespace
}  // namespace tarnwick::cli
