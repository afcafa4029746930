#include "ntfs/file_name.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "ntfs/attribute.h"
#include "ntfs/file_record.h"
#include "volume/byte_reader.h"

namespace tarnwick {

NameRef ParseFileName(std::span<const std::uint8_t> bytes, std::size_t position, FileNameInfo& info) {
    ByteReader r(bytes);
    FileNameInfo parsed;
    parsed.parent = r.U32(position + file_name::kParent);
    parsed.creationTime = r.I64(position + file_name::kCreationTime);
    parsed.modificationTime = r.I64(position + file_name::kModificationTime);
    parsed.mftChangeTime = r.I64(position + file_name::kMftChangeTime);
    parsed.accessTime = r.I64(position + file_name::kAccessTime);
    parsed.allocatedSize = r.I64(position + file_name::kAllocatedSize);
    parsed.dataSize = r.I64(position + file_name::kDataSize);
    parsed.nameLength = r.U8(position + file_name::kNameLength);
    if (!r.ok()) return {};
    parsed.nameSpace = info.nameSpace;
    info = parsed;

    const std::size_t nameBytes = 2 * std::size_t{parsed.nameLength};
    if (parsed.nameLength == 0 || !InBounds(bytes.size(), position + file_name::kName, nameBytes)) return {};
    info.nameSpace = r.U8(position + file_name::kNamespace);
    return NameRef{bytes.data() + position + file_name::kName, parsed.nameLength};
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
    const std::size_t units = std::min<std::size_t>(name.units, 255);
    if (units > 0) std::memcpy(field, name.bytes, 2 * units);
    field[units] = 0;
}

void CopyText(std::uint16_t* field, const std::uint16_t* text) {
    std::size_t n = 0;
    while (n < 255 && text[n] != 0) ++n;
    std::memcpy(field, text, 2 * n);
    field[n] = 0;
}

}  // namespace tarnwick
