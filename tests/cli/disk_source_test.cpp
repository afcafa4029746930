// The source layer on whole disks made with sfdisk and sgdisk around two test
// volumes, and on an E01 file acquired from one of them by ewfacquire: every
// partition reads back byte for byte as the volume put there, and every
// refusal is one line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "source.h"
#include "tool_run.h"

namespace tarnwick::cli {
namespace {

namespace fs = std::filesystem;

const fs::path kDisks = TARNWICK_DISK_IMAGES;
const fs::path kFirstVolume = TARNWICK_FIRST_VOLUME;
const fs::path kSecondVolume = TARNWICK_SECOND_VOLUME;

std::vector<char> ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// Made when its tool is installed; E01 files read only where libewf was.
bool Usable(const fs::path& path) {
    return fs::exists(path) && (path.extension() != ".E01" || EwfSupported());
}

std::optional<std::string> Open(const fs::path& path, const SourceOptions& options, OpenedSource& opened) {
    Source source;
    source.label = source.path = path.string();
    return OpenSource(source, options, opened);
}

// Reads the whole volume through a handle the way the listing does, a
// megabyte announced at a time, and compares it with the volume's own file.
// A partition ends where the volume does; an offset reads to the disk's end.
void ExpectVolume(const OpenedSource& opened, const fs::path& volume) {
    const std::vector<char> expected = ReadWhole(volume);
    if (opened.partition == 0 && !opened.WholeFile()) {
        ASSERT_GE(opened.length, expected.size());
    } else {
        ASSERT_EQ(opened.length, expected.size());
    }
    SourceHandle handle = OpenHandle(opened);
    constexpr std::uint32_t kStep = 1 << 20;
    std::vector<std::uint8_t> fallback(kStep);
    for (std::size_t at = 0; at < expected.size(); at += kStep) {
        ASSERT_TRUE(platform::SetPosition(handle.get(), static_cast<std::int64_t>(at), expected.size() - at));
        const std::uint8_t* got = platform::ReadInPlace(handle.get(), fallback.data(), kStep);
        ASSERT_NE(got, nullptr) << "at byte " << at;
        ASSERT_EQ(0, std::memcmp(got, expected.data() + at, kStep)) << "at byte " << at;
    }
    if (opened.length != expected.size()) return;
    // Past the end of the partition nothing is read, even where the disk goes on.
    std::uint8_t byte = 0;
    ASSERT_TRUE(platform::SetPosition(handle.get(), static_cast<std::int64_t>(expected.size())));
    EXPECT_FALSE(platform::ReadExact(handle.get(), &byte, 1));
}

TEST(DiskSource, EveryNtfsPartitionReadsAsItsVolume) {
    struct Case {
        const char* disk;
        SourceOptions options;
        fs::path volume;
        int partition;
    };
    const std::uint64_t logicalStart = (4096 + fs::file_size(kFirstVolume) / 512 + 2048) * 512;
    const std::vector<Case> cases = {
        {"mbr.img", {std::nullopt, 2}, kFirstVolume, 2},
        {"mbr.img", {std::nullopt, 5}, kSecondVolume, 5},  // logical, in the extended partition
        {"mbr.img", {logicalStart, std::nullopt}, kSecondVolume, 0},
        {"gpt.img", {}, kFirstVolume, 2},  // the only NTFS partition is taken unasked
        {"gpt.E01", {}, kFirstVolume, 2},
        {"gpt.E01", {std::uint64_t{4096} * 512, std::nullopt}, kFirstVolume, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.disk) + " partition " + std::to_string(c.partition));
        if (!Usable(kDisks / c.disk)) continue;
        OpenedSource opened;
        const auto problem = Open(kDisks / c.disk, c.options, opened);
        ASSERT_FALSE(problem) << *problem;
        EXPECT_EQ(opened.partition, c.partition);
        EXPECT_EQ(opened.WholeFile(), false);
        ExpectVolume(opened, c.volume);
        EXPECT_FALSE(ReadProblem(opened));
    }
}

TEST(DiskSource, AVolumeOnItsOwnIsReadWhole) {
    OpenedSource opened;
    ASSERT_FALSE(Open(kFirstVolume, {}, opened));
    EXPECT_TRUE(opened.WholeFile());
    ExpectVolume(opened, kFirstVolume);
}

// As a program using the library would name it: the volume's first byte and
// its length in the disk, which the catalogue's load must keep.
TEST(DiskSource, ADriveLetterKeepsTheExtentItsVariablesGive) {
    if (!Usable(kDisks / "mbr.img")) GTEST_SKIP() << "mbr.img was not made";
    const std::string length = std::to_string(fs::file_size(kFirstVolume));
    setenv("TARNWICK_DRIVE_Q", (kDisks / "mbr.img").c_str(), 1);
    setenv("TARNWICK_DRIVE_Q_OFFSET", "2097152", 1);
    setenv("TARNWICK_DRIVE_Q_LENGTH", length.c_str(), 1);
    Source source;
    OpenedSource opened;
    ASSERT_FALSE(ResolveSource("Q:", source));
    const auto problem = OpenSource(source, {}, opened);
    ASSERT_FALSE(problem) << *problem;
    EXPECT_EQ(opened.length, fs::file_size(kFirstVolume));
    ExpectVolume(opened, kFirstVolume);
    EXPECT_TRUE(MapDriveToVolume(source, opened));
    EXPECT_EQ(std::getenv("TARNWICK_DRIVE_Q_LENGTH"), length);
    for (const char* name : {"TARNWICK_DRIVE_Q", "TARNWICK_DRIVE_Q_OFFSET", "TARNWICK_DRIVE_Q_LENGTH"}) unsetenv(name);

    // A path takes the free letter Z, but not an offset left for Z.
    setenv("TARNWICK_DRIVE_Z_OFFSET", "512", 1);
    ASSERT_FALSE(ResolveSource(kFirstVolume.string(), source));
    EXPECT_FALSE(OpenSource(source, {}, opened));
    EXPECT_TRUE(opened.WholeFile());
    for (const char* name : {"TARNWICK_DRIVE_Z", "TARNWICK_DRIVE_Z_OFFSET", "TARNWICK_DRIVE_Z_LENGTH"}) unsetenv(name);
}

TEST(DiskSource, RefusalsSayWhyInOneLine) {
    struct Case {
        fs::path source;
        SourceOptions options;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {kDisks / "mbr.img", {}, "2 NTFS partitions: 2 (at byte 2097152, 32 MiB), 5 (at byte"},
        {kDisks / "mbr.img", {std::nullopt, 1}, "partition 1 (at byte 1048576, 1.0 MiB) is not NTFS"},
        {kDisks / "mbr.img", {std::nullopt, 3}, "no partition 3 (the table has 1, 2, 5)"},
        {kDisks / "mbr.img", {std::uint64_t{512}, std::nullopt}, "no NTFS volume at offset 512"},
        {kDisks / "mbr.img", {std::uint64_t{1} << 40, std::nullopt}, "offset 1099511627776 is past the end"},
        {kDisks / "outside.img", {}, "partition 1 (bytes 1048576 to 34603008) lies outside the disk"},
        {kDisks / "damaged.E01", {}, "damaged E01 evidence file"},
        {kFirstVolume, {std::nullopt, 1}, "no partition table: the source is an NTFS volume itself"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source.filename().string());
        if (!Usable(c.source)) continue;
        OpenedSource opened;
        const auto problem = Open(c.source, c.options, opened);
        ASSERT_TRUE(problem);
        EXPECT_NE(problem->find(c.expected), std::string::npos) << *problem;
        EXPECT_EQ(problem->find('\n'), std::string::npos) << *problem;
        EXPECT_FALSE(opened.volume);
    }
}

// The tool lists a partition, and loads its catalogue, exactly as it does
// the volume on its own; a refusal is one line on standard error and exit 1.
TEST(DiskSource, TheToolReadsAPartitionAsTheVolume) {
    const test::ScratchDir scratch;
    const fs::path& dir = scratch.path();
    struct Case {
        std::vector<std::string> where;
        fs::path volume;
    };
    const std::vector<Case> cases = {
        {{"--partition", "5", (kDisks / "mbr.img").string()}, kSecondVolume},
        {{(kDisks / "gpt.E01").string()}, kFirstVolume},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where.back());
        if (!Usable(c.where.back())) continue;
        for (const std::vector<std::string>& command : {std::vector<std::string>{"list", "--deleted", "--streams"},
                                                       std::vector<std::string>{"list", "--catalogue"}}) {
            if (command.back() == "--catalogue" && c.where.back().ends_with(".E01")) continue;
            std::vector<std::string> args = command;
            args.insert(args.end(), c.where.begin(), c.where.end());
            const test::Result inside = test::RunTool(dir, args);
            args = command;
            args.push_back(c.volume.string());
            const test::Result alone = test::RunTool(dir, args);
            ASSERT_EQ(inside.exit, 0) << inside.err;
            EXPECT_EQ(inside.out, alone.out);
            EXPECT_GT(inside.out.size(), 1000u);
        }
    }
    const test::Result refused = test::RunTool(dir, {"list", (kDisks / "mbr.img").string()});
    EXPECT_EQ(refused.exit, 1);
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
    EXPECT_TRUE(refused.out.empty());
}

