// A whole volume read through the listing: the input is the image. Every
// read ends with a status, every row has a name and a path that starts at
// the root or under the orphans, and no path runs deeper than the cut that
// keeps chains finite.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "listing/listing.h"
#include "listing/listing_builder.h"
#include "platform/platform.h"

namespace {

using tarnwick::listing::Listing;
using tarnwick::listing::ListingOptions;
using tarnwick::listing::ListingStatus;

void CheckListing(const tarnwick::fuzz::MemoryVolume& volume, const ListingOptions& options) {
    const tarnwick::platform::RawHandle handle = tarnwick::platform::OpenVolume(volume.path());
    TARNWICK_FUZZ_CHECK(handle != tarnwick::platform::InvalidHandle());
    Listing listing;
    const ListingStatus status = tarnwick::listing::ReadListing(handle, options, listing);
    tarnwick::platform::CloseVolume(handle);
    TARNWICK_FUZZ_CHECK(status == listing.status());
    if (status == ListingStatus::NotNtfs || status == ListingStatus::UnreadableTable) {
        TARNWICK_FUZZ_CHECK(listing.size() == 0);
        return;
    }
    TARNWICK_FUZZ_CHECK(listing.damagedRecords() <= listing.recordsRead());
    std::string path;
    for (const tarnwick::listing::Row& row : listing.rows()) {
        TARNWICK_FUZZ_CHECK(!listing.Name(row).empty() || row.IsStream());
        TARNWICK_FUZZ_CHECK(options.deleted || !row.IsDeleted());
        TARNWICK_FUZZ_CHECK(options.streams || !row.IsStream());
        path.clear();
        listing.AppendPath(row, path);
        TARNWICK_FUZZ_CHECK(!path.empty() && path[0] == '/');
        if (row.IsOrphan()) TARNWICK_FUZZ_CHECK(path.starts_with("/$OrphanFiles/"));
        const auto depth = static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
        // Names may hold '/' themselves (POSIX names), so the bound is loose.
        TARNWICK_FUZZ_CHECK(depth <= (tarnwick::listing::kMaxDepth + 2) * 256);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static tarnwick::fuzz::MemoryVolume volume('L');
    volume.Assign(data, size);
    CheckListing(volume, {});
    ListingOptions everything;
    everything.deleted = everything.streams = true;
    CheckListing(volume, everything);
    return 0;
}
