// The read pass of the listing: the boot sector, the table's layout, then
// every record of the table in one stream, handed to the builder.
#include <algorithm>
#include <bit>
#include <vector>

#include "listing/listing.h"
#include "listing/listing_builder.h"
#include "mft/mft_layout.h"
#include "mft/threaded_mft_stream.h"
#include "volume/boot_sector.h"

namespace tarnwick::listing {

namespace {

std::uint64_t BitsSet(const MftLayout& layout, std::uint64_t records) {
    if (!layout.hasBitmap) return records;
    std::uint64_t count = 0;
    const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(layout.bitmap.size(), records / 8 + 1));
    for (std::size_t i = 0; i < bytes; ++i) count += static_cast<std::uint64_t>(std::popcount(layout.bitmap[i]));
    return count;
}

}  // namespace

ListingStatus ReadListing(platform::RawHandle volume, const ListingOptions& options, Listing& listing) {
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

    ListingBuilder builder(listing, options);
    builder.Expect(options.deleted ? records : BitsSet(layout, records));
    // While the reading thread has every chunk full, it has the memory the
    // next rows will take backed: on a virtual machine a first touch can
    // cost as much as copying a dozen pages.
    ThreadedMftStream stream(volume, layout.recordSize, std::move(extents), info.VolumeBytes(),
                             [&builder] { return builder.PrefaultAhead(); });
    std::uint64_t position = 0;
    int next = 0;
    while ((next = stream.Next()) > 0) {
        if (stream.unreadable()) {
            builder.AddUnreadable(layout.BitmapSays(position));
        } else {
            builder.AddRecord(position, stream.record(), layout.BitmapSays(position));
        }
        ++position;
    }
    if (next < 0) status = ListingStatus::CutShort;
    builder.Finish();
    return finish(status);
}

}  // namespace tarnwick::listing
