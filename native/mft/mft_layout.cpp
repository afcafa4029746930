#include "mft/mft_layout.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "ntfs/attribute_list.h"
#include "ntfs/attribute_walk.h"
#include "ntfs/file_record.h"

namespace tarnwick {

namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::uint64_t kUint64Max = std::numeric_limits<std::uint64_t>::max();

// An attribute list of the table's own record names a handful of extension
// records; one far beyond this is damage, not a table.
constexpr std::uint64_t kMaxAttributeListBytes = 1 << 20;

// A piece of an attribute held by one record: its first VCN and its runs.
struct Piece {
    std::uint64_t startingVcn = 0;
    RunList runs;
};

// Where the table's $BITMAP was found: a resident value, or runs and a size.
struct BitmapSource {
    bool found = false;
    std::vector<std::uint8_t> value;
    RunList runs;
    std::uint64_t dataSize = 0;
};

std::uint64_t ClusterCount(const RunList& runs) {
    std::uint64_t total = 0;
    for (const RunEntry& run : runs) total = run.length > kUint64Max - total ? kUint64Max : total + run.length;
    return total;
}

// Reads `length` bytes that start `offset` bytes into the attribute whose
// runs are `runs`, across as many runs as they span. False when a run lies
// outside 64 bits, the bytes go past the runs, or a read fails. Reads are
// of whole clusters: a Windows volume handle refuses reads that do not
// start and end on a sector, and an attribute list or a bitmap has a
// length of its own.
bool ReadThroughRuns(platform::RawHandle volume, const RunList& runs, std::uint32_t clusterSize, std::uint64_t offset,
                     std::uint8_t* out, std::size_t length) {
    std::vector<std::uint8_t> whole;
    std::uint64_t runStart = 0;  // bytes into the attribute where the run starts
    for (const RunEntry& run : runs) {
        if (length == 0) return true;
        if (run.length > kUint64Max / clusterSize) return false;
        const std::uint64_t runBytes = run.length * clusterSize;
        if (offset < runStart || offset - runStart >= runBytes) {
            if (runBytes > kUint64Max - runStart) return false;
            runStart += runBytes;
            continue;
        }
        const std::uint64_t into = offset - runStart;
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(runBytes - into, length));
        const std::int64_t base = ClusterByteOffset(run.lcn, clusterSize);
        if (base < 0 || into > static_cast<std::uint64_t>(kInt64Max - base)) return false;
        const std::uint64_t first = into - into % clusterSize;
        const std::uint64_t end = into + take;
        const std::uint64_t last = end + (clusterSize - end % clusterSize) % clusterSize;  // within the run
        const auto span = static_cast<std::size_t>(last - first);
        std::uint8_t* target = out;
        if (first != into || span != take) {
            whole.resize(span);
            target = whole.data();
        }
        if (!platform::SetPosition(volume, base + static_cast<std::int64_t>(first), span)) return false;
        if (!platform::ReadExact(volume, target, static_cast<std::uint32_t>(span))) return false;
        if (target != out) std::memcpy(out, target + (into - first), take);
        out += take;
        length -= take;
        offset += take;
        runStart += runBytes;
    }
    return length == 0;
}

bool IsUnnamed(const AttributeView& view) { return view.name.empty(); }

// Takes what a record of the table contributes: pieces of the unnamed
// $DATA, the unnamed $BITMAP, and (record 0 only) the attribute list.
void CollectParts(std::span<const std::uint8_t> record, std::size_t firstAttribute, std::vector<Piece>& pieces,
                  MftLayout& layout, BitmapSource& bitmap, AttributeView* attributeList) {
    AttributeWalk walk(record, firstAttribute);
    AttributeView view;
    while (walk.Next(view)) {
        if (!IsUnnamed(view)) continue;
        if (view.type == attribute::kData && view.nonResident) {
            Piece piece{view.startingVcn, {}};
            DecodeRunList(view.mappingPairs, 0, piece.runs);
            if (view.startingVcn == 0) {
                layout.dataSize = view.dataSize;
                layout.initializedSize = view.initializedSize;
            }
            pieces.push_back(std::move(piece));
        } else if (view.type == attribute::kBitmap && !bitmap.found) {
            bitmap.found = true;
            if (view.nonResident) {
                DecodeRunList(view.mappingPairs, 0, bitmap.runs);
                bitmap.dataSize = view.dataSize;
            } else {
                bitmap.value.assign(view.value.begin(), view.value.end());
            }
        } else if (view.type == attribute::kAttributeList && attributeList != nullptr) {
            *attributeList = view;
        }
    }
}

