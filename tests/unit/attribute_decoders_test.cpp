#include <gtest/gtest.h>

#include <vector>

#include "ntfs/attribute_list.h"
#include "ntfs/attribute_walk.h"
#include "ntfs/file_record.h"
#include "ntfs/standard_information.h"
#include "ntfs_builders.h"

namespace tarnwick {
namespace {

using testing::Put16;
using testing::Put32;
using testing::Put64;
using testing::RecordBuilder;

std::vector<AttributeView> WalkAll(std::span<const std::uint8_t> record) {
    std::vector<AttributeView> views;
    AttributeWalk walk(record, 56);
    AttributeView view;
    while (walk.Next(view)) views.push_back(view);
    return views;
}

std::vector<std::uint8_t> Fixed(std::vector<std::uint8_t> record) {
    EXPECT_EQ(ApplyFixups(record, 48, 3), 0);
    return record;
}

TEST(AttributeWalk, DecodesResidentAndNonResidentPiecesInOrder) {
    const std::vector<std::uint8_t> value(48, 0x11);
    const std::vector<std::uint8_t> record = Fixed(RecordBuilder()
                                                       .Resident(attribute::kStandardInformation, value)
                                                       .NonResident(attribute::kData, {0x11, 0x08, 0x40}, u"ads", 0)
                                                       .Field64(attribute::kAllocatedSize, 8192)
                                                       .Field64(attribute::kDataSize, 5000)
                                                       .Field64(attribute::kInitializedSize, 4096)
                                                       .NonResident(attribute::kData, {0x11, 0x02, 0x50}, u"", 8)
                                                       .Bytes());
    const std::vector<AttributeView> views = WalkAll(record);
    ASSERT_EQ(views.size(), 3u);
    EXPECT_EQ(views[0].type, attribute::kStandardInformation);
    EXPECT_FALSE(views[0].nonResident);
    EXPECT_EQ(std::vector<std::uint8_t>(views[0].value.begin(), views[0].value.end()), value);

    EXPECT_TRUE(views[1].nonResident);
    EXPECT_EQ(views[1].name.units, 3u);
    EXPECT_EQ(views[1].dataSize, 5000u);
    EXPECT_EQ(views[1].allocatedSize, 8192u);
    EXPECT_EQ(views[1].totalAllocated, 8192u) << "neither sparse nor compressed: what is reserved is in use";
    EXPECT_EQ(views[1].initializedSize, 4096u);
    RunList runs;
    DecodeRunList(views[1].mappingPairs, 0, runs);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].lcn, 0x40);

    EXPECT_TRUE(views[2].name.empty());
    EXPECT_EQ(views[2].startingVcn, 8u);
}

TEST(AttributeWalk, SparseDataCountsOnlyClustersInUseFromItsFirstPiece) {
    // The total lies where the builder put the mapping pairs, which this
    // test does not read.
    std::vector<std::uint8_t> record = Fixed(RecordBuilder()
                                                 .NonResident(attribute::kData, {0x11, 0x01, 0x40})
                                                 .Field16(attribute::kFlags, attribute_flag::kSparse)
                                                 .Field64(attribute::kAllocatedSize, 1 << 20)
                                                 .Field64(attribute::kTotalAllocated, 4096)
                                                 .NonResident(attribute::kData, {0x11, 0x01, 0x40}, u"", 256)
                                                 .Field16(attribute::kFlags, attribute_flag::kSparse)
                                                 .Field64(attribute::kAllocatedSize, 1 << 20)
                                                 .Field64(attribute::kTotalAllocated, 4096)
                                                 .Bytes());
    const std::vector<AttributeView> views = WalkAll(record);
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].totalAllocated, 4096u);
    EXPECT_EQ(views[1].totalAllocated, std::uint64_t{1} << 20) << "a later piece's fields say nothing";
}

