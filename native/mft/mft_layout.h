// Where the master file table lies and which of its records are in use:
// all of its runs in VCN order (on a long-used volume they continue in
// extension records of record 0, reached through its attribute list), its
// sizes and its $BITMAP.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntfs/data_runs.h"
#include "platform/platform.h"
#include "volume/boot_sector.h"

namespace tarnwick {

struct MftLayout {
    RunList runs;  // VCN order, absolute clusters
    std::uint32_t recordSize = 0;
    std::uint32_t clusterSize = 0;
    std::uint64_t dataSize = 0;         // bytes of the table
    std::uint64_t initializedSize = 0;  // bytes written; records beyond hold nothing
    // One bit per record, set when the record is in use. Empty when the
    // table has no readable $BITMAP: every record then counts as in use by
    // its own header alone.
    std::vector<std::uint8_t> bitmap;
    bool hasBitmap = false;

    // Records the table holds.
    std::uint64_t RecordCount() const { return recordSize == 0 ? 0 : dataSize / recordSize; }
    // Records that lie inside the initialized size.
    std::uint64_t InitializedRecords() const { return recordSize == 0 ? 0 : initializedSize / recordSize; }
    bool BitmapSays(std::uint64_t record) const {
        if (!hasBitmap) return true;
        const std::uint64_t byte = record / 8;
        return byte < bitmap.size() && ((bitmap[static_cast<std::size_t>(byte)] >> (record % 8)) & 1) != 0;
    }
    // The bytes the runs cover.
    std::uint64_t RunBytes() const;
};

enum class MftLayoutStatus {
    Ok = 0,
    Position,      // the volume refused the position of record 0
    Read,          // record 0 could not be read
    Parse,         // record 0 is not an in-use file record with an unnamed $DATA from VCN 0
    Extension,     // an extension record that holds part of the table could not be read or does not fit
    Overlap,       // the runs cover some cluster twice: the same records would be read again and again
};

// Reads record 0 at the boot sector's start cluster, then whatever its
// attribute list points to. The bitmap is read too; a bitmap that cannot be
// read leaves hasBitmap false rather than failing (the table itself is
// still good).
MftLayoutStatus ReadMftLayout(platform::RawHandle volume, const VolumeInfo& info, MftLayout& layout);

// lcn * clusterSize as a byte offset, or -1 when negative or beyond 64 bits.
std::int64_t ClusterByteOffset(std::int64_t lcn, std::uint32_t clusterSize);

// clusters * clusterSize in bytes, the largest 64-bit number where it does
// not fit: a run that long is read until the volume refuses.
std::uint64_t ClusterBytes(std::uint64_t clusters, std::uint32_t clusterSize);

}  // namespace tarnwick
