// A volume whose master file table continues in an extension record of
// record 0, as on a long-used Windows volume: record 0 keeps the first
// clusters of the table and gains an attribute list; one of the records
// NTFS reserves for this (16 to 23) holds the rest of the runs, split in two.
// Made from a real volume at test time, so everything else on it stays as
// its writer left it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "ntfs/attribute.h"
#include "ntfs/attribute_walk.h"
#include "ntfs/data_runs.h"
#include "ntfs/file_record.h"
#include "ntfs_builders.h"
#include "volume/boot_sector.h"
#include "volume/byte_reader.h"

namespace tarnwick::testing {

struct FragmentedMft {
    std::uint64_t extensionRecord = 0;
    std::uint64_t clustersInRecord0 = 0;  // VCNs [0, this) stay mapped by record 0
};

namespace fragment_detail {

inline std::size_t Align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

inline void AppendLittle(std::vector<std::uint8_t>& out, std::uint64_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Mapping pairs for `runs` (absolute clusters), with the closing zero.
inline std::vector<std::uint8_t> EncodeRuns(const RunList& runs) {
    std::vector<std::uint8_t> out;
    std::int64_t previous = 0;
    for (const RunEntry& run : runs) {
        std::size_t lengthBytes = 1;
        while (lengthBytes < 8 && (run.length >> (8 * lengthBytes)) != 0) ++lengthBytes;
        const std::int64_t delta = run.lcn - previous;
        std::size_t offsetBytes = 1;
        while (offsetBytes < 8) {
            const std::int64_t low = -(std::int64_t{1} << (8 * offsetBytes - 1));
            if (delta >= low && delta < -low) break;
            ++offsetBytes;
        }
        out.push_back(static_cast<std::uint8_t>(offsetBytes << 4 | lengthBytes));
        AppendLittle(out, run.length, lengthBytes);
        AppendLittle(out, static_cast<std::uint64_t>(delta), offsetBytes);
        previous = run.lcn;
    }
    out.push_back(0);
    return out;
}

// The first `clusters` clusters of `runs`, or what follows them.
inline RunList SplitRuns(const RunList& runs, std::uint64_t clusters, bool head) {
    RunList out;
    std::uint64_t seen = 0;
    for (const RunEntry& run : runs) {
        const std::uint64_t begin = seen, end = seen + run.length;
        seen = end;
        const std::uint64_t from = head ? begin : std::max(begin, clusters);
        const std::uint64_t to = head ? std::min(end, clusters) : end;
        if (from >= to) continue;
        out.push_back({0, to - from, run.lcn + static_cast<std::int64_t>(from - begin)});
    }
    return out;
}

// Byte offset in the volume of byte `offset` of an attribute with `runs`.
inline std::optional<std::uint64_t> VolumeOffset(const RunList& runs, std::uint64_t clusterSize, std::uint64_t offset) {
    std::uint64_t seen = 0;
    for (const RunEntry& run : runs) {
        const std::uint64_t bytes = run.length * clusterSize;
        if (offset < seen + bytes) return static_cast<std::uint64_t>(run.lcn) * clusterSize + (offset - seen);
        seen += bytes;
    }
    return std::nullopt;
}

// A non-resident attribute piece: `header` gives the 64 header bytes (flags,
// id, sizes), the rest is set here.
inline std::vector<std::uint8_t> Piece(const std::uint8_t* header, std::uint64_t firstVcn, std::uint64_t lastVcn,
                                       const RunList& runs, bool keepSizes) {
    const std::vector<std::uint8_t> pairs = EncodeRuns(runs);
    // Room for the runs up front: GCC 12's -Warray-bounds misreads growing a
    // vector built from exactly 64 bytes in Release builds.
    std::vector<std::uint8_t> out;
    out.reserve(Align8(64 + pairs.size()));
    out.assign(header, header + 64);
    out[attribute::kNameLength] = 0;
    Put16(out, attribute::kNameOffset, 64);
    Put64(out, attribute::kStartingVcn, firstVcn);
    Put64(out, attribute::kLastVcn, lastVcn);
    Put16(out, attribute::kMappingPairsOffset, 64);
    if (!keepSizes) {
        for (std::size_t at : {attribute::kAllocatedSize, attribute::kDataSize, attribute::kInitializedSize}) Put64(out, at, 0);
    }
    out.insert(out.end(), pairs.begin(), pairs.end());
    out.resize(Align8(out.size()), 0);
    Put32(out, attribute::kLength, static_cast<std::uint32_t>(out.size()));
    return out;
}

// Writes `attributes` after the header of `record` (fixed up, header kept),
// closes the list and applies the update sequence. False when they do not fit.
inline bool Seal(std::vector<std::uint8_t>& record, const std::vector<std::vector<std::uint8_t>>& attributes) {
    ByteReader r(record);
    const std::size_t first = r.U16(file_record::kFirstAttributeOffset);
    const std::uint16_t usaOffset = r.U16(file_record::kUsaOffset);
    const std::uint16_t usaCount = r.U16(file_record::kUsaCount);
    std::size_t at = first;
    for (const auto& attribute : attributes) {
        if (at + attribute.size() + 8 > record.size()) return false;
        std::memcpy(record.data() + at, attribute.data(), attribute.size());
        at += attribute.size();
    }
    Put32(record, at, attribute::kEndMarker);
    Put32(record, at + 4, 0);
    Put32(record, 24, static_cast<std::uint32_t>(at + 8));  // bytes in use
    const std::uint16_t sequence = static_cast<std::uint16_t>(r.U16(usaOffset) + 1);
    Put16(record, usaOffset, sequence);
    for (std::size_t k = 1; k < usaCount; ++k) {
        record[usaOffset + 2 * k] = record[512 * k - 2];
        record[usaOffset + 2 * k + 1] = record[512 * k - 1];
        Put16(record, 512 * k - 2, sequence);
    }
    return true;
}

}  // namespace fragment_detail

// Rewrites `image` in place; nullopt (image unchanged) when the volume's
// table is too small to split or has no free reserved record.
inline std::optional<FragmentedMft> FragmentMft(std::vector<std::uint8_t>& image) {
    using namespace fragment_detail;
    VolumeInfo info;
    if (image.size() < boot_sector::kSize || ParseBootSector(std::span<const std::uint8_t>(image).first(boot_sector::kSize), info) != 0) {
        return std::nullopt;
    }
    const std::uint64_t clusterSize = info.ClusterSize();
    const auto recordSize = static_cast<std::size_t>(info.fileRecordSize);
    const std::uint64_t record0At = static_cast<std::uint64_t>(info.mftStartLcn) * clusterSize;
    auto fixedUp = [&](std::uint64_t at) {
        std::vector<std::uint8_t> record(image.begin() + static_cast<std::ptrdiff_t>(at),
                                         image.begin() + static_cast<std::ptrdiff_t>(at + recordSize));
        FileRecordHeader header;
        if (ParseFileRecordHeader(record, header) == 0) ApplyFixups(record, header.usaOffset, header.usaCount);
        return record;
    };
    std::vector<std::uint8_t> record0 = fixedUp(record0At);
    FileRecordHeader header0;
    if (ParseFileRecordHeader(record0, header0) != 0) return std::nullopt;

    // Record 0's attributes as they lie, the unnamed $DATA and $BITMAP found.
    std::vector<std::vector<std::uint8_t>> attributes;
    std::size_t dataIndex = 0, position = header0.firstAttributeOffset;
    RunList runs, bitmapRuns;
    std::vector<std::uint8_t> dataHeader;
    AttributeHeader attr;
    while (ReadAttributeHeader(record0, position, attr) == 0) {
        const std::uint8_t* bytes = record0.data() + position;
        AttributeWalk walk(std::span<const std::uint8_t>(record0).subspan(position, attr.length), 0);
        AttributeView view;
        if (walk.Next(view) && view.name.empty() && view.nonResident) {
            if (view.type == attribute::kData) {
                dataIndex = attributes.size();
                DecodeRunList(view.mappingPairs, 0, runs);
                dataHeader.assign(bytes, bytes + 64);
            } else if (view.type == attribute::kBitmap) {
                DecodeRunList(view.mappingPairs, 0, bitmapRuns);
            }
        }
        attributes.emplace_back(bytes, bytes + attr.length);
        position += attr.length;
    }
    if (runs.empty() || bitmapRuns.empty()) return std::nullopt;
    std::uint64_t clusters = 0;
    for (const RunEntry& run : runs) clusters += run.length;

    FragmentedMft made;
    made.clustersInRecord0 = (24 * recordSize + clusterSize - 1) / clusterSize;
    if (clusters < made.clustersInRecord0 + 2) return std::nullopt;
    for (std::uint64_t candidate = 16; candidate < 24 && made.extensionRecord == 0; ++candidate) {
        const auto at = VolumeOffset(runs, clusterSize, candidate * recordSize);
        if (!at) return std::nullopt;
        const std::vector<std::uint8_t> record = fixedUp(*at);
        FileRecordHeader header;
        const bool used = ParseFileRecordHeader(record, header) == 0 && (header.flags & kFlagInUse) != 0;
        if (!used) made.extensionRecord = candidate;
    }
    if (made.extensionRecord == 0) return std::nullopt;
    const std::uint64_t x = made.extensionRecord;
    const std::uint64_t kept = made.clustersInRecord0;

    // The rest of the runs, its first run cut in two so the table has one
    // more fragment than the volume gave it.
    RunList rest = SplitRuns(runs, kept, false);
    const RunEntry whole = rest.front();
    if (whole.length >= 2) {
        rest.front().length = whole.length / 2;
        rest.insert(rest.begin() + 1, {0, whole.length - whole.length / 2, whole.lcn + static_cast<std::int64_t>(whole.length / 2)});
    }
    attributes[dataIndex] = Piece(dataHeader.data(), 0, kept - 1, SplitRuns(runs, kept, true), true);
    std::vector<std::uint8_t> extensionPiece = Piece(dataHeader.data(), kept, clusters - 1, rest, false);

    const std::uint16_t sequence0 = ByteReader(record0).U16(file_record::kSequenceNumber);
    std::vector<std::uint8_t> list;
    auto listEntry = [&list](const std::vector<std::uint8_t>& attribute, std::uint64_t record, std::uint16_t sequence,
                             std::uint64_t vcn) {
        const std::size_t nameUnits = attribute[attribute::kNameLength];
        const std::size_t nameAt = ByteReader(attribute).U16(attribute::kNameOffset);
        std::vector<std::uint8_t> entry(Align8(26 + 2 * nameUnits), 0);
        Put32(entry, 0, ByteReader(attribute).U32(attribute::kType));
        Put16(entry, 4, static_cast<std::uint16_t>(entry.size()));
        entry[6] = static_cast<std::uint8_t>(nameUnits);
        entry[7] = 26;
        Put64(entry, 8, vcn);
        Put64(entry, 16, record | std::uint64_t{sequence} << 48);
        Put16(entry, 24, ByteReader(attribute).U16(14));
        if (nameUnits > 0) std::memcpy(entry.data() + 26, attribute.data() + nameAt, 2 * nameUnits);
        list.insert(list.end(), entry.begin(), entry.end());
    };
    std::size_t insertAt = 0;
    while (insertAt < attributes.size() && ByteReader(attributes[insertAt]).U32(0) < attribute::kAttributeList) ++insertAt;
    for (std::size_t i = 0; i < attributes.size(); ++i) {
        listEntry(attributes[i], 0, sequence0, 0);
        if (i == dataIndex) listEntry(extensionPiece, x, static_cast<std::uint16_t>(x), kept);
    }
    std::vector<std::uint8_t> listAttribute(24, 0);
    Put32(listAttribute, attribute::kType, attribute::kAttributeList);
    Put32(listAttribute, attribute::kValueLength, static_cast<std::uint32_t>(list.size()));
    Put16(listAttribute, attribute::kValueOffset, 24);
    Put16(listAttribute, 14, 0x7F);  // an attribute id record 0 does not use
    listAttribute.insert(listAttribute.end(), list.begin(), list.end());
    listAttribute.resize(Align8(listAttribute.size()), 0);
    Put32(listAttribute, attribute::kLength, static_cast<std::uint32_t>(listAttribute.size()));
    attributes.insert(attributes.begin() + static_cast<std::ptrdiff_t>(insertAt), listAttribute);
    if (!Seal(record0, attributes)) return std::nullopt;

    // The extension record: record 0's header shape, flagged in use, owned
    // by record 0, holding only the second piece.
    std::vector<std::uint8_t> extension(recordSize, 0);
    std::memcpy(extension.data(), record0.data(), header0.firstAttributeOffset);
    Put16(extension, file_record::kSequenceNumber, static_cast<std::uint16_t>(x));
    Put16(extension, 18, 0);  // links
    Put16(extension, file_record::kFlags, kFlagInUse);
    Put64(extension, file_record::kBaseRecord, std::uint64_t{sequence0} << 48);
    if (header0.hasRecordNumber) Put32(extension, file_record::kRecordNumber, static_cast<std::uint32_t>(x));
    if (!Seal(extension, {extensionPiece})) return std::nullopt;

    std::memcpy(image.data() + record0At, record0.data(), recordSize);
    std::memcpy(image.data() + *VolumeOffset(runs, clusterSize, x * recordSize), extension.data(), recordSize);
    const auto bitmapByte = VolumeOffset(bitmapRuns, clusterSize, x / 8);
    if (!bitmapByte) return std::nullopt;
    image[*bitmapByte] |= static_cast<std::uint8_t>(1u << (x % 8));
    return made;
}

}  // namespace tarnwick::testing
