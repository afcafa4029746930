// Real volumes damaged in the ways a failing disk or an attacker would:
// truncated, zeroed, with broken fix-ups, runs past the end, impossible
// flags, lengths of 0 and 0xFFFF, parents that form cycles. Every load ends
// with its defined status (or with the catalogue of what could be read), and
// afterwards Clear brings the library back to empty and a good volume loads.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "catalogue/catalogue.h"
#include "damaged_volume.h"
#include "ntfs/attribute.h"
#include "ntfs/file_name.h"
#include "ntfs/file_record.h"
#include "ntfs/index_buffer.h"
#include "tarnwick.h"
#include "volume/byte_reader.h"

namespace tarnwick::e2e {
namespace {

class DamagedVolume : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        volume_ = Volume::Named(GetParam());
        if (volume_ == nullptr) GTEST_SKIP() << GetParam() << " is not available here";
        ASSERT_EQ(volume_->referenceStatus, 0) << "the undamaged volume must load";
        ASSERT_GT(volume_->referenceCount, 0u);
    }
    void TearDown() override { Clear(); }

    const Volume& V() const { return *volume_; }

    // Loads the damaged copy and checks its status; then checks the state it
    // left and that the library recovers: entries left by a failed load
    // block the next load until Clear, and after Clear the undamaged volume
    // loads as before.
    std::size_t ExpectLoad(const Damaged& damaged, std::set<std::int32_t> allowed, const std::string& what) {
        std::size_t count = 0xDEAD;
        const std::int32_t status = damaged.Load(count);
        EXPECT_TRUE(allowed.count(status) != 0) << what << ": status " << status;
        if (status != 0) {
            EXPECT_EQ(count, 0xDEADu) << what << ": count is written only on success";
        }
        const bool held = !TheCatalogue().entries.empty();
        if (status == 0) {
            EXPECT_TRUE(held) << what;
        }
        if (held) {
            std::size_t blocked = 0xBEEF;
            if (status != 0) {
                EXPECT_EQ(LoadImage(V().path(), blocked), -100) << what << ": a partial catalogue blocks the next load";
                EXPECT_EQ(blocked, 0xBEEFu);
            }
            EXPECT_EQ(Clear(), 0) << what;
        }
        EXPECT_EQ(Clear(), -100) << what << ": Clear leaves the library empty";
        std::size_t again = 0;
        EXPECT_EQ(LoadImage(V().path(), again), 0) << what << ": a good volume loads after it";
        EXPECT_EQ(again, V().referenceCount) << what;
        EXPECT_EQ(Clear(), 0) << what;
        return status == 0 ? count : 0;
    }

    std::size_t ExpectLoad(const Damaged& damaged, std::int32_t status, const std::string& what) {
        return ExpectLoad(damaged, std::set<std::int32_t>{status}, what);
    }

    // The indexed directory's first "INDX" buffer that has entries.
    std::int64_t FirstIndexBuffer() const {
        const Directory* d = V().IndexedDirectory();
        if (d == nullptr) return -1;
        for (const IndexBuffer& b : d->buffers) {
            if (b.indx && !V().Entries(b.offset).empty()) return b.offset;
        }
        return -1;
    }

    // The indexed directory, its record (in one piece) and where the
    // record's index allocation attribute starts; nullopt where there is none.
    std::optional<std::tuple<const Directory*, const MftRecord*, std::size_t>> IndexedFolder() const {
        const Directory* directory = V().IndexedDirectory();
        const MftRecord* record = directory != nullptr ? V().Record(directory->position) : nullptr;
        if (record == nullptr || !record->contiguous()) return std::nullopt;
        const auto allocation = V().Attribute(record->offset(), attribute::kIndexAllocation);
        if (!allocation.has_value()) return std::nullopt;
        return std::tuple{directory, record, *allocation};
    }

    const Volume* volume_ = nullptr;
};

