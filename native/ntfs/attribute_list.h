// The attribute list: where the attributes of a file that outgrew its base
// record went. Each entry names an attribute (type, name, first VCN of the
// piece) and the file record that holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "ntfs/file_name.h"

namespace tarnwick {

namespace attribute_list {
inline constexpr std::size_t kType = 0;         // u32
inline constexpr std::size_t kLength = 4;       // u16: the next entry is this far on
inline constexpr std::size_t kNameLength = 6;   // u8: UTF-16 units
inline constexpr std::size_t kNameOffset = 7;   // u8: from the entry's start
inline constexpr std::size_t kStartingVcn = 8;  // u64
inline constexpr std::size_t kRecord = 16;      // u64 reference: record in the low 48 bits, sequence above
inline constexpr std::size_t kAttributeId = 24; // u16
inline constexpr std::size_t kMinimumLength = 26;
}  // namespace attribute_list

// A file reference: a record number and the sequence number it must carry.
inline constexpr std::uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFF;
inline std::uint64_t ReferenceRecord(std::uint64_t reference) { return reference & kRecordNumberMask; }
inline std::uint16_t ReferenceSequence(std::uint64_t reference) { return static_cast<std::uint16_t>(reference >> 48); }

struct AttributeListEntry {
    std::uint32_t type = 0;
    NameRef name;
    std::uint64_t startingVcn = 0;
    std::uint64_t record = 0;
    std::uint16_t sequence = 0;
    std::uint16_t attributeId = 0;
};

// Walks the value of an attribute list. An entry shorter than its fixed
// fields, running past the value, or whose name lies outside it ends the
// walk: the entries before it are still good.
class AttributeListWalk {
public:
    explicit AttributeListWalk(std::span<const std::uint8_t> value) : value_(value) {}
    bool Next(AttributeListEntry& entry);

private:
    std::span<const std::uint8_t> value_;
    std::size_t position_ = 0;
};

}  // namespace tarnwick
