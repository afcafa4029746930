// Thousands of randomly damaged file records and index buffers, cut from a
// real volume, through the parsers. Under the sanitizer build any read
// outside a buffer fails the run; everywhere the walks must end.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <vector>

#include "catalogue/entry_list.h"
#include "catalogue/record_name_list.h"
#include "ntfs/file_name.h"
#include "ntfs/file_record.h"
#include "ntfs/index_buffer.h"
#include "catalogue/index_reader.h"
#include "ntfs_builders.h"
#include "platform/platform.h"
#include "test_volumes.h"

namespace tarnwick {
namespace {

std::vector<std::uint8_t> ReadAt(const std::string& path, std::uint64_t offset, std::size_t size) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<std::uint8_t> bytes(size);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    return bytes;
}

// Flips a few bytes, favouring the header fields every walk depends on.
void Mutate(std::vector<std::uint8_t>& bytes, std::mt19937& random) {
    const int changes = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < changes; ++i) {
        const std::size_t at = random() % 2 ? random() % 96 : random() % bytes.size();
        switch (random() % 3) {
            case 0: bytes[at] = static_cast<std::uint8_t>(random()); break;
            case 1: bytes[at] = 0xFF; break;
            default: bytes[at] = 0; break;
        }
    }
}

class Mutation : public ::testing::Test {
protected:
    void SetUp() override {
        volume_ = testing::FreshVolume("mutation.img", 16, 4096);
        if (volume_.empty()) GTEST_SKIP() << "mkntfs is not installed";
        const auto boot = ReadAt(volume_, 0, 512);
        const std::uint64_t mft = (boot[0x30] | boot[0x31] << 8 | boot[0x32] << 16) * std::uint64_t{4096};
        for (int i = 0; i < 16; ++i) records_.push_back(ReadAt(volume_, mft + 1024u * i, 1024));
    }

    std::string volume_;
    std::vector<std::vector<std::uint8_t>> records_;
};

TEST_F(Mutation, DamagedFileRecordsNeverLeaveTheirBuffer) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::uint8_t> record = records_[random() % records_.size()];
        Mutate(record, random);
        for (ParseMode mode : {ParseMode::IndexAllocation, ParseMode::MftData}) {
            std::vector<std::uint8_t> copy = record;
            FileRecordHeader header;
            RunList runs;
            const int result = ParseEntry(mode, copy, header, runs);
            ASSERT_TRUE(result == -1 || result == 0 || result == 1);
            if (result >= 0) {
                const NameRef name = GetRecordName(copy, header);
                ASSERT_LE(name.units, 255u);
                if (!name.empty()) {
                    ASSERT_GE(name.bytes, copy.data());
                    ASSERT_LE(name.bytes + 2 * name.units, copy.data() + copy.size());
                }
            }
        }
    }
}

// Index buffers go through the reader itself: a directory record whose one
// run is the damaged buffer, written as a tiny volume.
TEST_F(Mutation, DamagedIndexBuffersEndTheirWalk) {
    std::vector<std::uint8_t> root = records_[5];
    FileRecordHeader header;
    RunList runs;
    ASSERT_EQ(ParseEntry(ParseMode::IndexAllocation, root, header, runs), 0);
    ASSERT_FALSE(runs.empty());
    const std::vector<std::uint8_t> good = ReadAt(volume_, static_cast<std::uint64_t>(runs[0].lcn) * 4096, 4096);
    ASSERT_EQ(std::string(good.begin(), good.begin() + 4), "INDX");

    const std::string image = (testing::ScratchDir() / "one-buffer.img").string();
    const std::vector<std::uint8_t> directory =
        testing::RecordBuilder(1024, 3, 40).FileName({.name = u"dir"}).NonResident(0xA0, {0x11, 0x01, 0x00}, u"$I30").Bytes();
    testing::MappedDrive drive(image);
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::uint8_t> buffer = good;
        Mutate(buffer, random);
        std::ofstream(image, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));

        const platform::RawHandle handle = platform::OpenVolume(u"\\\\.\\T:");
        ASSERT_NE(handle, platform::InvalidHandle());
        EntryList entries;
        RecordNameList names;
        IndexReader reader(handle, 4096, 4096, entries, names);
        std::vector<std::uint8_t> record = directory;
        const int result = reader.ReadAndParseIndex(record, 40);
        platform::CloseVolume(handle);
        ASSERT_TRUE(result == -1 || result == 0 || result == 1);
        ASSERT_LE(entries.size(), 4096u / 82) << "no more entries than the buffer can hold";
        entries.Clear();
        names.Clear();
    }
}

}  // namespace
}  // namespace tarnwick
