// Attribute headers inside a file record, and the walk that finds one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "volume/byte_reader.h"

namespace tarnwick {

namespace attribute {
inline constexpr std::size_t kType = 0;                // u32; 0xFFFFFFFF ends the list
inline constexpr std::size_t kLength = 4;              // u32: the next attribute is this far on
inline constexpr std::size_t kNonResident = 8;         // u8: non-zero means non-resident
inline constexpr std::size_t kNameLength = 9;          // u8: UTF-16 units
inline constexpr std::size_t kNameOffset = 10;         // u16: from the attribute's start
inline constexpr std::size_t kFlags = 12;              // u16: attribute_flag bits
// Resident attributes.
inline constexpr std::size_t kValueLength = 16;        // u32
inline constexpr std::size_t kValueOffset = 20;        // u16
// Non-resident attributes.
inline constexpr std::size_t kStartingVcn = 16;        // u64
inline constexpr std::size_t kLastVcn = 24;            // u64
inline constexpr std::size_t kMappingPairsOffset = 32; // u16
inline constexpr std::size_t kAllocatedSize = 40;      // u64: clusters reserved, in bytes
inline constexpr std::size_t kDataSize = 48;           // u64: logical size
inline constexpr std::size_t kInitializedSize = 56;    // u64
inline constexpr std::size_t kTotalAllocated = 64;     // u64, compressed or sparse only: clusters in use
// The shortest header that holds every field the catalogue reads; a shorter
// length could not move the walk past the fields it was read from.
inline constexpr std::uint32_t kMinimumLength = 24;
// The shortest non-resident header with its sizes, and with the total
// allocated that compressed and sparse attributes add.
inline constexpr std::size_t kNonResidentMinimum = 64;
inline constexpr std::size_t kCompressedMinimum = 72;

inline constexpr std::uint32_t kEndMarker = 0xFFFFFFFF;
inline constexpr std::uint32_t kStandardInformation = 0x10;
inline constexpr std::uint32_t kAttributeList = 0x20;
inline constexpr std::uint32_t kFileName = 0x30;
inline constexpr std::uint32_t kData = 0x80;
inline constexpr std::uint32_t kIndexRoot = 0x90;
inline constexpr std::uint32_t kIndexAllocation = 0xA0;
inline constexpr std::uint32_t kBitmap = 0xB0;
}  // namespace attribute

namespace attribute_flag {
inline constexpr std::uint16_t kCompressed = 0x0001;
inline constexpr std::uint16_t kEncrypted = 0x4000;
inline constexpr std::uint16_t kSparse = 0x8000;
}  // namespace attribute_flag

struct AttributeHeader {
    std::uint32_t type = 0;
    std::uint32_t length = 0;
    bool nonResident = false;
};

struct NonResidentHeader {
    std::uint64_t startingVcn = 0;
    std::uint16_t mappingPairsOffset = 0;
};

// -1 at the end marker, and also where the list cannot go on: a header past
// the buffer, or a length shorter than a header or running past the buffer.
// Ending the walk there treats the record as one without further attributes.
// Inline: every attribute of every record passes through here.
inline int ReadAttributeHeader(std::span<const std::uint8_t> record, std::size_t position, AttributeHeader& header) {
    // No attribute is shorter than its header, so fewer bytes left than
    // that end the list whatever they say.
    const FixedReader<attribute::kMinimumLength> r(record, position);
    if (!r.ok()) return -1;
    header.type = r.U32<attribute::kType>();
    if (header.type == attribute::kEndMarker) return -1;
    header.length = r.U32<attribute::kLength>();
    header.nonResident = r.U8<attribute::kNonResident>() != 0;
    if (header.length < attribute::kMinimumLength || !InBounds(record.size(), position, header.length)) return -1;
    return 0;
}

// -1 when the header lies past the buffer. Which starting VCNs a caller can
// use is its own decision.
int ReadNonResidentHeader(std::span<const std::uint8_t> record, std::size_t position, NonResidentHeader& header);

// Position of the first attribute of `type` from `start`, or -1. For a
// non-resident one `nonResident` is filled.
std::int64_t FindAttribute(std::span<const std::uint8_t> record, std::uint32_t type, std::size_t start,
                           NonResidentHeader& nonResident, AttributeHeader* found = nullptr);

// True when the attribute at `position` carries the name `name`.
bool AttributeNamed(std::span<const std::uint8_t> record, std::size_t position, std::u16string_view name);

}  // namespace tarnwick
