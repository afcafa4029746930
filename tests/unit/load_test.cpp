#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "catalogue_text.h"
#include "fragmented_mft.h"
#include "ntfs/attribute.h"
#include "ntfs/file_record.h"
#include "platform/platform.h"
#include "platform/utf16.h"
#include "tarnwick.h"
#include "test_volumes.h"

namespace tarnwick {
namespace {

using testing::FreshVolume;
using testing::MappedDrive;
using testing::SharedImage;
using testing::Text;

// "[Tarnwick.dll] - <digits>.<two digits> ms\n"
bool IsTimingLine(const std::string& line) {
    const std::string prefix = "[Tarnwick.dll] - ", suffix = " ms\n";
    if (line.size() < prefix.size() + 4 + suffix.size()) return false;
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    if (line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    const std::string number = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    const std::size_t point = number.size() - 3;
    if (number[point] != '.') return false;
    for (std::size_t i = 0; i < number.size(); ++i)
        if (i != point && (number[i] < '0' || number[i] > '9')) return false;
    return true;
}

std::vector<std::u16string> logged;
void LogDebugLine(const char16_t* text) { logged.emplace_back(text); }

class Load : public ::testing::Test {
protected:
    void SetUp() override {
        logged.clear();
        platform::SetDebugSink(LogDebugLine);
    }
    void TearDown() override {
        Clear();
        platform::SetDebugSink(nullptr);
    }

    std::int32_t LoadFrom(const std::string& path, std::size_t& count) {
        MappedDrive drive(path);
        return LoadMft(MappedDrive::kDrive, &count);
    }

    // The catalogue of one of the real images; skips the test when the
    // images are not beside the project.
    void LoadShared(const std::string& image, std::vector<ResultRecord_Internal*>& entries) {
        const std::string volume = SharedImage(image);
        if (volume.empty()) GTEST_SKIP() << "shared images are not beside the project";
        std::size_t count = 0;
        ASSERT_EQ(LoadFrom(volume, count), 0);
        entries.resize(count);
        ASSERT_EQ(GetPointer(entries.data()), 0);
    }
};

TEST_F(Load, EmptyCatalogueRefusesEveryReaderAndTouchesNothing) {
    std::vector<std::uint8_t> buffer(1088, 0xAB);
    ResultRecord_Internal* pointer = reinterpret_cast<ResultRecord_Internal*>(0x1234);
    EXPECT_EQ(GetData(reinterpret_cast<ResultRecord_Export*>(buffer.data())), -100);
    EXPECT_EQ(GetPointer(&pointer), -100);
    EXPECT_EQ(Clear(), -100);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(1088, 0xAB));
    EXPECT_EQ(pointer, reinterpret_cast<ResultRecord_Internal*>(0x1234));
}

TEST_F(Load, DrivesThatAreNotFixedOrNotNtfsFail) {
    std::size_t count = 77;
    unsetenv("TARNWICK_DRIVE_T");
    EXPECT_EQ(LoadMft(MappedDrive::kDrive, &count), -103) << "unmapped letter";
    EXPECT_EQ(LoadMft(40, &count), -103) << "no letter at all";
    const std::string fresh = FreshVolume("fresh.img");
    if (!fresh.empty()) {
        setenv("TARNWICK_DRIVE_D", fresh.c_str(), 1);
        EXPECT_EQ(LoadMft(3 + 256, &count), -103) << "a number past Z: is no drive, whatever its low byte";
        unsetenv("TARNWICK_DRIVE_D");
    }
    EXPECT_EQ(LoadFrom("/nonexistent/image", count), -103);
    EXPECT_EQ(LoadFrom(testing::ScratchDir().string(), count), -103) << "a directory";
    EXPECT_EQ(LoadFrom("/dev/null", count), -103) << "a character device";

    const std::string empty = (testing::ScratchDir() / "empty.img").string();
    std::ofstream(empty).close();
    EXPECT_EQ(LoadFrom(empty, count), -107) << "nothing to read is no boot sector";
    const std::string text = (testing::ScratchDir() / "text.img").string();
    std::ofstream(text) << std::string(4096, 'x');
    EXPECT_EQ(LoadFrom(text, count), -107);
    EXPECT_EQ(count, 77u);
    EXPECT_TRUE(logged.empty()) << "no timing line for a load that failed early";
}

TEST_F(Load, LoadedCatalogueIsHandedOutByPointerAndByCopy) {
    const std::string volume = FreshVolume("fresh.img");
    if (volume.empty()) GTEST_SKIP() << "mkntfs is not installed";
    std::size_t count = 0;
    ASSERT_EQ(LoadFrom(volume, count), 0);
    ASSERT_GT(count, 5u);

    ASSERT_EQ(logged.size(), 1u);
    EXPECT_TRUE(IsTimingLine(Utf16ToUtf8(logged[0]))) << Utf16ToUtf8(logged[0]);

    std::vector<ResultRecord_Internal*> first(count), second(count);
    ASSERT_EQ(GetPointer(first.data()), 0);
    ASSERT_EQ(GetPointer(second.data()), 0);
    EXPECT_EQ(first, second);

    std::size_t again = 12345;
    EXPECT_EQ(LoadFrom(volume, again), -100);
    EXPECT_EQ(again, 12345u);

    // A fresh volume's root lists the metadata files, the root itself among them.
    bool sawRoot = false;
    for (const ResultRecord_Internal* e : first) {
        EXPECT_EQ(e->parentId, 5);
        EXPECT_EQ(Text(e->parentName), u".");
        EXPECT_EQ(e->duplicate, 0);
        if (e->id == 5) {
            sawRoot = true;
            EXPECT_EQ(Text(e->name), u".");
            EXPECT_EQ(e->flag, 3);
        }
    }
    EXPECT_TRUE(sawRoot);

    // Copies: the caller's bytes after each terminator and in the padding stay.
    std::vector<std::uint8_t> buffer(count * sizeof(ResultRecord_Export), 0xCD);
    std::vector<ResultRecord_Internal> expected;
    for (const ResultRecord_Internal* e : first) expected.push_back(*e);
    ASSERT_EQ(GetData(reinterpret_cast<ResultRecord_Export*>(buffer.data())), 0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* raw = buffer.data() + i * 1088;
        ResultRecord_Export out;
        std::memcpy(&out, raw, sizeof out);
        const ResultRecord_Internal& in = expected[i];
        EXPECT_EQ(out.parentId, in.parentId);
        EXPECT_EQ(out.id, in.id);
        EXPECT_EQ(Text(out.name), Text(in.name));
        EXPECT_EQ(Text(out.parentName), Text(in.parentName));
        EXPECT_EQ(out.allocatedSize, in.allocatedSize);
        EXPECT_EQ(out.actualSize, in.actualSize);
        EXPECT_EQ(out.creationTime, in.creationTime);
        EXPECT_EQ(out.modificationTime, in.modificationTime);
        EXPECT_EQ(out.mftModificationTime, in.mftModificationTime);
        EXPECT_EQ(out.accessTime, in.accessTime);
        EXPECT_EQ(out.flag, in.flag);
        const std::size_t nameUnits = Text(in.name).size();
        EXPECT_EQ(raw[520 + 2 * nameUnits + 2], 0xCD) << "unit after the terminator keeps the caller's byte";
        EXPECT_EQ(raw[1087], 0xCD) << "padding keeps the caller's byte";
        EXPECT_EQ(raw[1084], 0xCD);
    }
    EXPECT_EQ(Clear(), -100) << "GetData released the catalogue";
    ASSERT_EQ(LoadFrom(volume, count), 0) << "and a new load may run";
}

// Runs that cover a cluster twice would have the same records read and
// catalogued again and again: the load refuses them.
TEST_F(Load, AMasterFileTableWhoseRunsOverlapIsRefused) {
    const std::string fresh = FreshVolume("overlap-source.img");
    if (fresh.empty()) GTEST_SKIP() << "mkntfs is not installed";
    const std::string volume = (testing::ScratchDir() / "overlap.img").string();
    std::filesystem::copy_file(fresh, volume, std::filesystem::copy_options::overwrite_existing);

    std::fstream image(volume, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<std::uint8_t> boot(512), record(1024);
    image.read(reinterpret_cast<char*>(boot.data()), 512);
    const std::int64_t mft = (boot[0x30] | boot[0x31] << 8 | boot[0x32] << 16) * std::int64_t{4096};
    image.seekg(mft);
    image.read(reinterpret_cast<char*>(record.data()), 1024);
    FileRecordHeader header;
    ASSERT_EQ(ParseFileRecordHeader(record, header), 0);
    NonResidentHeader data;
    const std::int64_t at = FindAttribute(record, 0x80, header.firstAttributeOffset, data);
    ASSERT_GT(at, 0);
    // Repeat the first run once more, starting where it starts (no offset).
    std::size_t p = static_cast<std::size_t>(at) + data.mappingPairsOffset;
    const std::size_t lengthBytes = record[p] & 0x0F;
    const std::uint8_t length = record[p + 1];
    while (record[p] != 0) p += 1 + (record[p] & 0x0F) + (record[p] >> 4);
    ASSERT_EQ(lengthBytes, 1u);
    ASSERT_LT(p + 3, 500u) << "the patch stays clear of the first stride's check bytes";
    const std::uint8_t repeat[] = {0x01, length, 0x00};
    image.seekp(static_cast<std::streamoff>(mft + static_cast<std::int64_t>(p)));
    image.write(reinterpret_cast<const char*>(repeat), 3);
    image.close();

    std::size_t count = 0;
    EXPECT_EQ(LoadFrom(volume, count), -109);
    EXPECT_EQ(Clear(), -100) << "refused before any record was read";
    EXPECT_EQ(LoadFrom(fresh, count), 0);
}

// A volume with 512-byte clusters and 1 KiB records: its master file table
// has runs that end in the middle of a record.
TEST_F(Load, RecordsThatStraddleTwoRunsAreRead) {
    std::vector<ResultRecord_Internal*> entries;
    LoadShared("colinfinck-ntfs/testfs1", entries);
    if (HasFatalFailure() || IsSkipped()) return;
    int straddlers = 0;
    for (const ResultRecord_Internal* e : entries) {
        if (e->id >= 255 && e->id <= 266) {
            ++straddlers;
            EXPECT_EQ(e->flag, 3) << "record " << e->id << " is one of the many subdirectories";
        }
    }
    EXPECT_EQ(straddlers, 12);
    EXPECT_EQ(entries.size(), 529u);
}

// Older writers use a file record header without the record number field.
TEST_F(Load, ShortRecordHeadersAreNumberedByTheirPosition) {
    std::vector<ResultRecord_Internal*> entries;
    LoadShared("dfir_ntfs/ntfs3.raw", entries);
    if (HasFatalFailure() || IsSkipped()) return;
    bool sawTest = false;
    for (const ResultRecord_Internal* e : entries) {
        if (Text(e->name) == u"test") {
            sawTest = true;
            EXPECT_EQ(e->id, 27);
            EXPECT_EQ(e->flag, 3) << "the flag comes from record 27, found by its position";
        }
    }
    EXPECT_TRUE(sawTest);
}

// A long-used volume's table continues in an extension record of record 0:
// the load reads it whole and gives the same catalogue, entry by entry.
TEST_F(Load, ATableContinuedInAnExtensionRecordIsReadWhole) {
    std::vector<std::string> sources;
    if (const std::string fresh = FreshVolume("fragmented-source.img", 16, 1024); !fresh.empty()) sources.push_back(fresh);
    if (const std::string grr = SharedImage("grr/ntfs_img.dd"); !grr.empty()) sources.push_back(grr);
    if (sources.empty()) GTEST_SKIP() << "no mkntfs and no shared images";
    auto catalogue = [this](const std::string& path) {
        std::size_t count = 0;
        EXPECT_EQ(LoadFrom(path, count), 0) << path;
        std::vector<ResultRecord_Internal*> pointers(count);
        GetPointer(pointers.data());
        std::vector<std::vector<std::uint8_t>> entries;
        for (const ResultRecord_Internal* e : pointers) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(e);
            entries.emplace_back(bytes, bytes + sizeof *e);
        }
        Clear();
        return entries;
    };
    for (const std::string& source : sources) {
        std::ifstream in(source, std::ios::binary);
        std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in), {}};
        ASSERT_TRUE(testing::FragmentMft(image)) << source;
        const std::string fragmented = (testing::ScratchDir() / "fragmented.img").string();
        std::ofstream(fragmented, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        const auto expected = catalogue(source);
        const auto loaded = catalogue(fragmented);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(loaded.size(), expected.size()) << source;
        EXPECT_TRUE(loaded == expected) << source << ": the same bytes in every entry";
    }
}

}  // namespace
}  // namespace tarnwick