// What a load of the volume cut after `cut` bytes must give, by the order
// of its reads: the boot sector, record 0, then each record of the table
// followed by the index buffers of the directory it is.
std::int32_t StatusAfterCut(const Volume& v, std::int64_t cut) {
    if (cut < static_cast<std::int64_t>(boot_sector::kSize)) return -107;
    if (v.record0() + v.recordSize() > cut) return -110;
    auto directory = v.directories().begin();
    for (const MftRecord& r : v.records()) {
        if (r.end() > cut) return -111;
        while (directory != v.directories().end() && directory->position < r.position) ++directory;
        if (directory == v.directories().end() || directory->position != r.position) continue;
        for (const IndexBuffer& b : directory->buffers) {
            if (b.offset + v.indexSize() > cut) return -113;
            if (!b.indx && directory->flags == kFlagDirectory) break;
        }
    }
    return v.referenceStatus;
}

TEST_P(DamagedVolume, TruncatedAnywhereFailsAtTheFirstReadItCannotComplete) {
    const std::int64_t size = static_cast<std::int64_t>(V().bytes().size());
    std::vector<std::int64_t> cuts = {0, 100, 511, V().record0(), V().record0() + V().recordSize() / 2};
    const auto& records = V().records();
    for (std::size_t i : {std::size_t{1}, std::size_t{5}, records.size() / 3, records.size() / 2, records.size() - 1}) {
        if (i < records.size()) cuts.push_back(records[i].offset() + V().recordSize() / 2);
    }
    for (const Directory& d : V().directories()) {
        for (std::size_t j = 0; j < d.buffers.size() && j < 2; ++j) {
            cuts.push_back(d.buffers[j].offset + V().indexSize() / 2);
            cuts.push_back(d.buffers[j].offset + V().indexSize() - 1);
        }
    }
    cuts.push_back(size - 1);
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    std::set<std::int32_t> seen;
    for (const std::int64_t cut : cuts) {
        if (cut < 0 || cut >= size) continue;
        Damaged damaged(V());
        damaged.Truncate(cut);
        const std::int32_t expected = StatusAfterCut(V(), cut);
        seen.insert(expected);
        const std::size_t count = ExpectLoad(damaged, expected, "cut at " + std::to_string(cut));
        if (expected == 0) {
            EXPECT_EQ(count, V().referenceCount) << "cut at " << cut;
        }
    }
    // The cuts reach every stage of the load.
    EXPECT_TRUE(seen.count(-107) && seen.count(-110) && seen.count(-111));
}

TEST_P(DamagedVolume, ZeroedSectorsGiveTheirStatusOrWhatCouldBeRead) {
    {
        Damaged d(V());
        d.Zero(0, 512);
        ExpectLoad(d, -107, "boot sector zeroed");
    }
    {
        Damaged d(V());
        d.Zero(V().record0(), 512);
        ExpectLoad(d, -112, "first sector of record 0 zeroed");
    }
    const std::int64_t buffer = FirstIndexBuffer();
    ASSERT_GE(buffer, 0);
    {
        // The buffer no longer starts with "INDX": a live directory passes
        // over it, and the catalogue holds everything else.
        Damaged d(V());
        d.Zero(buffer, 512);
        const std::size_t count = ExpectLoad(d, {0, -101}, "first sector of an index buffer zeroed");
        EXPECT_LT(count, V().referenceCount);
    }
    if (V().indexSize() >= 1024 && (V().bytes()[static_cast<std::size_t>(buffer) + 6] > 1)) {
        Damaged d(V());
        d.Zero(buffer + 512, 512);
        ExpectLoad(d, -113, "second sector of an index buffer zeroed: its fix-up no longer matches");
    }
    const Directory* directory = V().IndexedDirectory();
    ASSERT_NE(directory, nullptr);
    const MftRecord* record = V().Record(directory->position);
    if (V().recordSize() >= 1024 && record != nullptr && record->contiguous()) {
        // A file record's fix-up mismatch is not reported: its first stride
        // is still read, the rest as it now is.
        Damaged d(V());
        d.Zero(record->offset() + 512, 512);
        ExpectLoad(d, {0, -101}, "second sector of a directory record zeroed");
    }
}

