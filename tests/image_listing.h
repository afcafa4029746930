#pragma once
// The listing of an image file, read as the tool reads a source: through a
// drive letter mapped to it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "listing/listing.h"
#include "platform/platform.h"

namespace tarnwick::testdata {

// ReadListing on the image at `path`; a failure of the test, and no rows,
// when it cannot be opened.
inline listing::ListingStatus ReadImageListing(const std::string& path, const listing::ListingOptions& options,
                                               listing::Listing& listing) {
    setenv("TARNWICK_DRIVE_T", path.c_str(), 1);
    const platform::RawHandle volume = platform::OpenVolume(u"\\\\.\\T:");
    unsetenv("TARNWICK_DRIVE_T");
    if (volume == platform::InvalidHandle()) {
        ADD_FAILURE() << "cannot open " << path;
        listing = listing::Listing{};
        return listing::ListingStatus::NotNtfs;
    }
    const listing::ListingStatus status = listing::ReadListing(volume, options, listing);
    platform::CloseVolume(volume);
    return status;
}

}  // namespace tarnwick::testdata
