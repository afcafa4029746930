// Every attribute of a file record in turn, with the fields of its header
// decoded: what the listing needs to put a file together from its base
// record and its extension records. The walk stops where the attribute
// list of the record cannot go on, as FindAttribute does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "ntfs/attribute.h"
#include "ntfs/file_name.h"

namespace tarnwick {

// Header fields beyond those the catalogue reads (see ntfs/attribute.h).
namespace attribute {
inline constexpr std::size_t kFlags = 12;            // u16: attribute_flag bits
inline constexpr std::size_t kValueLength = 16;      // u32, resident only
inline constexpr std::size_t kLastVcn = 24;          // u64, non-resident only
inline constexpr std::size_t kAllocatedSize = 40;    // u64: clusters reserved, in bytes
inline constexpr std::size_t kDataSize = 48;         // u64: logical size
inline constexpr std::size_t kInitializedSize = 56;  // u64
inline constexpr std::size_t kTotalAllocated = 64;   // u64, compressed or sparse only: clusters in use
inline constexpr std::size_t kNonResidentMinimum = 64;
inline constexpr std::size_t kCompressedMinimum = 72;

inline constexpr std::uint32_t kStandardInformation = 0x10;
inline constexpr std::uint32_t kAttributeList = 0x20;
inline constexpr std::uint32_t kIndexRoot = 0x90;
inline constexpr std::uint32_t kBitmap = 0xB0;
}  // namespace attribute

namespace attribute_flag {
inline constexpr std::uint16_t kCompressed = 0x0001;
inline constexpr std::uint16_t kEncrypted = 0x4000;
inline constexpr std::uint16_t kSparse = 0x8000;
}  // namespace attribute_flag

struct AttributeView {
    std::uint32_t type = 0;
    std::uint16_t flags = 0;
    bool nonResident = false;
    NameRef name;  // empty for an unnamed attribute
    // Resident: the value.
    std::span<const std::uint8_t> value;
    // Non-resident: this piece's place in the attribute and, in the piece
    // that starts at VCN 0, the sizes of the whole attribute.
    std::uint64_t startingVcn = 0;
    std::uint64_t lastVcn = 0;
    std::uint64_t allocatedSize = 0;
    std::uint64_t dataSize = 0;
    std::uint64_t initializedSize = 0;
    // Clusters actually in use, in bytes; for other attributes the
    // allocated size.
    std::uint64_t totalAllocated = 0;
    std::span<const std::uint8_t> mappingPairs;  // to the end of the attribute
};

class AttributeWalk {
public:
    AttributeWalk(std::span<const std::uint8_t> record, std::size_t firstAttribute)
        : record_(record), position_(firstAttribute) {}

    // The next attribute, or false at the end. An attribute whose name,
    // value or non-resident fields lie outside it ends the walk too: what
    // follows its length cannot be trusted either.
    bool Next(AttributeView& view);

private:
    bool Stop() {
        done_ = true;
        return false;
    }

    std::span<const std::uint8_t> record_;
    std::size_t position_;
    bool done_ = false;
};

}  // namespace tarnwick