TEST_P(DamagedVolume, BrokenFixupsFailIndexBuffersButNotFileRecords) {
    const std::int64_t r0 = V().record0();
    const auto data = V().Attribute(r0, attribute::kData);
    ASSERT_TRUE(data.has_value());
    if (V().recordSize() >= 1024) {
        Damaged d(V());
        d.Put(r0 + 1022, 0xA5A5, 2);
        const std::size_t count = ExpectLoad(d, 0, "record 0 with a mismatching second stride");
        EXPECT_EQ(count, V().referenceCount);
    }
    {
        // Without fix-ups, the first stride keeps the sequence number in its
        // last two bytes; record 0's runs lie before them.
        Damaged d(V());
        d.Put(r0 + 6, 0xFFFF, 2);
        ExpectLoad(d, 0, "record 0 with an update sequence array past its end");
    }
    const std::int64_t buffer = FirstIndexBuffer();
    ASSERT_GE(buffer, 0);
    {
        Damaged d(V());
        d.Put(buffer + 510, V().bytes()[static_cast<std::size_t>(buffer) + 510] ^ 0x5A, 1);
        ExpectLoad(d, -113, "index buffer with a mismatching first stride");
    }
    {
        Damaged d(V());
        d.Put(buffer + 6, 0xFFFF, 2);
        ExpectLoad(d, -113, "index buffer with an update sequence count of 0xFFFF");
    }
    {
        Damaged d(V());
        d.Put(buffer + 4, 0xFFFF, 2);
        ExpectLoad(d, -113, "index buffer with an update sequence offset of 0xFFFF");
    }
}

// Replaces the first run of the non-resident attribute at `attribute` of the
// structure at `record` by one of `length` clusters (`lengthBytes` wide) at
// cluster `lcn` (`lcnBytes` wide), and ends the list after it. False when
// the attribute has no room for it.
bool RewriteFirstRun(Damaged& d, const Volume& v, std::int64_t record, std::size_t attribute, std::uint64_t length,
                     std::size_t lengthBytes, std::uint64_t lcn, std::size_t lcnBytes) {
    const std::vector<std::uint8_t> fixed = v.FixedUp(record, v.recordSize());
    const std::size_t pairs = attribute + (fixed[attribute + 32] | (fixed[attribute + 33] << 8));
    const std::uint32_t attributeLength = fixed[attribute + 4] | (fixed[attribute + 5] << 8);
    if (pairs + 2 + lengthBytes + lcnBytes > attribute + attributeLength) return false;
    std::size_t at = pairs;
    d.PutProtected(record, at++, (lcnBytes << 4) | lengthBytes, 1);
    d.PutProtected(record, at, length, lengthBytes);
    at += lengthBytes;
    d.PutProtected(record, at, lcn, lcnBytes);
    at += lcnBytes;
    d.PutProtected(record, at, 0, 1);
    return true;
}

// Bytes a positive cluster number takes as a signed run offset.
std::size_t SignedWidth(std::uint64_t lcn) {
    std::size_t width = 1;
    while (width < 8 && lcn >= (std::uint64_t{1} << (8 * width - 1))) ++width;
    return width;
}

