// $STANDARD_INFORMATION: a file's own four times and its attribute bits,
// the ones Windows shows (a directory index keeps only stale copies).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnwick {

namespace standard_information {
inline constexpr std::size_t kCreationTime = 0;       // i64 NTFS ticks
inline constexpr std::size_t kModificationTime = 8;   // i64
inline constexpr std::size_t kMftChangeTime = 16;     // i64
inline constexpr std::size_t kAccessTime = 24;        // i64
inline constexpr std::size_t kFileAttributes = 32;    // u32
// Values written before NTFS 3.0 stop after 48 bytes; both carry the fields
// above, which end at 36.
inline constexpr std::size_t kMinimumLength = 36;
}  // namespace standard_information

// The file attribute bits of the value, as Windows reports them.
namespace file_attribute {
inline constexpr std::uint32_t kReadOnly = 0x0001;
inline constexpr std::uint32_t kHidden = 0x0002;
inline constexpr std::uint32_t kSystem = 0x0004;
inline constexpr std::uint32_t kArchive = 0x0020;
inline constexpr std::uint32_t kSparse = 0x0200;
inline constexpr std::uint32_t kReparsePoint = 0x0400;
inline constexpr std::uint32_t kCompressed = 0x0800;
inline constexpr std::uint32_t kEncrypted = 0x4000;
}  // namespace file_attribute

struct StandardInformation {
    std::int64_t creationTime = 0;
    std::int64_t modificationTime = 0;
    std::int64_t mftChangeTime = 0;
    std::int64_t accessTime = 0;
    std::uint32_t fileAttributes = 0;
};

// -1 (`info` untouched) when the value is too short for the fields.
int ParseStandardInformation(std::span<const std::uint8_t> value, StandardInformation& info);

}  // namespace tarnwick
