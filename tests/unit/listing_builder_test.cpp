#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "listing/listing_builder.h"
#include "listing/tree_order.h"
#include "ntfs/attribute_walk.h"
#include "ntfs_builders.h"

namespace tarnwick::listing {
namespace {

using testing::FileNameFields;
using testing::RecordBuilder;

constexpr std::uint16_t kFile = kFlagInUse;
constexpr std::uint16_t kDirectory = kFlagInUse | kFlagDirectory;

std::uint64_t Ref(std::uint64_t record, std::uint16_t sequence) { return record | std::uint64_t{sequence} << 48; }

FileNameFields Name(const std::u16string& name, std::uint64_t parent, std::uint8_t nameSpace = kNamespaceWin32) {
    FileNameFields f;
    f.name = name;
    f.parent = parent;
    f.nameSpace = nameSpace;
    return f;
}

// A base record with its standard information (times 10..13, `attributes`),
// names, and an unnamed resident $DATA of `dataBytes` for a file.
RecordBuilder Record(std::uint32_t number, std::uint16_t sequence, std::uint16_t flags,
                     const std::vector<FileNameFields>& names, std::optional<std::size_t> dataBytes = 0,
                     std::uint32_t attributes = 0x20) {
    std::vector<std::uint8_t> standard(72, 0);
    for (int i = 0; i < 4; ++i) testing::Put64(standard, 8 * i, 10 + i);
    testing::Put32(standard, 32, attributes);
    RecordBuilder record(1024, flags, number);
    record.Sequence(sequence).Resident(attribute::kStandardInformation, standard);
    for (const FileNameFields& name : names) record.FileName(name);
    if ((flags & kFlagDirectory) == 0 && dataBytes) record.Resident(attribute::kData, std::vector<std::uint8_t>(*dataBytes, 1));
    return record;
}

// Feeds the records in order (true: the bitmap says in use) and keeps the
// listing's paths, each with its row.
class Built {
public:
    explicit Built(ListingOptions options = {}) : builder_(listing_, options) {
        Add(5, Record(5, 5, kDirectory, {Name(u".", Ref(5, 5))}));
    }
    Built& Add(std::uint64_t number, const RecordBuilder& record, bool inUse = true) {
        std::vector<std::uint8_t> bytes = record.Bytes();
        builder_.AddRecord(number, bytes, inUse);
        return *this;
    }
    Built& AddBytes(std::uint64_t number, std::vector<std::uint8_t> bytes, bool inUse = true) {
        builder_.AddRecord(number, bytes, inUse);
        return *this;
    }
    const Listing& Finish() {
        builder_.Finish();
        for (const Row& row : listing_.rows()) {
            std::string path;
            listing_.AppendPath(row, path);
            paths_.emplace(path, &row);
        }
        return listing_;
    }
    std::vector<std::string> Paths() const {
        std::vector<std::string> out;
        for (const auto& [path, row] : paths_) out.push_back(path);
        return out;
    }
    const Row& At(const std::string& path) const {
        const auto found = paths_.find(path);
        if (found == paths_.end()) throw std::out_of_range("no row at " + path);
        return *found->second;
    }

