#include "ntfs/file_record.h"

#include "ntfs/attribute.h"
#include "volume/byte_reader.h"

namespace tarnwick {

int ParseFileRecordHeader(std::span<const std::uint8_t> record, FileRecordHeader& header) {
    ByteReader r(record);
    if (!r.Matches(file_record::kSignature, "FILE")) return -1;
    header.usaOffset = r.U16(file_record::kUsaOffset);
    header.usaCount = r.U16(file_record::kUsaCount);
    header.firstAttributeOffset = r.U16(file_record::kFirstAttributeOffset);
    header.flags = r.U16(file_record::kFlags);
    header.baseRecord = r.U64(file_record::kBaseRecord);
    header.hasRecordNumber = header.usaOffset >= file_record::kHeaderWithRecordNumber;
    header.recordNumber = header.hasRecordNumber ? r.U32(file_record::kRecordNumber) : 0;
    // A buffer too short for the header has no attributes to offer either;
    // the fields it lacks read as 0.
    return 0;
}

int ApplyFixups(std::span<std::uint8_t> bytes, std::uint16_t usaOffset, std::uint16_t usaCount) {
    if (usaCount <= 1) return 0;
    if (!InBounds(bytes.size(), usaOffset, 2 * std::size_t{usaCount})) return -1;
    const std::uint8_t* sequence = bytes.data() + usaOffset;
    for (std::size_t k = 1; k < usaCount; ++k) {
        const std::size_t end = kFixupStride * k;
        if (end > bytes.size()) return -1;
        if (bytes[end - 2] != sequence[0] || bytes[end - 1] != sequence[1]) return -1;
        bytes[end - 2] = sequence[2 * k];
        bytes[end - 1] = sequence[2 * k + 1];
    }
    return 0;
}

namespace {

bool IsDirectoryFlags(std::uint16_t flags) { return flags == kFlagsDirectoryInUse || flags == kFlagDirectory; }

}  // namespace

int ParseEntry(ParseMode mode, std::span<std::uint8_t> record, FileRecordHeader& header, RunList& runs) {
    if (ParseFileRecordHeader(record, header) != 0) return -1;
    // A mismatching stride is not reported for a file record: what was
    // restored before it is still worth reading.
    ApplyFixups(record, header.usaOffset, header.usaCount);

    std::uint32_t type = 0;
    if (mode == ParseMode::IndexAllocation) {
        // An extension record in use may carry a directory's index when the
        // base record ran out of room (large attribute lists, long names):
        // it is read like its directory, or the directory's files vanish.
        const bool extensionInUse = header.baseRecord != 0 && (header.flags & kFlagInUse) != 0;
        if (!IsDirectoryFlags(header.flags) && !extensionInUse) return 1;
        type = attribute::kIndexAllocation;
    }
    if (mode == ParseMode::MftData) {
        if (header.flags == kFlagsDirectoryInUse) {
            type = attribute::kIndexAllocation;
        } else if (header.flags == kFlagsFileInUse) {
            type = attribute::kData;
        } else {
            return 1;
        }
    }

    NonResidentHeader nonResident;
    AttributeHeader found;
    const std::int64_t position = FindAttribute(record, type, header.firstAttributeOffset, nonResident, &found);
    if (position < 0) return 1;
    const auto at = static_cast<std::size_t>(position);
    if (mode == ParseMode::IndexAllocation && !IsDirectoryFlags(header.flags) && !AttributeNamed(record, at, u"$I30")) {
        return 1;
    }
    // A resident attribute has no runs: the record has nothing to offer.
    if (!found.nonResident || ReadNonResidentHeader(record, at, nonResident) != 0) return 1;
    // A large directory's index allocation may be split into pieces held by
    // several records, the later ones starting above VCN 0. Each piece's
    // runs start from cluster 0 again, and a directory's entries do not
    // depend on the order its buffers are read in, so every piece is read
    // where it is found; without it most of such a directory's entries would
    // be missing. The master file table's own runs must start at its
    // beginning.
    if (mode == ParseMode::MftData && nonResident.startingVcn != 0) return 1;

    DecodeRunList(record, at + nonResident.mappingPairsOffset, runs);
    return 0;
}

}  // namespace tarnwick
