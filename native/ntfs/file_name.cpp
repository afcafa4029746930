#include "ntfs/file_name.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "ntfs/attribute.h"
#include "ntfs/file_record.h"
#include "volume/byte_reader.h"

namespace tarnwick {

NameRef ParseFileName(std::span<const std::uint8_t> bytes, std::size_t position, FileNameInfo& info) {
    // One check for the fixed fields, which end with the name length and
    // namespace; the fields then go straight into `info`, not through a
    // copy of the whole structure, whose wide load of narrow stores stalls
    // on every index entry.
    const FixedReader<file_name::kName> r(bytes, position);
    if (!r.ok()) return {};
    info.parent = r.U32<file_name::kParent>();
    info.creationTime = r.I64<file_name::kCreationTime>();
    info.modificationTime = r.I64<file_name::kModificationTime>();
    info.mftChangeTime = r.I64<file_name::kMftChangeTime>();
    info.accessTime = r.I64<file_name::kAccessTime>();
    info.allocatedSize = r.I64<file_name::kAllocatedSize>();
    info.dataSize = r.I64<file_name::kDataSize>();
    const std::uint8_t nameLength = r.U8<file_name::kNameLength>();
    info.nameLength = nameLength;

    const std::size_t nameBytes = 2 * std::size_t{nameLength};
    if (nameLength == 0 || !InBounds(bytes.size(), position + file_name::kName, nameBytes)) return {};
    info.nameSpace = r.U8<file_name::kNamespace>();
    return NameRef{bytes.data() + position + file_name::kName, nameLength};
}

NameRef GetRecordName(std::span<const std::uint8_t> record, const FileRecordHeader& header) {
    std::size_t position = header.firstAttributeOffset;
    AttributeHeader attr;
    while (ReadAttributeHeader(record, position, attr) == 0) {
        if (attr.type == attribute::kFileName && !attr.nonResident) {
            ByteReader r(record);
            const std::size_t valueOffset = r.U16(position + attribute::kValueOffset);
            FileNameInfo info;
            const NameRef name = ParseFileName(record, position + valueOffset, info);
            if (r.ok() && !name.empty() && info.nameSpace != kNamespaceDos) return name;
        }
        position += attr.length;
    }
    return {};
}

void CopyName(std::uint16_t* field, NameRef name) {
    static_assert(std::endian::native == std::endian::little, "names are copied as stored, UTF-16LE");
    const std::size_t units = std::min<std::size_t>(name.units, kLongestName);
    if (units > 0) std::memcpy(field, name.bytes, 2 * units);
    field[units] = 0;
}

void CopyText(std::uint16_t* field, const std::uint16_t* text) {
    std::size_t n = 0;
    while (n < kLongestName && text[n] != 0) ++n;
    std::memcpy(field, text, 2 * n);
    field[n] = 0;
}

}  // namespace tarnwick