    const Listing& listing() const { return listing_; }

private:
    Listing listing_;
    ListingBuilder builder_;
    std::multimap<std::string, const Row*> paths_;
};

using Paths = std::vector<std::string>;

TEST(ListingBuilder, OneRowPerNameWithPathsTimesAndSizes) {
    Built built;
    built.Add(30, Record(30, 3, kDirectory, {Name(u"docs", Ref(5, 5))}))
        .Add(31, Record(31, 1, kFile,
                        {Name(u"Long File Name.txt", Ref(30, 3)), Name(u"LONGFI~1.TXT", Ref(30, 3), kNamespaceDos),
                         Name(u"link", Ref(5, 5), kNamespacePosix)},
                        300, 0x21))
        .Add(32, Record(32, 1, kFile, {Name(u"SHORT.TXT", Ref(30, 3), kNamespaceDos)}));
    FileNameFields asStandard = Name(u"same times", Ref(5, 5));
    asStandard.creation = 10, asStandard.modification = 11, asStandard.mftChange = 12, asStandard.access = 13;
    built.Add(33, Record(33, 1, kFile, {asStandard}));
    const Listing& listing = built.Finish();
    EXPECT_EQ(built.Paths(), (Paths{"/docs", "/docs/Long File Name.txt", "/docs/SHORT.TXT", "/link", "/same times"}))
        << "a DOS alias of a Win32 name is no row; a DOS-only name is";

    const Row& file = built.At("/docs/Long File Name.txt");
    EXPECT_EQ(file.record, 31u);
    EXPECT_EQ(file.parent, 30u);
    EXPECT_EQ(file.parentSequence, 3u);
    EXPECT_EQ(file.dataSize, 300u);
    EXPECT_EQ(file.allocatedSize, 0u) << "a resident value has no clusters of its own";
    EXPECT_EQ(file.attributes, file_attribute::kReadOnly | file_attribute::kArchive);
    EXPECT_EQ(file.standardTimes.access, 13);
    EXPECT_EQ(listing.FileNameTimes(file).access, 4) << "the name's own copy, not the standard information's";
    const Row& same = built.At("/same times");
    EXPECT_EQ(listing.FileNameTimes(same), same.standardTimes);
    EXPECT_EQ(same.fileNameTimesAt, kTimesAsStandard) << "kept once, in the row";
    EXPECT_FALSE(file.IsDirectory());
    EXPECT_EQ(built.At("/link").dataSize, 300u) << "a hard link is the same file";
    EXPECT_TRUE(built.At("/docs").IsDirectory());
    EXPECT_EQ(listing.damagedRecords(), 0u);
    EXPECT_EQ(listing.recordsRead(), 5u);
}

TEST(ListingBuilder, NamesWithoutAValidParentGoUnderOrphansAndEveryChainEnds) {
    Built built;
    built.Add(30, Record(30, 3, kDirectory, {Name(u"docs", Ref(5, 5))}))
        .Add(31, Record(31, 1, kFile, {Name(u"reused", Ref(30, 2))}))       // the folder that held it is gone
        .Add(32, Record(32, 1, kFile, {Name(u"under a file", Ref(31, 1))}))  // a file is no folder
        .Add(33, Record(33, 1, kFile, {Name(u"nowhere", Ref(900, 1))}))
        .Add(34, Record(34, 1, kDirectory, {Name(u"lost", Ref(901, 1))}))
        .Add(35, Record(35, 1, kFile, {Name(u"inside", Ref(34, 1))}))
        // Two folders that are each other's parent.
        .Add(40, Record(40, 1, kDirectory, {Name(u"a", Ref(41, 1))}))
        .Add(41, Record(41, 1, kDirectory, {Name(u"b", Ref(40, 1))}))
        .Add(42, Record(42, 1, kFile, {Name(u"in b", Ref(41, 1))}));
    // A chain deeper than any real path: every folder is still listed, the
    // deep end starting over under the orphans.
    const std::uint32_t deep = kMaxDepth + 20;
    for (std::uint32_t i = 0; i < deep; ++i) {
        const std::uint64_t parent = i == 0 ? Ref(5, 5) : Ref(1000 + i - 1, 1);
        built.Add(1000 + i, Record(1000 + i, 1, kDirectory, {Name(u"d", parent)}));
    }
    const Listing& listing = built.Finish();
    ASSERT_EQ(listing.size(), 9u + deep);

    const Paths paths = built.Paths();
    for (const char* expected : {"/$OrphanFiles/reused", "/$OrphanFiles/under a file", "/$OrphanFiles/nowhere",
                                 "/$OrphanFiles/lost", "/$OrphanFiles/lost/inside"}) {
        EXPECT_NE(std::find(paths.begin(), paths.end(), expected), paths.end()) << expected;
    }
    EXPECT_TRUE(built.At("/$OrphanFiles/nowhere").IsOrphan());
    EXPECT_FALSE(built.At("/$OrphanFiles/lost/inside").IsOrphan()) << "its own parent is fine";
    const auto cycle = std::count_if(paths.begin(), paths.end(), [](const std::string& p) {
        return p.starts_with("/$OrphanFiles/a") || p.starts_with("/$OrphanFiles/b");
    });
    EXPECT_EQ(cycle, 3) << "a, b and the file in b";
    std::size_t deepest = 0;
    for (const std::string& path : paths) deepest = std::max<std::size_t>(deepest, std::count(path.begin(), path.end(), '/'));
    EXPECT_LE(deepest, kMaxDepth + 1);

    // Folder by folder: every row once, each after the folder it is in, the
    // orphans' tree after the root's.
    const LargeVector<std::uint32_t> order = TreeOrder(listing);
    ASSERT_EQ(order.size(), listing.size());
    std::vector<bool> written(listing.size(), false);
    bool inOrphans = false;
    for (const std::uint32_t i : order) {
        const Row& row = listing.rows()[i];
        const std::uint32_t parent = listing.PathParent(row);
        if (parent < listing.size()) {
            EXPECT_TRUE(written[parent]) << "row " << i;
        }
        EXPECT_FALSE(written[i]) << "row " << i;
        written[i] = true;
        std::string path;
        listing.AppendPath(row, path);
        const bool orphan = path.starts_with(kOrphanFolder);
        EXPECT_TRUE(orphan || !inOrphans) << path;
        inOrphans = orphan;
    }
}

TEST(ListingBuilder, ExtensionRecordsJoinTheirBaseOnlyWhenTheSequenceMatches) {
    Built built;
    // Record 48 holds the name, before its base; 51 the data; 52 claims an
    // earlier life of record 50.
    built.Add(48, RecordBuilder(1024, kFile, 48).Base(Ref(50, 4)).FileName(Name(u"big.bin", Ref(5, 5))))
        .Add(50, Record(50, 4, kFile, {}, std::nullopt).Resident(attribute::kAttributeList, std::vector<std::uint8_t>(32)))
        .Add(51, RecordBuilder(1024, kFile, 51)
                     .Base(Ref(50, 4))
                     .NonResident(attribute::kData, {0x11, 0x10, 0x40})
                     .Field64(attribute::kAllocatedSize, 65536)
                     .Field64(attribute::kDataSize, 60000))
        .Add(52, RecordBuilder(1024, kFile, 52).Base(Ref(50, 3)).FileName(Name(u"stale", Ref(5, 5))))
        .Add(53, RecordBuilder(1024, kFile, 53).Base(Ref(60, 1)).FileName(Name(u"no base", Ref(5, 5))));
    built.Finish();
    EXPECT_EQ(built.Paths(), (Paths{"/big.bin"}));
    const Row& row = built.At("/big.bin");
    EXPECT_EQ(row.record, 50u);
    EXPECT_EQ(row.dataSize, 60000u);
    EXPECT_EQ(row.allocatedSize, 65536u);
    EXPECT_EQ(row.standardTimes.creation, 10) << "the base record's own times";
    EXPECT_EQ(built.listing().FileNameTimes(row).creation, 1) << "its name's, from the extension record";
}

TEST(ListingBuilder, DeletedRecordsAndStreamsOnlyWhenAskedFor) {
    auto feed = [](Built& built) {
        // A deleted record that was a file, not a folder: what named it as
        // a parent is an orphan, deleted or not.
        built.Add(30, Record(30, 8, 0, {Name(u"gone", Ref(5, 5))}), false)
            .Add(31, Record(31, 2, 0, {Name(u"old.txt", Ref(30, 7))}, 10), false)
            .Add(32, Record(32, 1, kFile, {Name(u"live.txt", Ref(30, 7))}))
            .Add(33, Record(33, 1, kFile, {Name(u"ads.txt", Ref(5, 5)), Name(u"link.txt", Ref(5, 5))}, 5)
                         .NonResident(attribute::kData, {0x11, 0x01, 0x40}, u"zone")
                         .Field64(attribute::kAllocatedSize, 4096)
                         .Field64(attribute::kDataSize, 26));
        std::vector<std::uint8_t> torn = Record(34, 1, kFile, {Name(u"torn", Ref(5, 5))}).Bytes();
        torn[1022] ^= 1;
        built.AddBytes(34, torn);
    };
    Built plain;
    feed(plain);
    const Listing& listing = plain.Finish();
    EXPECT_EQ(plain.Paths(), (Paths{"/$OrphanFiles/live.txt", "/ads.txt", "/link.txt"}))
        << "deleted records are left out";
    EXPECT_EQ(listing.damagedRecords(), 1u);

    ListingOptions all;
    all.deleted = all.streams = true;
    Built full(all);
    feed(full);
    full.Finish();
    const Paths paths = full.Paths();
    EXPECT_EQ(paths, (Paths{"/$OrphanFiles/live.txt", "/$OrphanFiles/old.txt", "/ads.txt", "/ads.txt:zone", "/gone",
                            "/link.txt", "/link.txt:zone"}))
        << "a stream beside each name of its file";
    EXPECT_TRUE(full.At("/gone").IsDeleted());
    const Row& stream = full.At("/ads.txt:zone");
    EXPECT_TRUE(stream.IsStream());
    EXPECT_EQ(stream.dataSize, 26u);
    EXPECT_EQ(full.listing().StreamName(stream), "zone");
    EXPECT_EQ(full.listing().FileNameTimes(stream), Times{}) << "a stream has no $FILE_NAME of its own";
    EXPECT_EQ(full.At("/ads.txt").dataSize, 5u);
}

TEST(ListingBuilder, DeletedFilesFindTheFolderDeletedWithThem) {
    ListingOptions options;
    options.deleted = true;
    Built built(options);
    built.Add(30, Record(30, 8, kFlagDirectory, {Name(u"gone", Ref(5, 5))}), false)
        .Add(31, Record(31, 2, 0, {Name(u"old.txt", Ref(30, 7))}), false)
        .Add(32, Record(32, 2, 0, {Name(u"older.txt", Ref(30, 5))}), false);
    built.Finish();
    EXPECT_EQ(built.Paths(), (Paths{"/$OrphanFiles/older.txt", "/gone", "/gone/old.txt"}));
}

}  // namespace
}  // namespace tarnwick::listing
