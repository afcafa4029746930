#include <gtest/gtest.h>

#include <vector>

#include "ntfs/attribute.h"
#include "ntfs/data_runs.h"
#include "ntfs/file_name.h"
#include "ntfs/file_record.h"
#include "ntfs_builders.h"

namespace tarnwick {
namespace {

using testing::FileNameFields;
using testing::Put16;
using testing::Put32;
using testing::RecordBuilder;

std::u16string Text(NameRef name) {
    std::u16string out;
    for (std::size_t i = 0; i < name.units; ++i) out.push_back(static_cast<char16_t>(name.bytes[2 * i] | name.bytes[2 * i + 1] << 8));
    return out;
}

TEST(Fixups, RestoreEveryStrideOrStopAtTheFirstMismatch) {
    const std::vector<std::uint8_t> clean = RecordBuilder(1024).FileName({}).Bytes(0);  // sequence 0: strides end in 0
    std::vector<std::uint8_t> disk = RecordBuilder(1024).FileName({}).Bytes(0x0A0B);
    ASSERT_NE(disk, clean);

    std::vector<std::uint8_t> fixed = disk;
    EXPECT_EQ(ApplyFixups(fixed, 48, 3), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(fixed.begin() + 56, fixed.end()), std::vector<std::uint8_t>(clean.begin() + 56, clean.end()));

    std::vector<std::uint8_t> torn = disk;
    torn[1023] ^= 0xFF;  // the second stride was not written with the first
    EXPECT_EQ(ApplyFixups(torn, 48, 3), -1);
    EXPECT_EQ(torn[510], clean[510]) << "the first stride is restored";
    EXPECT_EQ(torn[1022], disk[1022]) << "the second stays as read";

    for (std::uint16_t count : {std::uint16_t{0}, std::uint16_t{1}}) {
        std::vector<std::uint8_t> untouched = disk;
        EXPECT_EQ(ApplyFixups(untouched, 48, count), 0);
        EXPECT_EQ(untouched, disk);
    }
    std::vector<std::uint8_t> hostile = disk;
    EXPECT_EQ(ApplyFixups(hostile, 48, 4), -1) << "a third stride lies past a 1 KiB record";
    EXPECT_EQ(ApplyFixups(hostile, 1020, 3), -1) << "the array itself runs past the record";
}

TEST(DataRuns, DecodeWidthsSignsAndAbsoluteClusters) {
    // 0x11: 1-byte length 4, 1-byte offset 0x20; 0x21: 2-byte offset 0x0100;
    // 0x31: 3-byte offset; 0x11 with 0xF0: -16; 0x41 with 0xFFFFFFFF: -1; 0x01: no offset.
    const std::vector<std::uint8_t> pairs = {0x11, 0x04, 0x20, 0x21, 0x08, 0x00, 0x01, 0x31, 0x02, 0x00, 0x00, 0x01,
                                             0x11, 0x01, 0xF0, 0x41, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x03, 0x00};
    RunList runs;
    DecodeRunList(pairs, 0, runs);
    ASSERT_EQ(runs.size(), 6u);
    const std::int64_t deltas[] = {0x20, 0x100, 0x10000, -16, -1, 0};
    const std::int64_t lcns[] = {0x20, 0x120, 0x10120, 0x10110, 0x1010F, 0x1010F};
    const std::uint64_t lengths[] = {4, 8, 2, 1, 1, 3};
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].lcnDelta, deltas[i]) << i;
        EXPECT_EQ(runs[i].lcn, lcns[i]) << i;
        EXPECT_EQ(runs[i].length, lengths[i]) << i;
    }

    // A field wider than 8 bytes, or a run cut off by the buffer's end, ends
    // the list after the runs that could be read.
    RunList wide;
    DecodeRunList(std::vector<std::uint8_t>{0x11, 0x01, 0x05, 0x91, 0x01}, 0, wide);
    EXPECT_EQ(wide.size(), 1u);
    RunList cut;
    DecodeRunList(std::vector<std::uint8_t>{0x11, 0x01, 0x05, 0x44, 0x01, 0x02}, 0, cut);
    EXPECT_EQ(cut.size(), 1u);
    RunList unterminated;
    DecodeRunList(std::vector<std::uint8_t>{0x11, 0x01, 0x05}, 0, unterminated);
    EXPECT_EQ(unterminated.size(), 1u);
}

