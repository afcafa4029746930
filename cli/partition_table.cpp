#include "partition_table.h"

#include <cstdint>
#include <cstdio>

#include "volume/byte_reader.h"

namespace tarnwick::cli {

namespace {

// The first three fields of a GUID are stored little-endian, the rest as
// they are written.
std::string GuidText(ByteReader& r, std::size_t at) {
    char text[37];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", r.U32(at), r.U16(at + 4),
                  r.U16(at + 6), r.U8(at + 8), r.U8(at + 9), r.U8(at + 10), r.U8(at + 11), r.U8(at + 12),
                  r.U8(at + 13), r.U8(at + 14), r.U8(at + 15));
    return text;
}

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

bool IsExtendedType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

std::optional<std::array<TableEntry, 4>> ParseMbr(std::span<const std::uint8_t> sector) {
    ByteReader r(sector);
    if (r.U8(mbr::kSignature) != 0x55 || r.U8(mbr::kSignature + 1) != 0xAA || !r.ok()) return std::nullopt;
    std::array<TableEntry, 4> entries{};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = mbr::kEntries + i * mbr::kEntrySize;
        entries[i].mbrType = r.U8(at + mbr::kEntryType);
        entries[i].firstLba = r.U32(at + mbr::kEntryFirstLba);
        entries[i].sectors = r.U32(at + mbr::kEntrySectors);
    }
    return entries;
}

GptHeaderResult ParseGptHeader(std::span<const std::uint8_t> sector) {
    ByteReader r(sector);
    if (!r.Matches(gpt::kSignature, "EFI PART")) return {};
    const std::uint32_t headerSize = r.U32(gpt::kHeaderSize);
    const std::uint32_t storedCrc = r.U32(gpt::kHeaderCrc);
    GptHeader header;
    header.entriesLba = r.U64(gpt::kEntriesLba);
    header.entryCount = r.U32(gpt::kEntryCount);
    header.entrySize = r.U32(gpt::kEntrySize);
    header.entriesCrc = r.U32(gpt::kEntriesCrc);
    if (!r.ok() || headerSize < gpt::kEntriesCrc + 4 || headerSize > sector.size()) {
        return {std::nullopt, "GPT header damaged: its size is out of range"};
    }
    std::vector<std::uint8_t> copy(sector.begin(), sector.begin() + headerSize);
    for (std::size_t i = 0; i < 4; ++i) copy[gpt::kHeaderCrc + i] = 0;
    if (Crc32(copy) != storedCrc) return {std::nullopt, "GPT header damaged: checksum mismatch"};
    if (header.entrySize < 128 || header.entrySize % 128 != 0 || header.EntryBytes() > gpt::kMaxEntryBytes) {
        return {std::nullopt, "GPT header damaged: partition entries of an impossible size"};
    }
    return {header, std::nullopt};
}

std::optional<std::string> ParseGptEntries(std::span<const std::uint8_t> entries, const GptHeader& header,
                                           std::uint32_t sectorSize, std::vector<Partition>& partitions) {
    if (entries.size() < header.EntryBytes()) return std::string("GPT partition entries cut short");
    if (Crc32(entries.first(header.EntryBytes())) != header.entriesCrc) {
        return std::string("GPT partition entries damaged: checksum mismatch");
    }
    ByteReader r(entries);
    for (std::uint32_t i = 0; i < header.entryCount; ++i) {
        const std::size_t at = std::size_t{i} * header.entrySize;
        if (r.U64(at + gpt::kEntryType) == 0 && r.U64(at + gpt::kEntryType + 8) == 0) continue;
        const std::uint64_t first = r.U64(at + gpt::kEntryFirstLba);
        const std::uint64_t last = r.U64(at + gpt::kEntryLastLba);
        Partition partition;
        partition.number = static_cast<int>(i) + 1;
        partition.type = GuidText(r, at + gpt::kEntryType);
        if (last < first || first > UINT64_MAX / sectorSize || last - first >= UINT64_MAX / sectorSize) {
            return "GPT partition " + std::to_string(partition.number) + " has an impossible extent";
        }
        partition.start = first * sectorSize;
        partition.length = (last - first + 1) * sectorSize;
        partitions.push_back(std::move(partition));
    }
    if (!r.ok()) return std::string("GPT partition entries cut short");
    return std::nullopt;
}

}  // namespace tarnwick::cli
