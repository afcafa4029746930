// Partition tables of a whole disk: the MBR (with the chain of extended boot
// records) and the GPT. Decoders only: they take sectors and do no I/O; the
// source layer reads the sectors they ask for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarnwick::cli {

namespace mbr {
inline constexpr std::size_t kEntries = 0x1BE;    // four 16-byte entries
inline constexpr std::size_t kEntrySize = 16;
inline constexpr std::size_t kEntryType = 4;      // u8: 0 unused, 0xEE protective (GPT follows)
inline constexpr std::size_t kEntryFirstLba = 8;  // u32, from the table's own sector for extended ones
inline constexpr std::size_t kEntrySectors = 12;  // u32
inline constexpr std::size_t kSignature = 0x1FE;  // 0x55 0xAA
inline constexpr std::uint8_t kProtective = 0xEE;
}  // namespace mbr

namespace gpt {
inline constexpr std::size_t kSignature = 0;        // "EFI PART"
inline constexpr std::size_t kHeaderSize = 12;      // u32, covered by the header checksum
inline constexpr std::size_t kHeaderCrc = 16;       // u32, computed with this field zero
inline constexpr std::size_t kEntriesLba = 72;      // u64
inline constexpr std::size_t kEntryCount = 80;      // u32
inline constexpr std::size_t kEntrySize = 84;       // u32, a multiple of 128
inline constexpr std::size_t kEntriesCrc = 88;      // u32 over count * size bytes
inline constexpr std::size_t kEntryType = 0;        // 16-byte GUID, all zero when unused
inline constexpr std::size_t kEntryFirstLba = 32;   // u64
inline constexpr std::size_t kEntryLastLba = 40;    // u64, inclusive
inline constexpr std::size_t kEntryName = 56;       // 36 UTF-16 units
// Real tables hold 128 entries; anything far beyond is damage, and the entry
// array is read whole, so its size is bounded here.
inline constexpr std::uint32_t kMaxEntryBytes = 1 << 20;
}  // namespace gpt

// One entry of a table as the decoders see it, in sectors.
struct TableEntry {
    std::uint8_t mbrType = 0;  // MBR only
    std::uint64_t firstLba = 0;
    std::uint64_t sectors = 0;
};

// A partition of the disk as the user numbers it: MBR primaries 1 to 4 by
// their slot, logical partitions from 5 in chain order; GPT entries by their
// index from 1. Offsets in bytes from the start of the disk.
struct Partition {
    int number = 0;
    std::uint64_t start = 0;
    std::uint64_t length = 0;
    std::string type;  // "0x07" or the GPT type GUID, for messages
};

// The four slots of an MBR or extended boot record; nullopt without the
// 0x55AA signature. Unused slots have type 0.
std::optional<std::array<TableEntry, 4>> ParseMbr(std::span<const std::uint8_t> sector);

bool IsExtendedType(std::uint8_t type);

struct GptHeader {
    std::uint64_t entriesLba = 0;
    std::uint32_t entryCount = 0;
    std::uint32_t entrySize = 0;
    std::uint32_t entriesCrc = 0;
    std::uint64_t EntryBytes() const { return std::uint64_t{entryCount} * entrySize; }
};

// The header at LBA 1: nullopt when the signature is not there; a message
// when it is but the header is damaged (bad checksum, sizes out of reason).
struct GptHeaderResult {
    std::optional<GptHeader> header;
    std::optional<std::string> problem;
};
GptHeaderResult ParseGptHeader(std::span<const std::uint8_t> sector);

// The used entries of the array read from entriesLba; a message when the
// array's checksum does not match the header's.
std::optional<std::string> ParseGptEntries(std::span<const std::uint8_t> entries, const GptHeader& header,
                                           std::uint32_t sectorSize, std::vector<Partition>& partitions);

std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

}  // namespace tarnwick::cli
