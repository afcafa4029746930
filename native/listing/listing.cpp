#include "listing/listing.h"

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

void Listing::AppendParentPath(const Row&, std::u16string&) const {}

void Listing::AppendPath(const Row& row, std::u16string& out) const {
    AppendParentPath(row, out);
    out.push_back(u'/');
    out.append(Name(row));
    if (row.IsStream()) {
        out.push_back(u':');
        out.append(StreamName(row));
    }
}

ListingStatus ReadListing(platform::RawHandle, const ListingOptions&, Listing& listing) {
    listing = Listing{};
    listing.status_ = ListingStatus::UnreadableTable;
    return listing.status_;
}

}  // namespace tarnwick::listing