TEST_P(DamagedVolume, RunsOutsideTheVolumeFailTheirRead) {
    const std::int64_t r0 = V().record0();
    const auto data = V().Attribute(r0, attribute::kData);
    ASSERT_TRUE(data.has_value());
    const std::uint64_t mftLcn = static_cast<std::uint64_t>(V().info().mftStartLcn);
    {
        Damaged d(V());
        ASSERT_TRUE(RewriteFirstRun(d, V(), r0, *data, 4, 1, 0x7FFFFFF0, 4));
        ExpectLoad(d, -111, "table run beyond the end of the volume");
    }
    {
        Damaged d(V());
        ASSERT_TRUE(RewriteFirstRun(d, V(), r0, *data, 4, 1, 0xF0000000, 4));
        ExpectLoad(d, -109, "table run at a negative cluster");
    }
    {
        // Reads every record and then the rest of the volume as records,
        // until the end: what came before stays, blocking the next load.
        Damaged d(V());
        ASSERT_TRUE(RewriteFirstRun(d, V(), r0, *data, 0x7FFFFF, 3, mftLcn, SignedWidth(mftLcn)));
        ExpectLoad(d, -111, "table run longer than the volume");
    }

    const auto folder = IndexedFolder();
    ASSERT_TRUE(folder.has_value()) << "an indexed directory whose record is in one piece";
    const auto [directory, record, allocation] = *folder;
    const std::uint64_t buffersPerRun = static_cast<std::uint64_t>(std::max<std::int64_t>(1, V().indexSize() / V().clusterSize()));
    {
        Damaged d(V());
        ASSERT_TRUE(RewriteFirstRun(d, V(), record->offset(), allocation, buffersPerRun, 1, 0x7FFFFFF0, 4));
        ExpectLoad(d, -113, "index run beyond the end of the volume");
    }
    {
        Damaged d(V());
        ASSERT_TRUE(RewriteFirstRun(d, V(), record->offset(), allocation, buffersPerRun, 1, 0xF0000000, 4));
        ExpectLoad(d, -113, "index run at a negative cluster");
    }
    {
        Damaged d(V());
        const auto lcn = static_cast<std::uint64_t>(directory->buffers.front().offset / V().clusterSize());
        ASSERT_TRUE(RewriteFirstRun(d, V(), record->offset(), allocation, 0x7FFFFF, 3, lcn, SignedWidth(lcn)));
        ExpectLoad(d, -113, "index run longer than the volume");
        // The same in a file as long as the run claims, which reads as
        // zeros: the volume still ends where its boot sector says, so the
        // load neither reads gigabytes nor notes every buffer it passes.
        d.sparseSize = std::int64_t{0x7FFFFF} * V().clusterSize() + static_cast<std::int64_t>(d.bytes.size());
        ExpectLoad(d, -113, "index run longer than the volume, in a file as long as the run");
    }
    {
        Damaged d(V());
        ASSERT_TRUE(RewriteFirstRun(d, V(), r0, *data, 0x7FFFFF, 3, mftLcn, SignedWidth(mftLcn)));
        d.sparseSize = std::int64_t{0x7FFFFF} * V().clusterSize() + static_cast<std::int64_t>(d.bytes.size());
        ExpectLoad(d, -111, "table run longer than the volume, in a file as long as the run");
    }
}

// Appends copies of the first run of the non-resident attribute at
// `attribute` (each starting where the one before did) after that run, as
// many as the attribute has room for, up to `most`. Returns how many.
int RepeatFirstRun(Damaged& d, const Volume& v, std::int64_t record, std::size_t attribute, int most) {
    const std::vector<std::uint8_t> fixed = v.FixedUp(record, v.recordSize());
    const std::size_t pairs = attribute + (fixed[attribute + 32] | (fixed[attribute + 33] << 8));
    const std::uint32_t attributeLength = fixed[attribute + 4] | (fixed[attribute + 5] << 8);
    const std::uint8_t header = fixed[pairs];
    const std::size_t lengthBytes = header & 0x0F;
    std::size_t at = pairs + 1 + lengthBytes + (header >> 4);
    int copies = 0;
    while (copies < most && at + 1 + lengthBytes + 1 <= attribute + attributeLength) {
        d.PutProtected(record, at++, lengthBytes, 1);  // no offset: the same first cluster
        for (std::size_t i = 0; i < lengthBytes; ++i) d.PutProtected(record, at++, fixed[pairs + 1 + i], 1);
        ++copies;
    }
    d.PutProtected(record, at, 0, 1);
    return copies;
}