bool RunsOverlap(const RunList& runs) {
    std::vector<std::pair<std::int64_t, std::int64_t>> extents;  // [first, end) in clusters
    for (const RunEntry& run : runs) {
        if (run.length == 0) continue;
        const auto room = static_cast<std::uint64_t>(kInt64Max - std::max<std::int64_t>(run.lcn, 0));
        extents.emplace_back(run.lcn, run.lcn + static_cast<std::int64_t>(std::min(run.length, room)));
    }
    std::sort(extents.begin(), extents.end());
    for (std::size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].first < extents[i - 1].second) return true;
    }
    return false;
}

// The pieces put end to end in VCN order; false when they leave a gap or
// overlap in VCNs (the part of the table in between would be misplaced).
bool JoinPieces(std::vector<Piece>& pieces, RunList& runs) {
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.startingVcn < b.startingVcn; });
    runs.clear();
    std::uint64_t vcn = 0;
    for (const Piece& piece : pieces) {
        if (piece.startingVcn != vcn) return false;
        const std::uint64_t clusters = ClusterCount(piece.runs);
        if (clusters > kUint64Max - vcn) return false;
        vcn += clusters;
        runs.insert(runs.end(), piece.runs.begin(), piece.runs.end());
    }
    return true;
}

// The runs known so far, as far as they reach from VCN 0 without a gap.
RunList ContiguousRuns(std::vector<Piece> pieces) {
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.startingVcn < b.startingVcn; });
    RunList runs;
    std::uint64_t vcn = 0;
    for (const Piece& piece : pieces) {
        if (piece.startingVcn != vcn) break;
        vcn += ClusterCount(piece.runs);
        runs.insert(runs.end(), piece.runs.begin(), piece.runs.end());
    }
    return runs;
}

// Reads an extension record of the table through the runs known so far and
// checks that it belongs to record 0. False when it cannot be had yet.
bool ReadExtension(platform::RawHandle volume, const std::vector<Piece>& pieces, const MftLayout& layout,
                   std::uint64_t record, std::vector<std::uint8_t>& bytes, FileRecordHeader& header) {
    if (record > kUint64Max / layout.recordSize) return false;
    bytes.assign(layout.recordSize, 0);
    if (!ReadThroughRuns(volume, ContiguousRuns(pieces), layout.clusterSize, record * layout.recordSize, bytes.data(),
                         bytes.size())) {
        return false;
    }
    if (ParseFileRecordHeader(bytes, header) != 0) return false;
    if (ApplyFixups(bytes, header.usaOffset, header.usaCount) != 0) return false;
    return (header.flags & kFlagInUse) != 0 && header.baseRecord != 0 && ReferenceRecord(header.baseRecord) == 0;
}

bool ReadBitmap(platform::RawHandle volume, BitmapSource& source, MftLayout& layout) {
    // More bytes than the table has records would only cost memory.
    const std::uint64_t wanted = layout.RecordCount() / 8 + 1;
    if (!source.found) return false;
    if (source.runs.empty() && source.dataSize == 0) {
        layout.bitmap = std::move(source.value);
        if (layout.bitmap.size() > wanted) layout.bitmap.resize(static_cast<std::size_t>(wanted));
        return true;
    }
    // Grown as the bytes arrive: sizes and runs of a damaged table may claim
    // far more than the volume holds, and the memory must follow what is
    // really there.
    const std::uint64_t bytes = std::min(source.dataSize, wanted);
    constexpr std::uint64_t kStep = 1 << 20;
    layout.bitmap.clear();
    for (std::uint64_t done = 0; done < bytes;) {
        const auto step = static_cast<std::size_t>(std::min(kStep, bytes - done));
        layout.bitmap.resize(static_cast<std::size_t>(done) + step);
        if (!ReadThroughRuns(volume, source.runs, layout.clusterSize, done, layout.bitmap.data() + done, step)) return false;
        done += step;
    }
    return true;
}

}  // namespace

std::int64_t ClusterByteOffset(std::int64_t lcn, std::uint32_t clusterSize) {
    if (lcn < 0 || clusterSize == 0 || lcn > kInt64Max / clusterSize) return -1;
    return lcn * clusterSize;
}

