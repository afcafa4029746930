// The listing of real volumes against an independent reading of every
// $FILE_NAME of every record (libfsntfs, kept beside each image): the same
// names, of the same records, under the same parents, in use or deleted.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "../image_listing.h"
#include "listing/listing.h"
#include "test_volumes.h"

namespace tarnwick::listing {
namespace {

using RecordName = std::tuple<std::uint64_t, bool, std::uint64_t, std::string>;  // record, in use, parent, name

// The base records' names of names.tsv, without the root's own and
// without DOS aliases of a Win32 name in the same folder.
std::set<RecordName> ExpectedNames(const std::filesystem::path& tsv) {
    struct Line {
        RecordName name;
        std::string nameSpace;
    };
    std::vector<Line> lines;
    std::ifstream in(tsv);
    std::string text;
    while (std::getline(in, text)) {
        if (text.starts_with("#")) continue;
        std::istringstream fields(text);
        std::string record, inUse, base, directory, nameSpace, parent, name;
        std::getline(fields, record, '\t');
        std::getline(fields, inUse, '\t');
        std::getline(fields, base, '\t');
        std::getline(fields, directory, '\t');
        std::getline(fields, nameSpace, '\t');
        std::getline(fields, parent, '\t');
        std::getline(fields, name);
        if (base != "0" || record == "5") continue;
        lines.push_back({{std::stoull(record), inUse == "1", std::stoull(parent), name}, nameSpace});
    }
    std::set<RecordName> names;
    for (const Line& line : lines) {
        const bool alias = line.nameSpace == "DOS" && std::any_of(lines.begin(), lines.end(), [&line](const Line& other) {
                               return other.nameSpace == "WIN32" && std::get<0>(other.name) == std::get<0>(line.name) &&
                                      std::get<2>(other.name) == std::get<2>(line.name);
                           });
        if (!alias) names.insert(line.name);
    }
    return names;
}

TEST(ListingOfRealVolumes, EveryNameOfEveryRecordInUseOrDeleted) {
    // The small images: the large ones decompress to a gigabyte each and
    // add nothing these lack.
    const char* images[] = {"colinfinck-ntfs/testfs1",      "dfir_ntfs/ntfs3.raw",       "dfir_ntfs/ntfs3_attrlist.raw",
                            "dfir_ntfs/ntfs_index.raw",     "donald/test.ntfs.dd",       "grr/ntfs_img.dd",
                            "tsk-test-data/7-ntfs-undel.dd", "tsk-test-data/8-jpeg-search.dd"};
    int checked = 0;
    for (const char* image : images) {
        SCOPED_TRACE(image);
        const std::string path = testing::SharedImage(image);
        if (path.empty()) continue;
        ++checked;
        Listing listing;
        EXPECT_EQ(testdata::ReadImageListing(path, {.deleted = true}, listing), ListingStatus::Complete);
        EXPECT_EQ(listing.damagedRecords(), 0u);

        std::set<RecordName> names;
        for (const Row& row : listing.rows()) names.emplace(row.record, !row.IsDeleted(), row.parent, std::string(listing.Name(row)));
        EXPECT_EQ(names, ExpectedNames(testdata::SharedImagesDir() / (std::string(image) + ".names.tsv")));
    }
    if (checked == 0) GTEST_SKIP() << "the shared images are not here";
}

}  // namespace
}  // namespace tarnwick::listing