// Runs that repeat would have the same records or buffers read, and their
// entries catalogued, again and again: a small crafted volume could make a
// load take hours and all memory.
TEST_P(DamagedVolume, RepeatedRunsAreRefusedOrReadOnce) {
    const std::int64_t r0 = V().record0();
    const auto data = V().Attribute(r0, attribute::kData);
    ASSERT_TRUE(data.has_value());
    {
        // Some tables fill their attribute to the last byte; the other
        // volumes cover them.
        Damaged d(V());
        if (RepeatFirstRun(d, V(), r0, *data, 64) >= 1) ExpectLoad(d, -109, "table run repeated");
    }
    const auto folder = IndexedFolder();
    ASSERT_TRUE(folder.has_value()) << "an indexed directory whose record is in one piece";
    const auto [directory, record, allocation] = *folder;
    Damaged d(V());
    const int copies = RepeatFirstRun(d, V(), record->offset(), allocation, 64);
    ASSERT_GE(copies, 1);
    const std::size_t count = ExpectLoad(d, {0, -101}, "index run repeated " + std::to_string(copies) + " times");
    EXPECT_LE(count, V().referenceCount) << "no entry is catalogued twice";
}

TEST_P(DamagedVolume, Record0ThatIsNoPlainFileInUseGivesNoTable) {
    for (const int flags : {0, 2, 3, 7}) {
        Damaged d(V());
        d.PutProtected(V().record0(), file_record::kFlags, flags, 2);
        ExpectLoad(d, -112, "record 0 with flags " + std::to_string(flags));
    }
    Damaged d(V());
    d.Put(V().record0(), 0, 4);
    ExpectLoad(d, -112, "record 0 without its signature");
}

TEST_P(DamagedVolume, AttributeAndEntryLengthsOfZeroAndAllOnes) {
    const std::int64_t r0 = V().record0();
    const auto data = V().Attribute(r0, attribute::kData);
    ASSERT_TRUE(data.has_value());
    const std::vector<std::uint8_t> fixed = V().FixedUp(r0, V().recordSize());
    const std::size_t first = fixed[file_record::kFirstAttributeOffset] | (fixed[file_record::kFirstAttributeOffset + 1] << 8);
    for (const std::uint32_t length : {0u, 0xFFFFu, 0xFFFFFFFFu}) {
        for (const std::size_t at : {first, *data}) {
            Damaged d(V());
            d.PutProtected(r0, at + attribute::kLength, length, 4);
            ExpectLoad(d, -112, "record 0, attribute at " + std::to_string(at) + " of length " + std::to_string(length));
        }
    }

    const auto folder = IndexedFolder();
    ASSERT_TRUE(folder.has_value()) << "an indexed directory whose record is in one piece";
    const auto [directory, record, allocation] = *folder;
    for (const std::uint32_t length : {0u, 0xFFFFu}) {
        // The directory loses its index allocation: its entries are missing,
        // everything else is read.
        Damaged d(V());
        d.PutProtected(record->offset(), allocation + attribute::kLength, length, 4);
        const std::size_t count = ExpectLoad(d, {0, -101}, "directory's index allocation of length " + std::to_string(length));
        EXPECT_LT(count, V().referenceCount);
    }

    const std::int64_t buffer = FirstIndexBuffer();
    const std::vector<IndexEntry> entries = V().Entries(buffer);
    ASSERT_FALSE(entries.empty());
    {
        // A length of 0 ends the buffer's walk at that entry.
        Damaged d(V());
        d.PutProtected(buffer, entries.front().position + index_entry::kLength, 0, 2);
        const std::size_t count = ExpectLoad(d, {0, -101}, "first index entry of length 0");
        EXPECT_LT(count, V().referenceCount);
    }
    for (const std::uint16_t length : {std::uint16_t{0xFFFF}, std::uint16_t{0x8000}}) {
        Damaged d(V());
        d.PutProtected(buffer, entries.back().position + index_entry::kLength, length, 2);
        ExpectLoad(d, -113, "last index entry of length " + std::to_string(length));
    }
    {
        Damaged d(V());
        d.PutProtected(buffer, entries.front().position + index_entry::kKeyLength, 0xFFFF, 2);
        ExpectLoad(d, -113, "index key of length 0xFFFF");
    }
    {
        Damaged d(V());
        d.PutProtected(buffer, index_buffer::kEntriesSize, 0xFFFF, 2);
        ExpectLoad(d, -113, "node entries size of 0xFFFF");
    }
    {
        Damaged d(V());
        d.PutProtected(buffer, index_buffer::kAllocatedSize, 0xFFFF, 2);
        ExpectLoad(d, -113, "node allocated size of 0xFFFF");
    }
}

