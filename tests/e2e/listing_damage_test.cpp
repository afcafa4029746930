// The listing of real volumes damaged as in the load's matrix: cut short
// anywhere, records with no signature or a torn update sequence, records on
// bad sectors, parents that point back into their own subtree. The listing
// never stops at a damaged or unreadable record (it is counted and skipped),
// keeps what it read of a volume cut short, and gives every row a path.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "../unit/memory_volume.h"
#include "damaged_volume.h"
#include "listing/listing.h"
#include "ntfs/attribute.h"
#include "ntfs/attribute_walk.h"
#include "ntfs/file_name.h"
#include "ntfs/file_record.h"
#include "volume/byte_reader.h"

namespace tarnwick::e2e {
namespace {

using listing::ListingStatus;
using RecordName = std::pair<std::uint64_t, std::string>;  // record, name

struct Result {
    ListingStatus status;
    std::uint64_t damaged = 0;
    std::uint64_t unreadable = 0;
    std::set<RecordName> names;
    std::map<RecordName, std::string> paths;
};

// With `unreadable`, the bytes at those offsets cannot be read, as on bad
// sectors.
Result List(const std::vector<std::uint8_t>& bytes, const std::vector<std::size_t>& unreadable = {}) {
    testing::MemoryVolume volume(bytes);
    for (const std::size_t offset : unreadable) volume.MakeUnreadable(offset, 1);
    listing::Listing listing;
    Result result;
    result.status = listing::ReadListing(volume.handle(), {}, listing);
    result.damaged = listing.damagedRecords();
    result.unreadable = listing.unreadableRecords();
    for (const listing::Row& row : listing.rows()) {
        const RecordName name{row.record, std::string(listing.Name(row))};
        std::string path;
        listing.AppendPath(row, path);
        EXPECT_TRUE(path.starts_with("/")) << "every row has a path";
        result.names.insert(name);
        result.paths[name] = path;
    }
    return result;
}

class DamagedListing : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        volume_ = Volume::Named(GetParam());
        if (volume_ == nullptr) GTEST_SKIP() << GetParam() << " is not available here";
        reference_ = List(volume_->bytes());
        ASSERT_EQ(reference_.status, ListingStatus::Complete);
        ASSERT_EQ(reference_.damaged, 0u);
    }
    const Volume& V() const { return *volume_; }

    // The in-use records that name a file, in table order.
    std::vector<const MftRecord*> NamedRecords() const {
        std::vector<const MftRecord*> named;
        for (const MftRecord& r : V().records()) {
            const bool names = std::any_of(reference_.names.begin(), reference_.names.end(),
                                           [&r](const RecordName& n) { return n.first == r.position; });
            if (names && r.contiguous()) named.push_back(&r);
        }
        return named;
    }

    const Volume* volume_ = nullptr;
    Result reference_;
};

TEST_P(DamagedListing, CutShortKeepsEveryNameReadBeforeTheCut) {
    EXPECT_EQ(List(std::vector<std::uint8_t>(V().bytes().begin(), V().bytes().begin() + 300)).status, ListingStatus::NotNtfs);
    Damaged beforeTable(V());
    beforeTable.Truncate(V().record0() + V().recordSize() / 2);
    EXPECT_EQ(List(beforeTable.bytes).status, ListingStatus::UnreadableTable);

    const std::vector<const MftRecord*> named = NamedRecords();
    ASSERT_GT(named.size(), 4u);
    for (const MftRecord* last : {named[named.size() / 2], named.back()}) {
        SCOPED_TRACE("cut inside record " + std::to_string(last->position));
        Damaged d(V());
        d.Truncate(last->offset() + V().recordSize() / 2);
        const Result cut = List(d.bytes);
        EXPECT_EQ(cut.status, ListingStatus::CutShort);
        for (const RecordName& name : reference_.names) {
            EXPECT_EQ(cut.names.count(name), name.first < last->position ? 1u : 0u) << "record " << name.first;
        }
    }
}

