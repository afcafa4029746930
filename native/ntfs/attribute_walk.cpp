#include "ntfs/attribute_walk.h"

#include "volume/byte_reader.h"

namespace tarnwick {

bool AttributeWalk::Next(AttributeView& view) {
    if (done_) return false;
    AttributeHeader header;
    if (ReadAttributeHeader(record_, position_, header) != 0) return Stop();
    const std::span<const std::uint8_t> bytes = record_.subspan(position_, header.length);
    position_ += header.length;

    ByteReader r(bytes);
    view = AttributeView{};
    view.type = header.type;
    view.nonResident = header.nonResident;
    view.flags = r.U16(attribute::kFlags);
    const std::size_t nameUnits = r.U8(attribute::kNameLength);
    const std::size_t nameOffset = r.U16(attribute::kNameOffset);
    if (nameUnits > 0) {
        if (!InBounds(bytes.size(), nameOffset, 2 * nameUnits)) return Stop();
        view.name = NameRef{bytes.data() + nameOffset, nameUnits};
    }
    if (!header.nonResident) {
        const std::size_t length = r.U32(attribute::kValueLength);
        const std::size_t offset = r.U16(attribute::kValueOffset);
        if (!r.ok() || !InBounds(bytes.size(), offset, length)) return Stop();
        view.value = bytes.subspan(offset, length);
        return true;
    }
    if (bytes.size() < attribute::kNonResidentMinimum) return Stop();
    view.startingVcn = r.U64(attribute::kStartingVcn);
    view.lastVcn = r.U64(attribute::kLastVcn);
    const std::size_t pairs = r.U16(attribute::kMappingPairsOffset);
    view.allocatedSize = r.U64(attribute::kAllocatedSize);
    view.dataSize = r.U64(attribute::kDataSize);
    view.initializedSize = r.U64(attribute::kInitializedSize);
    view.totalAllocated = view.allocatedSize;
    // Only the first piece carries the total; later pieces' size fields
    // are not meaningful.
    const bool counted = (view.flags & (attribute_flag::kCompressed | attribute_flag::kSparse)) != 0;
    if (counted && view.startingVcn == 0 && bytes.size() >= attribute::kCompressedMinimum) {
        view.totalAllocated = r.U64(attribute::kTotalAllocated);
    }
    if (!r.ok() || pairs > bytes.size()) return Stop();
    view.mappingPairs = bytes.subspan(pairs);
    return true;
}

}  // namespace tarnwick
