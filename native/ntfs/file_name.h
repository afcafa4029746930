// The file-name structure: the value of a file-name attribute, and the key of
// every directory index entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnwick {

namespace file_name {
inline constexpr std::size_t kParent = 0;            // u64 reference; the low 32 bits are used
inline constexpr std::size_t kCreationTime = 8;      // i64 NTFS ticks
inline constexpr std::size_t kModificationTime = 16; // i64
inline constexpr std::size_t kMftChangeTime = 24;    // i64
inline constexpr std::size_t kAccessTime = 32;       // i64
inline constexpr std::size_t kAllocatedSize = 40;    // i64 bytes
inline constexpr std::size_t kDataSize = 48;         // i64 bytes
inline constexpr std::size_t kNameLength = 64;       // u8, UTF-16 units
inline constexpr std::size_t kNamespace = 65;        // u8: 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
inline constexpr std::size_t kName = 66;             // UTF-16LE, not terminated
}  // namespace file_name

inline constexpr std::uint8_t kNamespacePosix = 0;
inline constexpr std::uint8_t kNamespaceWin32 = 1;
inline constexpr std::uint8_t kNamespaceDos = 2;
inline constexpr std::uint8_t kNamespaceWin32AndDos = 3;

// A name inside a buffer: UTF-16LE units, not terminated. Empty stands for a
// missing name. It is only valid while the buffer is.
struct NameRef {
    const std::uint8_t* bytes = nullptr;
    std::size_t units = 0;
    bool empty() const { return units == 0; }
};

struct FileNameInfo {
    std::uint32_t parent = 0;
    std::int64_t creationTime = 0;
    std::int64_t modificationTime = 0;
    std::int64_t mftChangeTime = 0;
    std::int64_t accessTime = 0;
    std::int64_t allocatedSize = 0;
    std::int64_t dataSize = 0;
    std::uint8_t nameLength = 0;
    std::uint8_t nameSpace = 0;
};

// A structure whose fixed fields or name do not fit in the buffer gives the
// empty name (and leaves the namespace unset): never a partial name.
NameRef ParseFileName(std::span<const std::uint8_t> bytes, std::size_t position, FileNameInfo& info);

struct FileRecordHeader;

// The record's first file name, in attribute order, that is not a DOS name;
// empty when it has none. A file-name attribute whose name comes out empty is
// passed over: a later attribute may still name the record.
NameRef GetRecordName(std::span<const std::uint8_t> record, const FileRecordHeader& header);

// NTFS names are at most 255 units (their length is one byte); every text
// field of the catalogue holds that many and a terminator.
inline constexpr std::size_t kLongestName = 255;
inline constexpr std::size_t kTextFieldUnits = kLongestName + 1;

// Copies a name into a text field and terminates it; longer names
// (impossible in NTFS) are cut.
void CopyName(std::uint16_t* field, NameRef name);

// Copies a terminated text of a text field up to and including its
// terminator; the units after it in `field` keep what they held.
void CopyText(std::uint16_t* field, const std::uint16_t* text);

}  // namespace tarnwick
