// The NTFS boot sector: the signature and the geometry every later read
// depends on.
#pragma once

#include <cstdint>
#include <span>

namespace tarnwick {

namespace boot_sector {
inline constexpr std::size_t kSize = 512;
inline constexpr std::size_t kOemId = 0x03;              // "NTFS    "; the first four bytes are checked
inline constexpr std::size_t kBytesPerSector = 0x0B;     // u16
inline constexpr std::size_t kSectorsPerCluster = 0x0D;  // u8; above 0x80 it is 2^(256 - v) sectors
inline constexpr std::size_t kTotalSectors = 0x28;       // u64
inline constexpr std::size_t kMftStartLcn = 0x30;        // u64
inline constexpr std::size_t kFileRecordSize = 0x40;     // i8: clusters when > 0, else 2^-v bytes
inline constexpr std::size_t kIndexBufferSize = 0x44;    // i8: as the file record size
}  // namespace boot_sector

struct VolumeInfo {
    std::int16_t bytesPerSector = 0;
    // The sectors per cluster as a count, not the raw byte: clusters of
    // 128 KiB and more are written as a power of two and decoded here, which
    // a single byte could not hold, so the field is 32 bits wide.
    std::uint32_t sectorsPerCluster = 0;
    std::int64_t totalSectors = 0;
    std::int64_t mftStartLcn = 0;
    std::int32_t fileRecordSize = 0;
    std::int32_t indexBufferSize = 0;

    // Bytes the volume holds: reads past them fail like reads past the end
    // of a device. 0 when the boot sector gives no positive size.
    std::int64_t VolumeBytes() const;

    std::uint32_t ClusterSize() const {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(bytesPerSector) * static_cast<std::int64_t>(sectorsPerCluster));
    }
};

// 0 with `info` filled, or -1 (`info` untouched) when the signature is not
// NTFS or the geometry is not one NTFS can have: a cluster of no bytes or
// beyond 2 MiB, a file record or index buffer size that is not a power of
// two from 256 bytes to 1 MiB.
int ParseBootSector(std::span<const std::uint8_t> boot, VolumeInfo& info);

}  // namespace tarnwick
