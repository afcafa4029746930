#include "ntfs/index_buffer.h"

#include "volume/byte_reader.h"

namespace tarnwick {

int ParseIndexBufferHeader(std::span<const std::uint8_t> buffer, IndexBufferHeader& header) {
    ByteReader r(buffer);
    if (!r.Matches(index_buffer::kSignature, "INDX")) return -1;
    header.usaOffset = r.U16(index_buffer::kUsaOffset);
    header.usaCount = r.U16(index_buffer::kUsaCount);
    return r.ok() ? 0 : -1;
}

int ParseIndexNodeHeader(std::span<const std::uint8_t> buffer, std::int32_t limit, IndexNodeHeader& header) {
    ByteReader r(buffer);
    const std::int16_t entriesOffset = r.I16(index_buffer::kEntriesOffset);
    header.entriesOffset = entriesOffset < 0 ? 0 : entriesOffset;
    header.entriesSize = r.I16(index_buffer::kEntriesSize);
    header.allocatedSize = r.U16(index_buffer::kAllocatedSize);
    if (!r.ok() || header.entriesSize < 0 || header.entriesSize > limit || header.allocatedSize > limit) return -1;
    return 0;
}

int ParseIndexEntryHeader(std::span<const std::uint8_t> buffer, std::size_t position, std::int32_t limit,
                          IndexEntryHeader& header) {
    ByteReader r(buffer);
    header.fileReference = r.U32(position + index_entry::kFileReference);
    header.length = r.I16(position + index_entry::kLength);
    header.keyLength = r.I16(position + index_entry::kKeyLength);
    if (!r.ok()) return 1;
    if (header.length < 0 || header.length > limit || header.keyLength < 0 || header.keyLength > limit) {
        return -1;
    }
    return 0;
}

}  // namespace tarnwick