TEST_P(DamagedVolume, ParentCyclesAreCataloguedAsTheyStand) {
    const std::int64_t buffer = FirstIndexBuffer();
    const std::vector<IndexEntry> entries = V().Entries(buffer);
    // Three different files of the buffer: a and b become each other's
    // parent, c its own.
    std::vector<std::uint32_t> ids;
    for (const IndexEntry& e : entries) {
        if (std::find(ids.begin(), ids.end(), e.id) == ids.end()) ids.push_back(e.id);
    }
    if (ids.size() < 3) GTEST_SKIP() << "fewer than three files in the buffer";
    const std::map<std::uint32_t, std::uint32_t> parentOf = {{ids[0], ids[1]}, {ids[1], ids[0]}, {ids[2], ids[2]}};

    Damaged d(V());
    for (const IndexEntry& e : entries) {
        const auto p = parentOf.find(e.id);
        if (p != parentOf.end()) d.PutProtected(buffer, e.position + index_entry::kKey, p->second, 4);
    }
    {
        std::size_t count = 0;
        ASSERT_EQ(d.Load(count), 0);
        EXPECT_EQ(count, V().referenceCount);
        std::vector<ResultRecord_Internal*> pointers(count);
        ASSERT_EQ(GetPointer(pointers.data()), 0);
        std::set<std::uint32_t> found;
        for (const ResultRecord_Internal* e : pointers) {
            const auto p = parentOf.find(static_cast<std::uint32_t>(e->id));
            if (p == parentOf.end() || static_cast<std::uint32_t>(e->parentId) != p->second) continue;
            found.insert(p->first);
            EXPECT_NE(e->parentName[0], 0) << "every parent keeps a name";
        }
        EXPECT_EQ(found.size(), 3u) << "each file of the cycles is catalogued under its new parent";
        EXPECT_EQ(Clear(), 0);
    }
    ExpectLoad(d, 0, "parent cycles");
}

TEST_P(DamagedVolume, ARootNamedWithANulUnitLoadsWithEmptyParentNames) {
    // No NTFS name holds U+0000, but a damaged record may: the name is not
    // empty on disk, so the load keeps it, and a text field ends at it.
    constexpr std::uint32_t kRoot = 5;
    const MftRecord* root = V().Record(kRoot);
    ASSERT_TRUE(root != nullptr && root->contiguous());
    const auto name = V().Attribute(root->offset(), attribute::kFileName);
    ASSERT_TRUE(name.has_value());
    const std::vector<std::uint8_t> fixed = V().FixedUp(root->offset(), V().recordSize());
    const std::size_t value = *name + ByteReader(fixed).U16(*name + attribute::kValueOffset);
    Damaged d(V());
    d.PutProtected(root->offset(), value + file_name::kName, 0, 2);

    std::size_t count = 0;
    ASSERT_EQ(d.Load(count), 0);
    EXPECT_EQ(count, V().referenceCount);
    std::vector<ResultRecord_Internal*> pointers(count);
    ASSERT_EQ(GetPointer(pointers.data()), 0);
    std::size_t inRoot = 0;
    for (const ResultRecord_Internal* e : pointers) {
        const bool rootIsParent = static_cast<std::uint32_t>(e->parentId) == kRoot;
        inRoot += rootIsParent ? 1 : 0;
        EXPECT_EQ(e->parentName[0] == 0, rootIsParent) << "entry " << e->id << " under " << e->parentId;
    }
    EXPECT_GT(inRoot, 0u);
    EXPECT_EQ(Clear(), 0);
}

INSTANTIATE_TEST_SUITE_P(Volumes, DamagedVolume,
                         ::testing::Values("mkntfs-8-4096", "mkntfs-4-512", "grr/ntfs_img.dd", "colinfinck-ntfs/testfs1",
                                           "tsk-test-data/7-ntfs-undel.dd", "dfir_ntfs/ntfs_index.raw"),
                         ParamName);

}  // namespace
}  // namespace tarnwick::e2e