std::uint64_t ClusterBytes(std::uint64_t clusters, std::uint32_t clusterSize) {
    if (clusterSize != 0 && clusters > kUint64Max / clusterSize) return kUint64Max;
    return clusters * clusterSize;
}

std::uint64_t MftLayout::RunBytes() const {
    return clusterSize == 0 ? kUint64Max : ClusterBytes(ClusterCount(runs), clusterSize);
}

MftLayoutStatus ReadMftLayout(platform::RawHandle volume, const VolumeInfo& info, MftLayout& layout) {
    layout = MftLayout{};
    layout.recordSize = static_cast<std::uint32_t>(info.fileRecordSize);
    layout.clusterSize = info.ClusterSize();

    std::vector<std::uint8_t> record(layout.recordSize, 0);
    const std::int64_t offset = ClusterByteOffset(info.mftStartLcn, layout.clusterSize);
    if (offset < 0 || !platform::SetPosition(volume, offset)) return MftLayoutStatus::Position;
    if (!platform::ReadExact(volume, record.data(), layout.recordSize)) return MftLayoutStatus::Read;
    FileRecordHeader header;
    if (ParseFileRecordHeader(record, header) != 0) return MftLayoutStatus::Parse;
    // A mismatching stride is not fatal here, as for every record the load
    // reads: what was restored before it is still worth reading.
    ApplyFixups(record, header.usaOffset, header.usaCount);
    if ((header.flags & kFlagInUse) == 0) return MftLayoutStatus::Parse;

    std::vector<Piece> pieces;
    BitmapSource bitmap;
    AttributeView list;
    CollectParts(record, header.firstAttributeOffset, pieces, layout, bitmap, &list);
    // Without the first piece in record 0 no extension record can be found.
    const bool first = std::any_of(pieces.begin(), pieces.end(), [](const Piece& p) { return p.startingVcn == 0; });
    if (!first) return MftLayoutStatus::Parse;

    if (list.type == attribute::kAttributeList) {
        std::vector<std::uint8_t> listBytes;
        if (list.nonResident) {
            if (list.dataSize > kMaxAttributeListBytes) return MftLayoutStatus::Extension;
            RunList listRuns;
            DecodeRunList(list.mappingPairs, 0, listRuns);
            listBytes.assign(static_cast<std::size_t>(list.dataSize), 0);
            if (!ReadThroughRuns(volume, listRuns, layout.clusterSize, 0, listBytes.data(), listBytes.size())) {
                return MftLayoutStatus::Extension;
            }
        } else {
            listBytes.assign(list.value.begin(), list.value.end());
        }
        // The records other than record 0 that hold a part of the table.
        std::vector<std::uint64_t> pending;
        AttributeListWalk walk(listBytes);
        AttributeListEntry entry;
        while (walk.Next(entry)) {
            const bool wanted = (entry.type == attribute::kData || entry.type == attribute::kBitmap) && entry.name.empty();
            if (wanted && entry.record != 0 && std::find(pending.begin(), pending.end(), entry.record) == pending.end()) {
                pending.push_back(entry.record);
            }
        }
        // An extension record may lie in clusters that only another
        // extension record maps: read those the runs known so far reach,
        // until none is left or none more can be reached.
        std::vector<std::uint8_t> bytes;
        while (!pending.empty()) {
            bool progress = false;
            for (auto it = pending.begin(); it != pending.end();) {
                FileRecordHeader extension;
                if (ReadExtension(volume, pieces, layout, *it, bytes, extension)) {
                    CollectParts(bytes, extension.firstAttributeOffset, pieces, layout, bitmap, nullptr);
                    it = pending.erase(it);
                    progress = true;
                } else {
                    ++it;
                }
            }
            if (!progress) return MftLayoutStatus::Extension;
        }
    }

    if (pieces.empty() || !JoinPieces(pieces, layout.runs)) {
        return pieces.empty() ? MftLayoutStatus::Parse : MftLayoutStatus::Extension;
    }
    if (RunsOverlap(layout.runs)) return MftLayoutStatus::Overlap;
    if (layout.initializedSize > layout.dataSize) layout.initializedSize = layout.dataSize;
    layout.hasBitmap = ReadBitmap(volume, bitmap, layout);
    if (!layout.hasBitmap) layout.bitmap.clear();
    return MftLayoutStatus::Ok;
}

}  // namespace tarnwick
