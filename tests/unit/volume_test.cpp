#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <numeric>
#include <span>
#include <vector>

#include "platform/platform.h"
#include "test_volumes.h"
#include "volume/volume_handle.h"

namespace tarnwick {
namespace {

using testing::MappedDrive;
using testing::ScratchDir;

constexpr char16_t kVolume[] = u"\\\\.\\T:";

int OpenDescriptors() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++n;
        closedir(dir);
    }
    return n;
}

// A file whose byte i is i mod 251, so any offset can be checked.
std::string PatternFile(std::size_t size) {
    const std::string path = (ScratchDir() / ("pattern-" + std::to_string(size))).string();
    std::vector<char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
    return path;
}

bool HoldsPattern(std::span<const std::uint8_t> bytes, std::size_t from) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != (from + i) % 251) return false;
    }
    return true;
}

TEST(VolumeHandle, CopiesShareOneHandleThatClosesOnceWithTheLast) {
    MappedDrive drive(PatternFile(4096));
    const int before = OpenDescriptors();
    {
        VolumeHandle first = OpenVolumeHandle(kVolume);
        ASSERT_TRUE(IsOpen(first));
        EXPECT_EQ(OpenDescriptors(), before + 1);
        {
            VolumeHandle second = first;
            first.reset();
            EXPECT_EQ(OpenDescriptors(), before + 1) << "the copy still holds it";
        }
        EXPECT_EQ(OpenDescriptors(), before);
    }
    EXPECT_EQ(OpenDescriptors(), before);

    unsetenv("TARNWICK_DRIVE_T");
    VolumeHandle failed = OpenVolumeHandle(kVolume);
    EXPECT_FALSE(IsOpen(failed));
    EXPECT_EQ(failed.get(), platform::InvalidHandle()) << "the holder wraps the invalid value";
}

TEST(ReadBuffer, ConsecutiveReadsContinueWhereTheLastEnded) {
    MappedDrive drive(PatternFile(3 << 20));
    VolumeHandle handle = OpenVolumeHandle(kVolume);
    ASSERT_TRUE(IsOpen(handle));
    std::vector<std::uint8_t> half(1024);

    // Plain positioning, and positioning that announces a long run read
    // ahead: both must give the same bytes, across the read-ahead's end too.
    for (std::uint64_t announced : {std::uint64_t{0}, std::uint64_t{2} << 20}) {
        const std::int64_t start = 5000;
        ASSERT_TRUE(platform::SetPosition(handle.get(), start, announced));
        for (std::size_t k = 0; k < 2100; ++k) {
            ASSERT_EQ(ReadBuffer(half, handle.get()), 0);
            ASSERT_TRUE(HoldsPattern(half, start + k * 1024)) << "read " << k << " announced " << announced;
        }
        // Going back inside what was read ahead gives the right bytes too.
        ASSERT_TRUE(platform::SetPosition(handle.get(), start + 4096, 1024));
        ASSERT_EQ(ReadBuffer(half, handle.get()), 0);
        EXPECT_TRUE(HoldsPattern(half, start + 4096));
    }
    EXPECT_FALSE(platform::SetPosition(handle.get(), -1));
}

