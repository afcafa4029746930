// The rows of a listing folder by folder, as a tree is walked: each folder's
// row, then at once the rows of what it holds, depth first; the rows of one
// folder in table order. The root's tree comes first, then that of
// /$OrphanFiles. Writing paths in this order, the path of the folder a row
// is in was nearly always the one just written.
#pragma once

#include <cstdint>

#include "listing/listing.h"

namespace tarnwick::listing {

// Indexes into listing.rows(), every row exactly once.
LargeVector<std::uint32_t> TreeOrder(const Listing& listing);

}  // namespace tarnwick::listing
