// The read pass of the listing: the boot sector, the table's layout, then
// every record of the table, handed to the builder. A large table is read
// in two parts side by side, each with a builder of its own, joined after.
#include "listing/read_listing.h"

#include <algorithm>
#include <bit>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "listing/listing_builder.h"
#include "mft/mft_layout.h"
#include "mft/threaded_mft_stream.h"
#include "volume/boot_sector.h"

namespace tarnwick::listing {

namespace {

// Records in [first, end) the table's bitmap marks in use; all of them
// without a bitmap.
std::uint64_t BitsSet(const MftLayout& layout, std::uint64_t first, std::uint64_t end) {
    if (!layout.hasBitmap) return end - first;
    std::uint64_t count = 0;
    for (std::uint64_t record = first; record < end && record / 8 < layout.bitmap.size();) {
        if (record % 64 == 0 && end - record >= 64 && record / 8 + 8 <= layout.bitmap.size()) {
            std::uint64_t word = 0;
            for (int i = 0; i < 8; ++i) word |= std::uint64_t{layout.bitmap[record / 8 + i]} << (8 * i);
            count += static_cast<std::uint64_t>(std::popcount(word));
            record += 64;
        } else {
            count += layout.BitmapSays(record) ? 1 : 0;
            ++record;
        }
    }
    return count;
}

// The extents after the first `bytes` of the stream they make, taken off
// `extents`, which keeps those bytes.
std::vector<TableExtent> SplitOff(std::vector<TableExtent>& extents, std::uint64_t bytes) {
    std::vector<TableExtent> after;
    std::uint64_t at = 0;
    std::size_t keep = 0;
    for (const TableExtent& extent : extents) {
        if (at + extent.bytes <= bytes) {
            ++keep;
        } else if (at >= bytes) {
            after.push_back(extent);
        } else {
            // A negative offset ends the stream with a failure: the part
            // after it starts with the same one.
            const std::uint64_t inside = bytes - at;
            const std::int64_t offset = extent.offset < 0 ? extent.offset : extent.offset + static_cast<std::int64_t>(inside);
            after.push_back({offset, extent.bytes - inside});
            ++keep;
        }
        at += extent.bytes;
    }
    extents.resize(keep);
    if (keep > 0 && at > bytes) {
        // The extent cut in two keeps only its first part here.
        std::uint64_t before = 0;
        for (std::size_t i = 0; i + 1 < keep; ++i) before += extents[i].bytes;
        extents.back().bytes = std::min(extents.back().bytes, bytes - before);
    }
    return after;
}

// One part of the table: how its stream ended (0 at its end, -1 on a
// failure after every record before it).
int ReadPart(ThreadedMftStream& stream, ListingBuilder& builder, const MftLayout& layout, std::uint64_t first) {
    std::uint64_t position = first;
    int next = 0;
    while ((next = stream.Next()) > 0) {
        if (stream.unreadable()) {
            builder.AddUnreadable(layout.BitmapSays(position));
        } else {
            builder.AddRecord(position, stream.record(), layout.BitmapSays(position));
        }
        ++position;
    }
    return next;
}

}  // namespace

ListingStatus ReadListingSplitAt(platform::RawHandle volume, const ListingOptions& options, Listing& listing,
                                 std::uint64_t secondFrom) {
    listing = Listing{};
    auto finish = [&listing](ListingStatus status) {
        listing.status_ = status;
        return status;
    };

    std::vector<std::uint8_t> boot(boot_sector::kSize, 0);
    if (!platform::SetPosition(volume, 0) || !platform::ReadExact(volume, boot.data(), boot_sector::kSize)) {
        return finish(ListingStatus::NotNtfs);
    }
    VolumeInfo info;
    if (ParseBootSector(boot, info) != 0) return finish(ListingStatus::NotNtfs);
    MftLayout layout;
    if (ReadMftLayout(volume, info, layout) != MftLayoutStatus::Ok) return finish(ListingStatus::UnreadableTable);

    // Records past the initialized size were never written by this table:
    // whatever they hold belongs to an earlier life of the clusters.
    const std::uint64_t covered = layout.RunBytes() / layout.recordSize;
    const std::uint64_t records = std::min(layout.InitializedRecords(), covered);
    ListingStatus status = covered < layout.InitializedRecords() ? ListingStatus::CutShort : ListingStatus::Complete;

    // The stretches of the volume the records lie in, up to the last one
    // read; one the volume cannot hold ends the stream there.
    std::vector<TableExtent> extents;
    std::uint64_t left = records * layout.recordSize;
    for (const RunEntry& run : layout.runs) {
        if (left == 0) break;
        const std::uint64_t runBytes = std::min(left, ClusterBytes(run.length, layout.clusterSize));
        extents.push_back({ClusterByteOffset(run.lcn, layout.clusterSize), runBytes});
        left -= runBytes;
        if (extents.back().offset < 0) break;
    }
    if (secondFrom == kSplitBySize) secondFrom = records >= kRecordsWorthTwoThreads ? records / 2 : 0;
    auto expected = [&layout, &options](std::uint64_t first, std::uint64_t end) {
        return options.deleted ? end - first : BitsSet(layout, first, end);
    };

    if (secondFrom > 0 && secondFrom < records) {
        // Each part is read and decoded by one thread: the system's copy of
        // the table and the decoding then both take both cores.
        std::vector<TableExtent> secondExtents = SplitOff(extents, secondFrom * layout.recordSize);
        ListingBuilder builder(listing, options);
        builder.Expect(expected(0, records));
        Listing second;
        ListingBuilder secondBuilder(second, options);
        secondBuilder.Expect(expected(secondFrom, records));
        const auto reader = ThreadedMftStream::Reader::Caller;
        int secondEnd = 0;
        std::exception_ptr secondFailure;
        auto readSecond = [&] {
            try {
                ThreadedMftStream stream(volume, layout.recordSize, std::move(secondExtents), info.VolumeBytes(), {}, reader);
                secondEnd = ReadPart(stream, secondBuilder, layout, secondFrom);
            } catch (...) {
                secondFailure = std::current_exception();
            }
        };
        std::thread helper;
        try {
            helper = std::thread(readSecond);
        } catch (const std::system_error&) {
            // No thread to be had: the second part comes after the first.
        }
        int firstEnd = 0;
        {
            ThreadedMftStream stream(volume, layout.recordSize, std::move(extents), info.VolumeBytes(), {}, reader);
            try {
                firstEnd = ReadPart(stream, builder, layout, 0);
            } catch (...) {
                if (helper.joinable()) helper.join();
                throw;
            }
        }
        if (helper.joinable()) {
            helper.join();
        } else {
            readSecond();
        }
        if (secondFailure) std::rethrow_exception(secondFailure);
        if (firstEnd < 0) {
            // The first part ended early: where a table read as one would
            // have ended (a run of unreadable records may go on past the
            // cut) only a read as one tells, so it is read again as one.
            return ReadListingSplitAt(volume, options, listing, 0);
        }
        builder.Absorb(secondBuilder);
        if (secondEnd < 0) status = ListingStatus::CutShort;
        builder.Finish();
        return finish(status);
    }

    ListingBuilder builder(listing, options);
    builder.Expect(expected(0, records));
    // While the reading thread has every chunk full, it has the memory the
    // next rows will take backed: on a virtual machine a first touch can
    // cost as much as copying a dozen pages.
    ThreadedMftStream stream(volume, layout.recordSize, std::move(extents), info.VolumeBytes(),
                             [&builder] { return builder.PrefaultAhead(); });
    if (ReadPart(stream, builder, layout, 0) < 0) status = ListingStatus::CutShort;
    builder.Finish();
    return finish(status);
}

ListingStatus ReadListing(platform::RawHandle volume, const ListingOptions& options, Listing& listing) {
    return ReadListingSplitAt(volume, options, listing, kSplitBySize);
}

}  // namespace tarnwick::listing
