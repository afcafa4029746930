#include "ntfs/attribute_list.h"

#include "volume/byte_reader.h"

namespace tarnwick {

bool AttributeListWalk::Next(AttributeListEntry& entry) {
    ByteReader r(value_);
    const std::size_t at = position_;
    const std::size_t length = r.U16(at + attribute_list::kLength);
    if (!r.ok() || length < attribute_list::kMinimumLength || !InBounds(value_.size(), at, length)) {
        position_ = value_.size();
        return false;
    }
    const std::size_t nameUnits = r.U8(at + attribute_list::kNameLength);
    const std::size_t nameOffset = r.U8(at + attribute_list::kNameOffset);
    if (nameUnits > 0 && !InBounds(length, nameOffset, 2 * nameUnits)) {
        position_ = value_.size();
        return false;
    }
    entry.type = r.U32(at + attribute_list::kType);
    entry.name = nameUnits > 0 ? NameRef{value_.data() + at + nameOffset, nameUnits} : NameRef{};
    entry.startingVcn = r.U64(at + attribute_list::kStartingVcn);
    const std::uint64_t reference = r.U64(at + attribute_list::kRecord);
    entry.record = ReferenceRecord(reference);
    entry.sequence = ReferenceSequence(reference);
    entry.attributeId = r.U16(at + attribute_list::kAttributeId);
    position_ = at + length;
    return true;
}

}  // namespace tarnwick
