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
