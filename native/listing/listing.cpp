#include "listing/listing.h"

#include <array>

#include "listing/listing_builder.h"

namespace tarnwick::listing {

const char* Describe(ListingStatus status) {
    switch (status) {
        case ListingStatus::Complete: return "complete";
        case ListingStatus::CutShort: return "the volume ends inside its master file table";
        case ListingStatus::NotNtfs: return "not an NTFS volume";
        case ListingStatus::UnreadableTable: return "the master file table cannot be read";
    }
    return "unknown";
}

void Listing::AppendParentPath(const Row& row, std::string& out) const {
    const auto index = static_cast<std::size_t>(&row - rows_.data());
    if (index >= rows_.size() || index >= pathParent_.size()) return;
    // Directories lie at most kMaxDepth deep once resolved, so the chain
    // fits; the bound is kept anyway.
    std::array<std::uint32_t, kMaxDepth + 1> chain;
    std::size_t length = 0;
    std::uint32_t at = pathParent_[index];
    while (at < kOrphanParent && length < chain.size()) {
        chain[length++] = at;
        at = pathParent_[at];
    }
    if (at != kRootParent) out += kOrphanFolder;
    while (length > 0) {
        out.push_back('/');
        out.append(Name(rows_[chain[--length]]));
    }
}

void Listing::AppendPath(const Row& row, std::string& out) const {
    AppendParentPath(row, out);
    out.push_back('/');
    out.append(Name(row));
    if (row.IsStream()) {
        out.push_back(':');
        out.append(StreamName(row));
    }
}

}  // namespace tarnwick::listing
