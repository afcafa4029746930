// How the read pass divides the table between two threads. ReadListing
// chooses where by the table's size; tests choose it themselves.
#pragma once

#include <cstdint>

#include "listing/listing.h"

namespace tarnwick::listing {

// Below this many records, a second thread costs about what it saves.
inline constexpr std::uint64_t kRecordsWorthTwoThreads = std::uint64_t{1} << 16;

// ReadListing's choice: the second half of a table of at least
// kRecordsWorthTwoThreads records on a second thread.
inline constexpr std::uint64_t kSplitBySize = ~std::uint64_t{0};

// ReadListing, with the table's records from `secondFrom` on read and
// decoded on a second thread, beside the first ones. 0, or a record past
// the table, reads it all on one. Either way the listing is the same.
ListingStatus ReadListingSplitAt(platform::RawHandle volume, const ListingOptions& options, Listing& listing,
                                 std::uint64_t secondFrom);

}  // namespace tarnwick::listing