// Each case breaks one field of the second attribute; the first is always
// found, and the walk ends there instead of reading outside the attribute.
TEST(AttributeWalk, EndsAtAnAttributeWhoseFieldsLieOutsideIt) {
    const std::vector<std::uint8_t> good = Fixed(RecordBuilder()
                                                     .Resident(attribute::kStandardInformation, std::vector<std::uint8_t>(48))
                                                     .NonResident(attribute::kData, {0x11, 0x01, 0x40}, u"name")
                                                     .Bytes());
    const std::size_t second = 56 + 72;
    ASSERT_EQ(WalkAll(good).size(), 2u);
    struct Case {
        const char* what;
        std::size_t at;
        int width;
        std::uint64_t value;
    };
    const Case cases[] = {
        {"name past the attribute", second + attribute::kNameOffset, 2, 0x200},
        {"non-resident header shorter than its fields", second + attribute::kLength, 4, 40},
        {"length past the record", second + attribute::kLength, 4, 4096},
        {"mapping pairs past the attribute", second + attribute::kMappingPairsOffset, 2, 0x400},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bad = good;
        if (c.width == 2) Put16(bad, c.at, static_cast<std::uint16_t>(c.value));
        else Put32(bad, c.at, static_cast<std::uint32_t>(c.value));
        EXPECT_EQ(WalkAll(bad).size(), 1u) << c.what;
    }
    std::vector<std::uint8_t> resident = good;
    Put32(resident, 56 + attribute::kValueLength, 4000);
    EXPECT_EQ(WalkAll(resident).size(), 0u) << "resident value past the attribute";
}

std::vector<std::uint8_t> ListEntry(std::uint32_t type, std::uint64_t vcn, std::uint64_t reference,
                                    const std::u16string& name = u"") {
    std::vector<std::uint8_t> entry((26 + 2 * name.size() + 7) & ~std::size_t{7}, 0);
    Put32(entry, attribute_list::kType, type);
    Put16(entry, attribute_list::kLength, static_cast<std::uint16_t>(entry.size()));
    entry[attribute_list::kNameLength] = static_cast<std::uint8_t>(name.size());
    entry[attribute_list::kNameOffset] = 26;
    Put64(entry, attribute_list::kStartingVcn, vcn);
    Put64(entry, attribute_list::kRecord, reference);
    for (std::size_t i = 0; i < name.size(); ++i) Put16(entry, 26 + 2 * i, name[i]);
    return entry;
}

TEST(AttributeList, EntriesUntilOneCannotBeRead) {
    std::vector<std::uint8_t> list = ListEntry(attribute::kData, 0, 0);
    const std::vector<std::uint8_t> second = ListEntry(attribute::kData, 300, 0x0007000000001234, u"$J");
    list.insert(list.end(), second.begin(), second.end());

    AttributeListWalk walk(list);
    AttributeListEntry entry;
    ASSERT_TRUE(walk.Next(entry));
    EXPECT_TRUE(entry.name.empty());
    ASSERT_TRUE(walk.Next(entry));
    EXPECT_EQ(entry.startingVcn, 300u);
    EXPECT_EQ(entry.record, 0x1234u);
    EXPECT_EQ(entry.sequence, 7u);
    EXPECT_EQ(entry.name.units, 2u);
    EXPECT_FALSE(walk.Next(entry));

    const std::size_t at = 32;  // the second entry
    for (auto [what, field, value] : {std::tuple{"shorter than its fields", attribute_list::kLength, 20},
                                      std::tuple{"zero length", attribute_list::kLength, 0},
                                      std::tuple{"past the value", attribute_list::kLength, 64}}) {
        std::vector<std::uint8_t> bad = list;
        Put16(bad, at + field, static_cast<std::uint16_t>(value));
        AttributeListWalk badWalk(bad);
        EXPECT_TRUE(badWalk.Next(entry)) << what;
        EXPECT_FALSE(badWalk.Next(entry)) << what;
    }
    std::vector<std::uint8_t> badName = list;
    badName[at + attribute_list::kNameOffset] = 30;  // 30 + 4 > the entry's 32 bytes
    AttributeListWalk nameWalk(badName);
    EXPECT_TRUE(nameWalk.Next(entry));
    EXPECT_FALSE(nameWalk.Next(entry)) << "name past the entry";
}

TEST(StandardInformation, TimesAndAttributesOrNothingWhenShort) {
    std::vector<std::uint8_t> value(72, 0);
    Put64(value, standard_information::kCreationTime, 1);
    Put64(value, standard_information::kModificationTime, 2);
    Put64(value, standard_information::kMftChangeTime, 3);
    Put64(value, standard_information::kAccessTime, 4);
    Put32(value, standard_information::kFileAttributes, 0x26);
    StandardInformation info;
    ASSERT_EQ(ParseStandardInformation(value, info), 0);
    EXPECT_EQ(info.creationTime + info.modificationTime + info.mftChangeTime + info.accessTime, 10);
    EXPECT_EQ(info.accessTime, 4);
    EXPECT_EQ(info.fileAttributes, 0x26u);

    StandardInformation untouched;
    untouched.creationTime = 99;
    EXPECT_EQ(ParseStandardInformation(std::span(value).first(35), untouched), -1);
    EXPECT_EQ(untouched.creationTime, 99);
}

}  // namespace
}  // namespace tarnwick