TEST(ParseEntry, ModeRulesForDirectoriesAndTheMasterFileTable) {
    const std::vector<std::uint8_t> runs = {0x11, 0x02, 0x30};
    // Index allocation of a directory in use and of a deleted one.
    for (std::uint16_t flags : {std::uint16_t{3}, std::uint16_t{2}}) {
        auto record = RecordBuilder(1024, flags).FileName({}).NonResident(0xA0, runs, u"$I30").Bytes();
        FileRecordHeader header;
        RunList list;
        EXPECT_EQ(ParseEntry(ParseMode::IndexAllocation, record, header, list), 0) << flags;
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].lcn, 0x30);
    }
    // Files, unused records and view indexes have no directory index to read.
    for (std::uint16_t flags : {std::uint16_t{1}, std::uint16_t{0}, std::uint16_t{9}}) {
        auto record = RecordBuilder(1024, flags).NonResident(0xA0, runs, u"$I30").Bytes();
        FileRecordHeader header;
        RunList list;
        EXPECT_EQ(ParseEntry(ParseMode::IndexAllocation, record, header, list), 1) << flags;
        EXPECT_TRUE(list.empty());
    }
    // The master file table's own record gives its data runs.
    {
        auto record = RecordBuilder(1024, 1, 0).NonResident(0x80, {0x21, 0x40, 0x00, 0x01}).Bytes();
        FileRecordHeader header;
        RunList list;
        ASSERT_EQ(ParseEntry(ParseMode::MftData, record, header, list), 0);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].lcn, 0x100);
        EXPECT_EQ(list[0].length, 0x40u);
    }
    // Unsuitable flags, a resident attribute, a later piece, a missing attribute.
    const std::vector<std::vector<std::uint8_t>> nothing = {
        RecordBuilder(1024, 0).NonResident(0x80, runs).Bytes(),
        RecordBuilder(1024, 1).Resident(0x80, {1, 2, 3}).Bytes(),
        RecordBuilder(1024, 1).NonResident(0x80, runs, u"", 7).Bytes(),
        RecordBuilder(1024, 1).FileName({}).Bytes(),
    };
    for (const auto& bytes : nothing) {
        auto record = bytes;
        FileRecordHeader header;
        RunList list;
        EXPECT_EQ(ParseEntry(ParseMode::MftData, record, header, list), 1);
    }
    std::vector<std::uint8_t> notFile(1024, 0);
    FileRecordHeader header;
    RunList list;
    EXPECT_EQ(ParseEntry(ParseMode::MftData, notFile, header, list), -1);
}

TEST(ParseEntry, ExtensionRecordsCountUnderTheirBaseAndMayCarryADirectoryIndex) {
    const std::vector<std::uint8_t> runs = {0x11, 0x01, 0x40};
    auto extension = RecordBuilder(1024, 1, 900).Base(0x0003000000000077ull).NonResident(0xA0, runs, u"$I30").Bytes();
    FileRecordHeader header;
    RunList list;
    ASSERT_EQ(ParseEntry(ParseMode::IndexAllocation, extension, header, list), 0);
    EXPECT_EQ(OwningRecordNumber(header), 0x77u);
    EXPECT_EQ(list.size(), 1u);

    // A later piece of a split index allocation is read as well: its runs
    // count from cluster 0 like the first piece's.
    auto later = RecordBuilder(1024, 1, 903).Base(0x77).NonResident(0xA0, {0x11, 0x02, 0x50}, u"$I30", 10).Bytes();
    RunList piece;
    ASSERT_EQ(ParseEntry(ParseMode::IndexAllocation, later, header, piece), 0);
    ASSERT_EQ(piece.size(), 1u);
    EXPECT_EQ(piece[0].lcn, 0x50);

    // Only a directory index qualifies an extension record; other indexes
    // (security descriptors, object ids) belong to files.
    auto other = RecordBuilder(1024, 1, 901).Base(0x78).NonResident(0xA0, runs, u"$SDH").Bytes();
    RunList none;
    EXPECT_EQ(ParseEntry(ParseMode::IndexAllocation, other, header, none), 1);
    auto unused = RecordBuilder(1024, 0, 902).Base(0x78).NonResident(0xA0, runs, u"$I30").Bytes();
    EXPECT_EQ(ParseEntry(ParseMode::IndexAllocation, unused, header, none), 1);
}

