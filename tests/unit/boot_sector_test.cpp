#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ntfs_builders.h"
#include "volume/boot_sector.h"

namespace tarnwick {
namespace {

using testing::Put16;
using testing::Put64;

std::vector<std::uint8_t> Boot(std::uint16_t bytesPerSector, std::uint8_t sectorsPerCluster, std::uint8_t recordByte,
                               std::uint8_t indexByte) {
    std::vector<std::uint8_t> b(512, 0);
    std::memcpy(b.data() + 3, "NTFS    ", 8);
    Put16(b, 0x0B, bytesPerSector);
    b[0x0D] = sectorsPerCluster;
    Put64(b, 0x28, 0x123456789ABCull);
    Put64(b, 0x30, 0xF00000000000ull);
    b[0x40] = recordByte;
    b[0x44] = indexByte;
    return b;
}

TEST(BootSector, DecodesEverySizeEncoding) {
    struct Case {
        std::uint16_t sector;
        std::uint8_t perCluster, record, index;
        std::uint32_t cluster;
        std::int32_t recordSize, indexSize;
    } cases[] = {
        {512, 8, 0xF6, 0x01, 4096, 1024, 4096},         // the usual: 2^10-byte records, 1-cluster buffers
        {512, 8, 0xF6, 0xF4, 4096, 1024, 4096},         // buffers as a power of two
        {512, 1, 0x02, 0x08, 512, 1024, 4096},          // records of two 512-byte clusters
        {512, 0xF4, 0xF6, 0xF4, 2u << 20, 1024, 4096},  // 2 MiB clusters: 0xF4 is 2^12 sectors
        {4096, 1, 0xF6, 0x01, 4096, 1024, 4096},        // 4 KiB sectors
    };
    for (const Case& c : cases) {
        VolumeInfo info;
        ASSERT_EQ(ParseBootSector(Boot(c.sector, c.perCluster, c.record, c.index), info), 0);
        EXPECT_EQ(info.ClusterSize(), c.cluster);
        EXPECT_EQ(info.fileRecordSize, c.recordSize);
        EXPECT_EQ(info.indexBufferSize, c.indexSize);
        EXPECT_EQ(info.totalSectors, 0x123456789ABCll);
        EXPECT_EQ(info.mftStartLcn, 0xF00000000000ll);
    }
}

TEST(BootSector, RejectsOtherFileSystemsAndGeometryTheLoadCannotUse) {
    std::vector<std::vector<std::uint8_t>> bad = {
        std::vector<std::uint8_t>(512, 0),  // what a failed read leaves
        Boot(0, 8, 0xF6, 0x01),             // no sector size
        Boot(512, 0, 0xF6, 0x01),           // no cluster size
        Boot(512, 8, 0xE0, 0x01),           // 2^32-byte records
        Boot(512, 8, 0x81, 0x01),           // -127: 2^127-byte records
        Boot(512, 8, 0xF6, 0xE1),           // 2^31-byte index buffers
        Boot(512, 128, 0x7F, 0x01),         // 127 clusters of 64 KiB per record
        Boot(0x8000, 1, 0xF6, 0x01),        // negative sector size
        Boot(512, 0xE0, 0xF6, 0xF4),        // 2^32 sectors per cluster
        Boot(512, 8, 0xF6, 0x00),           // 1-byte index buffers
        Boot(512, 8, 0xF9, 0x01),           // 128-byte records
        Boot(512, 1, 0x03, 0x08),           // records of three 512-byte clusters
        Boot(512, 1, 0xF6, 0x05),           // index buffers of five 512-byte clusters
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        VolumeInfo info;
        info.mftStartLcn = 77;
        EXPECT_EQ(ParseBootSector(bad[i], info), -1) << i;
        EXPECT_EQ(info.mftStartLcn, 77) << "info untouched on failure, case " << i;
    }
    std::vector<std::uint8_t> fat = Boot(512, 8, 0xF6, 0x01);
    std::memcpy(fat.data() + 3, "MSDOS5.0", 8);
    VolumeInfo info;
    EXPECT_EQ(ParseBootSector(fat, info), -1);
    std::vector<std::uint8_t> almost = Boot(512, 8, 0xF6, 0x01);
    almost[6] = 'Z';
    EXPECT_EQ(ParseBootSector(almost, info), -1);
    EXPECT_EQ(ParseBootSector(std::span<const std::uint8_t>(almost.data(), 5), info), -1);
}

}  // namespace
}  // namespace tarnwick
