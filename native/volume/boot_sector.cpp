#include "volume/boot_sector.h"

#include <limits>

#include "volume/byte_reader.h"

namespace tarnwick {

namespace {

// Sizes beyond these are not NTFS geometry (clusters reach 2 MiB, records and
// index buffers 64 KiB); they would only make a damaged boot sector allocate
// and read huge buffers.
constexpr std::int64_t kLargestCluster = std::int64_t{1} << 21;
constexpr std::int64_t kLargestBuffer = std::int64_t{1} << 20;

// Windows writes 0x81..0xFF for clusters of 64 KiB and more on 512-byte
// sectors: v means 2^(256 - v) sectors. Read as a plain count it would give a
// wrong cluster size and a garbage catalogue.
std::int64_t DecodeSectorsPerCluster(std::uint8_t raw) {
    if (raw <= 0x80) return raw;
    const int shift = 256 - raw;
    return shift < 31 ? (std::int64_t{1} << shift) : 0;
}

// A size byte: v > 0 counts clusters, v <= 0 is 2^-v bytes. Returns 0 for a
// size that is not a positive 32-bit number.
std::int64_t DecodeSize(std::int8_t v, std::int64_t clusterSize) {
    if (v > 0) return v * clusterSize;
    const int shift = -static_cast<int>(v);
    return shift < 31 ? (std::int64_t{1} << shift) : 0;
}

bool InRange(std::int64_t value, std::int64_t largest) { return value > 0 && value <= largest; }

// No NTFS volume has file records or index buffers of less than 256 bytes,
// or of a size that is not a power of two. Tiny ones would multiply the
// reads and the bookkeeping of a load by the thousand for the same volume.
constexpr std::int64_t kSmallestBuffer = 256;
bool IsBufferSize(std::int64_t size) {
    return InRange(size, kLargestBuffer) && size >= kSmallestBuffer && (size & (size - 1)) == 0;
}

}  // namespace

std::int64_t VolumeInfo::VolumeBytes() const {
    if (totalSectors <= 0 || bytesPerSector <= 0) return 0;
    const std::int64_t most = std::numeric_limits<std::int64_t>::max() / bytesPerSector;
    return totalSectors > most ? std::numeric_limits<std::int64_t>::max() : totalSectors * bytesPerSector;
}

int ParseBootSector(std::span<const std::uint8_t> boot, VolumeInfo& info) {
    ByteReader r(boot);
    if (!r.Matches(boot_sector::kOemId, "NTFS")) return -1;

    VolumeInfo parsed;
    parsed.bytesPerSector = r.I16(boot_sector::kBytesPerSector);
    const std::int64_t sectors = DecodeSectorsPerCluster(r.U8(boot_sector::kSectorsPerCluster));
    parsed.totalSectors = r.I64(boot_sector::kTotalSectors);
    parsed.mftStartLcn = r.I64(boot_sector::kMftStartLcn);
    const std::int8_t recordByte = r.I8(boot_sector::kFileRecordSize);
    const std::int8_t indexByte = r.I8(boot_sector::kIndexBufferSize);
    if (!r.ok()) return -1;

    const std::int64_t clusterSize = std::int64_t{parsed.bytesPerSector} * sectors;
    const std::int64_t recordSize = DecodeSize(recordByte, clusterSize);
    const std::int64_t indexSize = DecodeSize(indexByte, clusterSize);
    if (!InRange(clusterSize, kLargestCluster) || !IsBufferSize(recordSize) || !IsBufferSize(indexSize)) return -1;

    parsed.sectorsPerCluster = static_cast<std::uint32_t>(sectors);
    parsed.fileRecordSize = static_cast<std::int32_t>(recordSize);
    parsed.indexBufferSize = static_cast<std::int32_t>(indexSize);
    info = parsed;
    return 0;
}

}  // namespace tarnwick