TEST_P(DamagedListing, DamagedRecordsAreCountedAndSkipped) {
    const std::vector<const MftRecord*> named = NamedRecords();
    ASSERT_GT(named.size(), 4u);
    const MftRecord& last = *named.back();
    const MftRecord& middle = *named[named.size() / 2];
    Damaged d(V());
    d.Put(last.offset(), 0, 4);                                  // no "FILE"
    d.Put(middle.offset() + kFixupStride - 2, 0xBAD, 2);         // a stride that was not written
    const Result damaged = List(d.bytes);
    EXPECT_EQ(damaged.status, ListingStatus::Complete);
    EXPECT_EQ(damaged.damaged, 2u);
    for (const RecordName& name : reference_.names) {
        const bool lost = name.first == last.position || name.first == middle.position;
        EXPECT_EQ(damaged.names.count(name), lost ? 0u : 1u) << "record " << name.first;
    }
}

TEST_P(DamagedListing, RecordsOnBadSectorsArePassedOver) {
    const std::vector<const MftRecord*> named = NamedRecords();
    ASSERT_GT(named.size(), 4u);
    const MftRecord& first = *named[named.size() / 3];
    const MftRecord& second = *named[2 * named.size() / 3];
    const Result bad = List(V().bytes(), {static_cast<std::size_t>(first.offset()) + 700, static_cast<std::size_t>(second.offset()) + 3});
    EXPECT_EQ(bad.status, ListingStatus::Complete);
    EXPECT_EQ(bad.unreadable, 2u);
    EXPECT_EQ(bad.damaged, 0u);
    for (const RecordName& name : reference_.names) {
        const bool lost = name.first == first.position || name.first == second.position;
        EXPECT_EQ(bad.names.count(name), lost ? 0u : 1u) << "record " << name.first;
    }
}

TEST_P(DamagedListing, AFolderMadeItsOwnParentTakesItsTreeUnderTheOrphans) {
    // The last user folder (past the system files) that holds something.
    const MftRecord* folder = nullptr;
    std::string folderPath;
    for (const auto& [name, path] : reference_.paths) {
        const MftRecord* r = V().Record(static_cast<std::uint32_t>(name.first));
        if (name.first < 16 || r == nullptr || !r->contiguous()) continue;
        const std::string inside = path + "/";
        const bool holds = std::any_of(reference_.paths.begin(), reference_.paths.end(),
                                       [&inside](const auto& other) { return other.second.starts_with(inside); });
        if (holds) {
            folder = r;
            folderPath = path;
        }
    }
    if (folder == nullptr) GTEST_SKIP() << "no user folder with something in it";
    // Every name of it: a DOS alias left pointing elsewhere would be a row
    // of its own.
    const std::vector<std::uint8_t> record = V().FixedUp(folder->offset(), V().recordSize());
    const std::uint64_t sequence = ByteReader(record).U16(file_record::kSequenceNumber);
    Damaged d(V());
    AttributeWalk walk(record, ByteReader(record).U16(file_record::kFirstAttributeOffset));
    for (AttributeView view; walk.Next(view);) {
        if (view.type != attribute::kFileName || view.nonResident) continue;
        const auto value = static_cast<std::size_t>(view.value.data() - record.data());
        d.PutProtected(folder->offset(), value + file_name::kParent, folder->position | sequence << 48, 8);
    }
    const Result cycle = List(d.bytes);
    EXPECT_EQ(cycle.names, reference_.names) << "every row stays";
    const std::string folderName = folderPath.substr(folderPath.rfind('/') + 1);
    for (const auto& [name, path] : reference_.paths) {
        if (path != folderPath && !path.starts_with(folderPath + "/")) continue;
        EXPECT_EQ(cycle.paths.at(name), "/$OrphanFiles/" + folderName + path.substr(folderPath.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Volumes, DamagedListing,
                         ::testing::Values("mkntfs-8-4096", "grr/ntfs_img.dd", "colinfinck-ntfs/testfs1",
                                           "tsk-test-data/7-ntfs-undel.dd", "dfir_ntfs/ntfs_index.raw"),
                         ParamName);

}  // namespace
}  // namespace tarnwick::e2e
