// File records of the master file table: header, update sequence fix-ups,
// and the runs of the one attribute a caller wants from a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "ntfs/data_runs.h"

namespace tarnwick {

namespace file_record {
inline constexpr std::size_t kSignature = 0;             // "FILE"
inline constexpr std::size_t kUsaOffset = 4;             // u16: position of the update sequence array
inline constexpr std::size_t kUsaCount = 6;              // u16: words in it, the sequence number included
inline constexpr std::size_t kSequenceNumber = 16;       // u16: raised each time the record is freed
inline constexpr std::size_t kFirstAttributeOffset = 20; // u16
inline constexpr std::size_t kFlags = 22;                // u16: bit 0 in use, bit 1 directory
inline constexpr std::size_t kBaseRecord = 32;           // u64; 0 for a base record
inline constexpr std::size_t kRecordNumber = 44;         // u32, in headers that have room for it
// Headers written before the record number field existed put the update
// sequence array at 0x2A, over the place where that field now sits.
inline constexpr std::size_t kHeaderWithRecordNumber = 48;
}  // namespace file_record

// The root directory's record: where every path starts.
inline constexpr std::uint32_t kRootRecord = 5;

inline constexpr std::uint16_t kFlagInUse = 0x1;
inline constexpr std::uint16_t kFlagDirectory = 0x2;
// The whole flags word of a file in use and of a directory in use; a
// directory record that is no longer in use has kFlagDirectory alone.
inline constexpr std::uint16_t kFlagsFileInUse = kFlagInUse;
inline constexpr std::uint16_t kFlagsDirectoryInUse = kFlagInUse | kFlagDirectory;

// Update sequence strides are 512 bytes whatever the sector size.
inline constexpr std::size_t kFixupStride = 512;

struct FileRecordHeader {
    std::uint16_t usaOffset = 0;
    std::uint16_t usaCount = 0;
    std::uint16_t firstAttributeOffset = 0;
    std::uint16_t flags = 0;
    std::uint64_t baseRecord = 0;
    std::uint32_t recordNumber = 0;
    // False for the short header of older writers: the record's number is
    // then its position in the master file table.
    bool hasRecordNumber = false;
};

// -1 when the buffer does not start with "FILE".
int ParseFileRecordHeader(std::span<const std::uint8_t> record, FileRecordHeader& header);

// Restores the last two bytes of every 512-byte stride from the update
// sequence array. -1 at the first stride whose bytes do not match the
// sequence number (earlier strides stay restored), and also when the array
// or a stride lies outside the buffer.
int ApplyFixups(std::span<std::uint8_t> bytes, std::uint16_t usaOffset, std::uint16_t usaCount);

enum class ParseMode {
    IndexAllocation = 0,  // a directory's index buffers
    MftData = 1,          // the master file table's own record
};

// Checks and fixes up the record, then decodes the runs of the attribute the
// mode asks for. -1: no "FILE" signature. 1: the record has nothing to offer
// (not a directory, unsuitable flags, no such attribute, or one whose runs
// cannot be had). 0: `runs` holds the runs; for a directory's index these may
// be a later piece of its allocation, held by an extension record.
int ParseEntry(ParseMode mode, std::span<std::uint8_t> record, FileRecordHeader& header, RunList& runs);

// The record number the catalogue files a record under: the base record's for
// an extension record (the low 32 bits of its reference).
inline std::uint32_t OwningRecordNumber(const FileRecordHeader& header) {
    return header.baseRecord != 0 ? static_cast<std::uint32_t>(header.baseRecord) : header.recordNumber;
}

}  // namespace tarnwick