// Hand-made tables for what no partitioning tool writes.
class CraftedDisk : public ::testing::Test {
protected:

    static void Entry(std::vector<std::uint8_t>& disk, std::size_t sector, int slot, std::uint8_t type,
                      std::uint32_t first, std::uint32_t count) {
        std::uint8_t* e = disk.data() + sector * 512 + 0x1BE + slot * 16;
        e[4] = type;
        std::memcpy(e + 8, &first, 4);
        std::memcpy(e + 12, &count, 4);
        disk[sector * 512 + 510] = 0x55;
        disk[sector * 512 + 511] = 0xAA;
    }

    std::optional<std::string> OpenBytes(const std::vector<std::uint8_t>& disk) {
        std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(disk.data()), disk.size());
        OpenedSource opened;
        return Open(path_, {}, opened);
    }

    test::ScratchDir scratch_;
    fs::path path_ = scratch_ / "disk";
};

TEST_F(CraftedDisk, ALoopingChainOfLogicalPartitionsEnds) {
    std::vector<std::uint8_t> disk(64 * 512);
    Entry(disk, 0, 0, 0x05, 1, 60);  // extended from LBA 1
    Entry(disk, 1, 0, 0x07, 8, 2);
    Entry(disk, 1, 1, 0x05, 1, 10);  // next EBR at LBA 2
    Entry(disk, 2, 0, 0x07, 8, 2);
    Entry(disk, 2, 1, 0x05, 2, 10);  // LBA 3
    Entry(disk, 3, 0, 0x07, 8, 2);
    Entry(disk, 3, 1, 0x05, 1, 10);  // back to LBA 2
    const auto problem = OpenBytes(disk);
    ASSERT_TRUE(problem);
    EXPECT_EQ(*problem, "partition table damaged: the chain of logical partitions loops");
}

