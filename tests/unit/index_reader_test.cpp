// The index reader on a tiny volume whose only cluster is the root index
// buffer of a fresh mkntfs volume.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "catalogue/entry_list.h"
#include "catalogue/index_reader.h"
#include "catalogue/record_name_list.h"
#include "ntfs/file_record.h"
#include "ntfs_builders.h"
#include "platform/platform.h"
#include "test_volumes.h"

namespace tarnwick {
namespace {

using testing::RecordBuilder;

class IndexReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string volume = testing::FreshVolume("index-reader.img");
        if (volume.empty()) GTEST_SKIP() << "mkntfs is not installed";
        std::ifstream in(volume, std::ios::binary);
        std::vector<std::uint8_t> boot(512);
        in.read(reinterpret_cast<char*>(boot.data()), 512);
        const std::uint64_t mft = (boot[0x30] | boot[0x31] << 8 | boot[0x32] << 16) * std::uint64_t{4096};
        std::vector<std::uint8_t> root(1024);
        in.seekg(static_cast<std::streamoff>(mft + 5 * 1024));
        in.read(reinterpret_cast<char*>(root.data()), 1024);
        FileRecordHeader header;
        RunList runs;
        ASSERT_EQ(ParseEntry(ParseMode::IndexAllocation, root, header, runs), 0);
        buffer_.resize(4096);
        in.seekg(runs[0].lcn * 4096);
        in.read(reinterpret_cast<char*>(buffer_.data()), 4096);
        ASSERT_EQ(std::string(buffer_.begin(), buffer_.begin() + 4), "INDX");
    }

    void TearDown() override {
        entries_.Clear();
        names_.Clear();
    }

    // Reads each record in turn through one reader over a volume holding `buffer`.
    std::vector<int> Read(const std::vector<std::vector<std::uint8_t>>& records, const std::vector<std::uint8_t>& buffer) {
        const std::string image = (testing::ScratchDir() / "one-cluster.img").string();
        std::ofstream(image, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
        testing::MappedDrive drive(image);
        const platform::RawHandle handle = platform::OpenVolume(u"\\\\.\\T:");
        std::vector<int> results;
        {
            IndexReader reader(handle, 4096, 4096, entries_, names_);
            for (std::uint32_t i = 0; i < records.size(); ++i) {
                std::vector<std::uint8_t> record = records[i];
                results.push_back(reader.ReadAndParseIndex(record, 40 + i));
            }
        }
        platform::CloseVolume(handle);
        return results;
    }

    static std::vector<std::uint8_t> Directory(std::uint16_t flags, const std::vector<std::uint8_t>& runs) {
        return RecordBuilder(1024, flags, 40).FileName({.name = u"dir"}).NonResident(0xA0, runs, u"$I30").Bytes();
    }

    std::vector<std::uint8_t> buffer_;
    EntryList entries_;
    RecordNameList names_;
};

TEST_F(IndexReaderTest, ABufferIsCataloguedOnceHoweverOftenRunsNameIt) {
    ASSERT_EQ(Read({Directory(3, {0x11, 0x01, 0x00})}, buffer_), std::vector<int>{0});
    const std::size_t once = entries_.size();
    ASSERT_GT(once, 5u) << "a fresh root lists the metadata files";
    entries_.Clear();

    // One run list naming the buffer three times, and a copy of the record.
    const auto repeating = Directory(3, {0x11, 0x01, 0x00, 0x01, 0x01, 0x01, 0x01});
    EXPECT_EQ(Read({repeating, repeating}, buffer_), (std::vector<int>{0, 0}));
    EXPECT_EQ(entries_.size(), once);
}

TEST_F(IndexReaderTest, ADeletedDirectorysStaleRunDoesNotHideALiveDirectorysBuffer) {
    EXPECT_EQ(Read({Directory(2, {0x11, 0x01, 0x00}), Directory(3, {0x11, 0x01, 0x00})}, buffer_),
              (std::vector<int>{0, 0}));
    EXPECT_GT(entries_.size(), 5u);
}

TEST_F(IndexReaderTest, AnEntryTooShortForANamedKeyEndsTheBuffer) {
    std::vector<std::uint8_t> damaged = buffer_;
    const std::size_t first = 24 + (damaged[24] | damaged[25] << 8);
    testing::Put16(damaged, first + 8, 40);  // the first entry's length
    EXPECT_EQ(Read({Directory(3, {0x11, 0x01, 0x00})}, damaged), std::vector<int>{0});
    EXPECT_EQ(entries_.size(), 0u) << "the walk ends at the damaged entry";
}

}  // namespace
}  // namespace tarnwick
