// Index buffers ("INDX") of a directory's index allocation, and the entries
// in them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnwick {

namespace index_buffer {
inline constexpr std::size_t kSignature = 0;      // "INDX"
inline constexpr std::size_t kUsaOffset = 4;      // u16
inline constexpr std::size_t kUsaCount = 6;       // u16
inline constexpr std::size_t kNodeHeader = 24;    // the node header; its offsets count from here
inline constexpr std::size_t kEntriesOffset = 24; // u32, low 16 bits read as signed
inline constexpr std::size_t kEntriesSize = 28;   // u32, low 16 bits read as signed
inline constexpr std::size_t kAllocatedSize = 32; // u32, low 16 bits read as unsigned
}  // namespace index_buffer

namespace index_entry {
inline constexpr std::size_t kFileReference = 0;  // u64; the low 32 bits are the record number
inline constexpr std::size_t kLength = 8;         // i16: the whole entry
inline constexpr std::size_t kKeyLength = 10;     // i16
inline constexpr std::size_t kKey = 16;           // the file-name structure
}  // namespace index_entry

// Node sizes and entry lengths up to this always pass. Volumes formatted with
// larger index buffers have larger nodes, so the limit grows with the buffer.
inline constexpr std::int32_t kIndexLimit = 4096;

struct IndexBufferHeader {
    std::uint16_t usaOffset = 0;
    std::uint16_t usaCount = 0;
};

struct IndexNodeHeader {
    std::int32_t entriesOffset = 0;
    std::int32_t entriesSize = 0;
    std::int32_t allocatedSize = 0;
};

struct IndexEntryHeader {
    std::uint32_t fileReference = 0;
    std::int16_t length = 0;
    std::int16_t keyLength = 0;
};

// -1 when the buffer does not start with "INDX".
int ParseIndexBufferHeader(std::span<const std::uint8_t> buffer, IndexBufferHeader& header);
// -1 when a size is outside 0 ... limit.
int ParseIndexNodeHeader(std::span<const std::uint8_t> buffer, std::int32_t limit, IndexNodeHeader& header);
// -1 when a length is outside 0 ... limit; 1 when the header lies past the
// buffer, which ends the buffer's walk like its last entry would.
int ParseIndexEntryHeader(std::span<const std::uint8_t> buffer, std::size_t position, std::int32_t limit,
                          IndexEntryHeader& header);

}  // namespace tarnwick