// A disk of 4096-byte sectors (4Kn) counts its MBR in them: the volume its
// entry puts at sector 256 lies at 1 MiB, not at 128 KiB.
TEST_F(CraftedDisk, AnMbrOfA4KnDiskCountsInItsOwnSectors) {
    const fs::path volume = scratch_ / "4kn.vol";
    const std::string format = "PATH=$PATH:/usr/sbin; truncate -s 8M '" + volume.string() +
                               "' && mkntfs -q -F -Q -s 4096 -S 0 -H 0 -p 0 '" + volume.string() + "' >/dev/null 2>&1";
    if (std::system(format.c_str()) != 0) GTEST_SKIP() << "mkntfs is not installed";
    const std::vector<char> bytes = ReadWhole(volume);
    constexpr std::size_t kAt = 256 * 4096;
    std::vector<std::uint8_t> disk(kAt + bytes.size());
    Entry(disk, 0, 0, 0x83, 1, 8);  // a small partition of another file system before it
    Entry(disk, 0, 1, 0x07, 256, static_cast<std::uint32_t>(bytes.size() / 4096));
    std::copy(bytes.begin(), bytes.end(), disk.begin() + kAt);
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(disk.data()), disk.size());
    OpenedSource opened;
    const auto problem = Open(path_, {}, opened);
    ASSERT_FALSE(problem) << *problem;
    EXPECT_EQ(opened.partition, 2);
    ExpectVolume(opened, volume);
}

TEST_F(CraftedDisk, AnEvidenceFileCutAfterItsHeaderIsDamagedNotForeign) {
    if (!Usable(kDisks / "gpt.E01")) GTEST_SKIP() << "gpt.E01 was not made";
    std::vector<char> head = ReadWhole(kDisks / "gpt.E01");
    head.resize(13);
    path_ += ".E01";  // segment files are found by their names
    const auto problem = OpenBytes(std::vector<std::uint8_t>(head.begin(), head.end()));
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->rfind("damaged E01 evidence file", 0), 0u) << *problem;
}

TEST_F(CraftedDisk, ADamagedGptHeaderIsNamed) {
    if (!fs::exists(kDisks / "gpt.img")) GTEST_SKIP() << "gpt.img was not made";
    std::vector<char> head = ReadWhole(kDisks / "gpt.img");
    head.resize(64 * 512);
    std::vector<std::uint8_t> disk(head.begin(), head.end());
    disk[512 + 80] ^= 1;  // the entry count, under the header's checksum
    const auto problem = OpenBytes(disk);
    ASSERT_TRUE(problem);
    EXPECT_EQ(*problem, "partition table damaged: GPT header damaged: checksum mismatch");
}

}  // namespace
}  // namespace tarnwick::cli
