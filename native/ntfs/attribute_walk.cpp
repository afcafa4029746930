#include "ntfs/attribute_walk.h"

#include "volume/byte_reader.h"

namespace tarnwick {

bool AttributeWalk::Next(AttributeView& view) {
    if (done_) return false;
    AttributeHeader header;
    if (ReadAttributeHeader(record_, position_, header) != 0) return Stop();
    const std::span<const std::uint8_t> bytes = record_.subspan(position_, header.length);
    position_ += header.length;

    // Every header is at least kMinimumLength long, which the resident
    // fields lie within; a non-resident one must hold its own.
    const FixedReader<attribute::kMinimumLength> common(bytes, 0);
    if (!common.ok()) return Stop();
    view = AttributeView{};
    view.type = header.type;
    view.nonResident = header.nonResident;
    view.flags = common.U16<attribute::kFlags>();
    const std::size_t nameUnits = common.U8<attribute::kNameLength>();
    const std::size_t nameOffset = common.U16<attribute::kNameOffset>();
    if (nameUnits > 0) {
        if (!InBounds(bytes.size(), nameOffset, 2 * nameUnits)) return Stop();
        view.name = NameRef{bytes.data() + nameOffset, nameUnits};
    }
    if (!header.nonResident) {
        const std::size_t length = common.U32<attribute::kValueLength>();
        const std::size_t offset = common.U16<attribute::kValueOffset>();
        if (!InBounds(bytes.size(), offset, length)) return Stop();
        view.value = bytes.subspan(offset, length);
        return true;
    }
    const FixedReader<attribute::kNonResidentMinimum> fields(bytes, 0);
    if (!fields.ok()) return Stop();
    view.startingVcn = fields.U64<attribute::kStartingVcn>();
    view.lastVcn = fields.U64<attribute::kLastVcn>();
    const std::size_t pairs = fields.U16<attribute::kMappingPairsOffset>();
    view.allocatedSize = fields.U64<attribute::kAllocatedSize>();
    view.dataSize = fields.U64<attribute::kDataSize>();
    view.initializedSize = fields.U64<attribute::kInitializedSize>();
    view.totalAllocated = view.allocatedSize;
    // Only the first piece carries the total; later pieces' size fields
    // are not meaningful.
    const bool counted = (view.flags & (attribute_flag::kCompressed | attribute_flag::kSparse)) != 0;
    if (counted && view.startingVcn == 0) {
        const FixedReader<attribute::kCompressedMinimum> compressed(bytes, 0);
        if (compressed.ok()) view.totalAllocated = compressed.U64<attribute::kTotalAllocated>();
    }
    if (pairs > bytes.size()) return Stop();
    view.mappingPairs = bytes.subspan(pairs);
    return true;
}

}  // namespace tarnwick
