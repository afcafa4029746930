#include "ntfs/attribute.h"

#include "volume/byte_reader.h"

namespace tarnwick {

int ReadNonResidentHeader(std::span<const std::uint8_t> record, std::size_t position, NonResidentHeader& header) {
    ByteReader r(record);
    header.startingVcn = r.U64(position + attribute::kStartingVcn);
    header.mappingPairsOffset = r.U16(position + attribute::kMappingPairsOffset);
    return r.ok() ? 0 : -1;
}

std::int64_t FindAttribute(std::span<const std::uint8_t> record, std::uint32_t type, std::size_t start,
                           NonResidentHeader& nonResident, AttributeHeader* found) {
    std::size_t position = start;
    AttributeHeader header;
    while (ReadAttributeHeader(record, position, header) == 0) {
        if (header.type == type) {
            if (header.nonResident) ReadNonResidentHeader(record, position, nonResident);
            if (found != nullptr) *found = header;
            return static_cast<std::int64_t>(position);
        }
        position += header.length;
    }
    return -1;
}

bool AttributeNamed(std::span<const std::uint8_t> record, std::size_t position, std::u16string_view name) {
    ByteReader r(record);
    const std::size_t length = r.U8(position + attribute::kNameLength);
    const std::size_t offset = r.U16(position + attribute::kNameOffset);
    if (!r.ok() || length != name.size()) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (r.U16(position + offset + 2 * i) != name[i] || !r.ok()) return false;
    }
    return true;
}

}  // namespace tarnwick