TEST(ParseEntry, HostileAttributeLengthsEndTheWalk) {
    for (std::uint32_t length : {0u, 8u, 0xFFFFu, 0xFFFFFFFFu}) {
        auto record = RecordBuilder(1024, 3).FileName({}).NonResident(0xA0, {0x11, 0x01, 0x40}, u"$I30").Bytes();
        Put32(record, 56 + 4, length);  // the first attribute's length
        FileRecordHeader header;
        RunList list;
        EXPECT_EQ(ParseEntry(ParseMode::IndexAllocation, record, header, list), 1) << length;
        EXPECT_TRUE(GetRecordName(record, header).empty());
    }
    auto record = RecordBuilder(1024, 3).Bytes();
    Put16(record, 20, 1020);  // first attribute at the very end
    FileRecordHeader header;
    RunList list;
    EXPECT_EQ(ParseEntry(ParseMode::IndexAllocation, record, header, list), 1);
}

TEST(RecordName, FirstNameThatIsNotDos) {
    FileNameFields dos{.nameSpace = 2, .name = u"LONGNA~1.TXT"};
    FileNameFields win32{.nameSpace = 1, .name = u"long name.txt"};
    auto both = RecordBuilder().FileName(dos).FileName(win32).Bytes();
    FileRecordHeader header;
    ParseFileRecordHeader(both, header);
    EXPECT_EQ(Text(GetRecordName(both, header)), u"long name.txt");

    auto onlyDos = RecordBuilder().FileName(dos).Bytes();
    EXPECT_TRUE(GetRecordName(onlyDos, header).empty());

    FileNameFields posix{.nameSpace = 0, .name = u"ünïcödé 😀"};
    auto first = RecordBuilder().FileName(posix).FileName(win32).Bytes();
    EXPECT_EQ(Text(GetRecordName(first, header)), u"ünïcödé 😀");
}

TEST(FileName, NameMustFitTheBufferExactly) {
    FileNameFields f{.name = u"abc"};
    std::vector<std::uint8_t> bytes = testing::FileNameBytes(f);  // ends exactly with the name
    FileNameInfo info;
    NameRef name = ParseFileName(bytes, 0, info);
    EXPECT_EQ(Text(name), u"abc");
    EXPECT_EQ(info.nameSpace, 1);
    EXPECT_EQ(info.parent, 5u);
    EXPECT_EQ(info.dataSize, 1234);

    bytes[64] = 4;  // one unit longer than the buffer holds
    FileNameInfo longer;
    longer.nameSpace = 9;
    EXPECT_TRUE(ParseFileName(bytes, 0, longer).empty());
    EXPECT_EQ(longer.nameSpace, 9) << "namespace not set for a name that does not fit";

    EXPECT_TRUE(ParseFileName(bytes, 30, info).empty()) << "fixed fields past the buffer";
    EXPECT_TRUE(ParseFileName(bytes, SIZE_MAX - 10, info).empty());
}

TEST(FileRecordHeader, ShortHeadersHaveNoRecordNumber) {
    auto record = RecordBuilder(1024, 1, 1234).Bytes();
    FileRecordHeader header;
    ASSERT_EQ(ParseFileRecordHeader(record, header), 0);
    EXPECT_TRUE(header.hasRecordNumber);
    EXPECT_EQ(header.recordNumber, 1234u);
    Put16(record, 4, 0x2A);
    ASSERT_EQ(ParseFileRecordHeader(record, header), 0);
    EXPECT_FALSE(header.hasRecordNumber);
}

}  // namespace
}  // namespace tarnwick