TEST(ReadInPlace, HandsOutHeldBytesOnceAndRereadsWhatWasChanged) {
    MappedDrive drive(PatternFile(3 << 20));
    VolumeHandle handle = OpenVolumeHandle(kVolume);
    ASSERT_TRUE(IsOpen(handle));
    std::vector<std::uint8_t> fallback(1024);

    // Without an announced run the bytes land in the caller's storage.
    ASSERT_TRUE(platform::SetPosition(handle.get(), 7000));
    std::uint8_t* at = platform::ReadInPlace(handle.get(), fallback.data(), 1024);
    ASSERT_EQ(at, fallback.data());
    EXPECT_TRUE(HoldsPattern(std::span<const std::uint8_t>(at, 1024), 7000));

    // Along an announced run they are handed out where they are held, and
    // the caller may change them (fixups) ...
    ASSERT_TRUE(platform::SetPosition(handle.get(), 5000, 2 << 20));
    for (std::size_t k = 0; k < 2100; ++k) {
        at = platform::ReadInPlace(handle.get(), fallback.data(), 1024);
        ASSERT_NE(at, nullptr) << "read " << k;
        ASSERT_TRUE(HoldsPattern(std::span<const std::uint8_t>(at, 1024), 5000 + k * 1024)) << "read " << k;
        std::fill(at, at + 1024, std::uint8_t{0xEE});
    }
    // ... which are never served again: going back reads the volume.
    ASSERT_TRUE(platform::SetPosition(handle.get(), 5000, 1 << 20));
    for (std::size_t k = 0; k < 10; ++k) {
        at = platform::ReadInPlace(handle.get(), fallback.data(), 1024);
        ASSERT_NE(at, nullptr);
        std::fill(at, at + 1024, std::uint8_t{0xEE});
    }
    std::vector<std::uint8_t> copy(1024);
    ASSERT_TRUE(platform::SetPosition(handle.get(), 5000 + 4096, 1 << 20));
    ASSERT_EQ(ReadBuffer(copy, handle.get()), 0);
    EXPECT_TRUE(HoldsPattern(copy, 5000 + 4096));
    ASSERT_TRUE(platform::SetPosition(handle.get(), 5000 + 8192, 1 << 20));
    at = platform::ReadInPlace(handle.get(), fallback.data(), 1024);
    ASSERT_NE(at, nullptr);
    EXPECT_TRUE(HoldsPattern(std::span<const std::uint8_t>(at, 1024), 5000 + 8192));

    // A short read fails, with or without an announced run.
    for (std::uint64_t announced : {std::uint64_t{0}, std::uint64_t{1} << 20}) {
        ASSERT_TRUE(platform::SetPosition(handle.get(), (3 << 20) - 100, announced));
        EXPECT_EQ(platform::ReadInPlace(handle.get(), fallback.data(), 1024), nullptr) << announced;
    }
}

TEST(ReadBuffer, AShortReadAtTheEndIsAFailure) {
    MappedDrive drive(PatternFile(1500));
    VolumeHandle handle = OpenVolumeHandle(kVolume);
    std::vector<std::uint8_t> buffer(1024);
    for (std::uint64_t announced : {std::uint64_t{0}, std::uint64_t{1} << 20}) {
        ASSERT_TRUE(platform::SetPosition(handle.get(), 0, announced));
        EXPECT_EQ(ReadBuffer(buffer, handle.get()), 0);
        EXPECT_EQ(ReadBuffer(buffer, handle.get()), -1) << "only 476 bytes were left";
        ASSERT_TRUE(platform::SetPosition(handle.get(), 1 << 20, announced));
        EXPECT_EQ(ReadBuffer(buffer, handle.get()), -1) << "past the end";
    }
}

TEST(DriveType, OnlyImagesAndFixedBlockDevicesAreFixed) {
    const std::u16string root = u"\\\\.\\T:\\";
    {
        MappedDrive drive(PatternFile(512));
        EXPECT_EQ(platform::DriveTypeOf(root.c_str()), platform::kDriveFixed);
        EXPECT_NE(platform::DriveTypeOf(u"\\\\.\\U:\\"), platform::kDriveFixed) << "another letter";
        EXPECT_NE(platform::DriveTypeOf(u"T:\\"), platform::kDriveFixed) << "not a volume path";
    }
    for (const std::string& path : {ScratchDir().string(), std::string("/dev/null"), std::string("/no/such/image")}) {
        MappedDrive drive(path);
        EXPECT_NE(platform::DriveTypeOf(root.c_str()), platform::kDriveFixed) << path;
    }
}

}  // namespace
}  // namespace tarnwick
