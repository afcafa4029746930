#include "listing/listing_builder.h"

#include <algorithm>
#include <cstring>

#include "ntfs/attribute_list.h"

namespace tarnwick::listing {

namespace {

constexpr std::uint32_t kOnStack = 0xFFFFFFFF;

Times TimesOf(const StandardInformation& info) {
    return {info.creationTime, info.modificationTime, info.mftChangeTime, info.accessTime};
}

Times TimesOf(const FileNameInfo& info) {
    return {info.creationTime, info.modificationTime, info.mftChangeTime, info.accessTime};
}

// What a file's own record says, put into each of its rows. A stream row
// keeps its own sizes; a directory has no unnamed $DATA to size.
void Complete(Row& row, const Times& standard, std::uint32_t attributes, bool directory, const StreamFact* data) {
    row.standardTimes = standard;
    row.attributes = attributes;
    if (row.IsStream()) return;
    if (directory) {
        row.flags |= row_flag::kDirectory;
    } else if (data != nullptr) {
        row.dataSize = data->dataSize;
        row.allocatedSize = data->allocatedSize;
    }
}

struct NameFields {
    std::uint8_t nameSpace;
    std::uint64_t parent;
    std::uint16_t parentSequence;
};

NameFields FieldsOf(const NameFact& fact) { return {fact.info.nameSpace, fact.parent, fact.parentSequence}; }
NameFields FieldsOf(const Row& row) {
    // Stream rows never shadow anything.
    const auto parentSequence = static_cast<std::uint16_t>(row.parentSequence);
    return {row.IsStream() ? std::uint8_t{0xFF} : row.nameSpace, row.parent, parentSequence};
}

// A DOS name is the short alias of a Win32 name in the same directory; it
// is a row of its own only where no such Win32 name exists.
template <typename Name>
bool ShadowedDosName(std::span<const Name> names, const Name& name) {
    const NameFields own = FieldsOf(name);
    if (own.nameSpace != kNamespaceDos) return false;
    return std::any_of(names.begin(), names.end(), [&own](const Name& other) {
        const NameFields fields = FieldsOf(other);
        return fields.nameSpace == kNamespaceWin32 && fields.parent == own.parent &&
               fields.parentSequence == own.parentSequence;
    });
}

}  // namespace

void ListingBuilder::Expect(std::uint64_t rows) {
    // A bitmap of a damaged table may claim far more than the volume holds;
    // the arrays then grow as rows really come.
    constexpr std::uint64_t kMostReserved = 1 << 22;
    rows = std::min(rows, kMostReserved);
    expectedRows_ = static_cast<std::size_t>(rows);
    // Reserved pages cost nothing until touched, while growing copies the
    // array into fresh ones: room for the longer names of some volumes
    // (about 30 bytes on average on a generated one) and for hard links.
    listing_.rows_.reserve(static_cast<std::size_t>(rows + rows / 4));
    listing_.fileNameTimes_.reserve(static_cast<std::size_t>(rows + rows / 4 + 1));
    listing_.arena_.reserve(static_cast<std::size_t>(rows * 96));
}

// Of the rows' 32-bit offsets into the arena.
constexpr std::uint64_t kArenaReach = std::uint64_t{1} << 32;

std::uint32_t ListingBuilder::AppendToArena(NameRef name) {
    // Converted once here rather than at every line that shows the name.
    // Names and attribute names have a one-byte length on disk.
    constexpr std::size_t kLength = Listing::kArenaLengthBytes;
    const std::size_t units = std::min<std::size_t>(name.units, kLongestName);
    // The arena grows a step at a time ahead of its use, cut back to it in
    // Finish: filling it element by element through the page allocator
    // costs more than the names' own copy. With room for the longest form
    // the name can take, it is converted in its place.
    constexpr std::size_t kStep = std::size_t{64} << 10;
    LargeVector<char>& arena = listing_.arena_;
    const std::size_t offset = arenaUsed_;
    const std::size_t room = kLength + Utf8Bound(units);
    if (arena.size() - offset < room) {
        // Checked where the arena grows: no name then starts past what the
        // rows' 32-bit offsets reach.
        const std::size_t grown = offset + std::max(room, kStep);
        if (std::uint64_t{grown} > kArenaReach) throw ListingTooLarge();
        arena.resize(grown);
    }
    char* const text = arena.data() + offset + kLength;
    const auto length = static_cast<std::uint16_t>(WriteUtf8FromBytes(text, name.bytes, units) - text);
    std::memcpy(arena.data() + offset, &length, kLength);
    arenaUsed_ += kLength + length;
    return static_cast<std::uint32_t>(offset);
}

std::uint32_t ListingBuilder::FileNameTimesAt(const Times& times, const Times* standard) {
    if (standard != nullptr && times == *standard) return kTimesAsStandard;
    LargeVector<Times>& table = listing_.fileNameTimes_;
    // A file's other names were often made at the same moment.
    if (table.size() > 1 && table.back() == times) return static_cast<std::uint32_t>(table.size() - 1);
    table.push_back(times);
    return static_cast<std::uint32_t>(table.size() - 1);
}

void ListingBuilder::AppendRows(const RecordFacts& facts, std::uint64_t record, std::uint16_t sequence, bool deleted,
                                const Times* standard, LargeVector<Row>& out, bool weighDosNames) {
    const std::size_t first = out.size();
    const std::span<const NameFact> names(facts.names);
    for (const NameFact& name : names) {
        if (weighDosNames && ShadowedDosName(names, name)) continue;
        const std::uint32_t nameOffset = AppendToArena(name.name);
        Row& row = out.emplace_back();
        row.record = record & kRecordNumberMask;
        row.sequence = sequence;
        row.parent = name.parent & kRecordNumberMask;
        row.parentSequence = name.parentSequence;
        row.nameOffset = nameOffset;
        row.nameSpace = name.info.nameSpace;
        row.fileNameTimesAt = FileNameTimesAt(TimesOf(name.info), standard);
        row.flags = deleted ? row_flag::kDeleted : 0;
    }
    // A stream is shown beside every name of its file, as a directory
    // listing shows it under each hard link. Rows that wait for their
    // extension records get their names once all are known.
    const std::size_t namesEnd = out.size();
    for (const StreamFact& stream : facts.streams) {
        Row row;
        row.record = record & kRecordNumberMask;
        row.sequence = sequence;
        row.flags = static_cast<std::uint8_t>(row_flag::kStream | (deleted ? row_flag::kDeleted : 0));
        row.streamOffset = AppendToArena(stream.name);
        row.dataSize = stream.dataSize;
        row.allocatedSize = stream.allocatedSize;
        if (!weighDosNames) {
            out.push_back(row);
            continue;
        }
        for (std::size_t i = first; i < namesEnd; ++i) {
            row.nameOffset = out[i].nameOffset;
            out.push_back(row);
        }
    }
}

std::size_t ListingBuilder::ArenaBytesExpected() const {
    // Names run to about the same length all through a volume: what the
    // rows so far hold, a little more, for the rows still to come. Memory
    // backed beyond what is used is a first touch paid for nothing.
    constexpr std::size_t kBytesBeforeRows = 48;
    constexpr std::size_t kRowsToJudgeBy = 1024;
    const std::size_t rows = listing_.rows_.size();
    const std::size_t used = arenaUsed_;
    const std::size_t perRow = rows >= kRowsToJudgeBy ? used / rows + 1 : kBytesBeforeRows;
    const std::size_t left = expectedRows_ > rows ? expectedRows_ - rows : 0;
    return used + left * perRow + left * perRow / 8;
}

bool ListingBuilder::Prefault(Ahead& ahead) {
    // A few megabytes ahead, two at a time: a huge page each where the
    // arrays have them.
    constexpr std::size_t kAhead = std::size_t{4} << 20;
    constexpr std::size_t kStep = std::size_t{2} << 20;
    char* const used = ahead.used.load(std::memory_order_relaxed);
    char* const end = ahead.end.load(std::memory_order_relaxed);
    if (used == nullptr) return false;
    // Arrays moved when they outgrew what was reserved: start again.
    if (ahead.backed < used || ahead.backed > end) ahead.backed = used;
    char* const target = end - used > static_cast<std::ptrdiff_t>(kAhead) ? used + kAhead : end;
    if (ahead.backed >= target) return false;
    const std::size_t bytes = std::min<std::size_t>(kStep, static_cast<std::size_t>(target - ahead.backed));
    platform::PrefaultPages(ahead.backed, bytes);
    ahead.backed += bytes;
    return true;
}

bool ListingBuilder::PrefaultAhead() {
    const bool rows = Prefault(rowsAhead_);
    const bool names = Prefault(arenaAhead_);
    return rows || names;
}

void ListingBuilder::AddRecord(std::uint64_t number, std::span<std::uint8_t> record, bool bitmapInUse) {
    // Told now and then: a few hundred records fill a small part of the
    // megabytes the other thread keeps ahead.
    if (listing_.recordsRead_ % 256 == 0) {
        // Rows come about one a record in use; names are of any length.
        Tell(rowsAhead_, listing_.rows_, expectedRows_);
        Tell(arenaAhead_, listing_.arena_, ArenaBytesExpected());
    }
    ++listing_.recordsRead_;
    if (!bitmapInUse && !options_.deleted) return;
    if (DecodeRecord(record, options_.streams, facts_) != RecordOutcome::Ok) {
        if (bitmapInUse) ++listing_.damagedRecords_;
        return;
    }
    const bool deleted = !(bitmapInUse && facts_.inUse);
    if (deleted && !options_.deleted) return;

    if (facts_.header.baseRecord != 0) {
        const std::uint64_t base = ReferenceRecord(facts_.header.baseRecord);
        const std::uint16_t baseSequence = ReferenceSequence(facts_.header.baseRecord);
        if (base == number) return;
        if (facts_.hasData) extensionData_.push_back({base, baseSequence, deleted, facts_.data});
        AppendRows(facts_, base, baseSequence, deleted, nullptr, waiting_, false);
        return;
    }
    if (number == kRootRecord) {
        // The root is where paths start, not a name in a folder.
        if (!deleted) {
            rootSeen_ = true;
            rootSequence_ = facts_.sequence;
        }
        return;
    }
    const Times standard = facts_.hasStandardInformation ? TimesOf(facts_.standard) : Times{};
    const std::uint32_t attributes = facts_.hasStandardInformation ? facts_.standard.fileAttributes : 0;
    if (facts_.hasAttributeList) {
        spilled_.push_back({number, facts_.sequence, deleted, facts_.directory, standard, attributes, facts_.hasData,
                            facts_.data});
        AppendRows(facts_, number, facts_.sequence, deleted, &standard, waiting_, false);
        return;
    }
    // Records without a name are no file of their own (the reserved
    // records after $Extend, for one): nothing to list.
    if (facts_.names.empty()) return;
    LargeVector<Row>& rows = listing_.rows_;
    const std::size_t first = rows.size();
    AppendRows(facts_, number, facts_.sequence, deleted, &standard, rows, true);
    const StreamFact* data = facts_.hasData ? &facts_.data : nullptr;
    for (std::size_t i = first; i < rows.size(); ++i) Completed(i, standard, attributes, facts_.directory, data);
}

void ListingBuilder::Completed(std::size_t index, const Times& standard, std::uint32_t attributes, bool directory,
                               const StreamFact* data) {
    Row& row = listing_.rows_[index];
    Complete(row, standard, attributes, directory, data);
    records_ = std::max(records_, row.record + 1);
    if (row.IsDirectory()) directoryRows_.push_back(static_cast<std::uint32_t>(index));
}

void ListingBuilder::JoinSpilled() {
    if (spilled_.empty()) {
        // Extension records whose base never came: nothing to join them to.
        waiting_ = {};
        extensionData_ = {};
        return;
    }
    auto byRecord = [](const auto& a, const auto& b) { return a.record < b.record; };
    std::stable_sort(waiting_.begin(), waiting_.end(), byRecord);
    std::stable_sort(extensionData_.begin(), extensionData_.end(),
                     [](const ExtensionData& a, const ExtensionData& b) { return a.base < b.base; });
    std::vector<Row> group;
    for (Spilled& file : spilled_) {
        // Parts of another file that once held this record number, or of
        // a deleted file beside a live one, do not belong to it.
        auto belongs = [&file](std::uint16_t sequence, bool deleted) {
            return sequence == file.sequence && deleted == file.deleted;
        };
        auto data = std::lower_bound(extensionData_.begin(), extensionData_.end(), file.record,
                                     [](const ExtensionData& d, std::uint64_t record) { return d.base < record; });
        for (; !file.hasData && data != extensionData_.end() && data->base == file.record; ++data) {
            if (!belongs(data->baseSequence, data->deleted)) continue;
            file.hasData = true;
            file.data = data->data;
        }
        Row key;
        key.record = file.record & kRecordNumberMask;
        const auto [begin, end] = std::equal_range(waiting_.begin(), waiting_.end(), key, byRecord);
        group.clear();
        for (auto it = begin; it != end; ++it) {
            if (belongs(it->sequence, it->IsDeleted())) group.push_back(*it);
        }
        const std::size_t first = listing_.rows_.size();
        for (Row row : group) {
            if (row.IsStream() || ShadowedDosName(std::span<const Row>(group), row)) continue;
            // Names from extension records met their file's times only now.
            if (listing_.FileNameTimes(row) == file.standard) row.fileNameTimesAt = kTimesAsStandard;
            listing_.rows_.push_back(row);
        }
        const std::size_t names = listing_.rows_.size();
        for (const Row& row : group) {
            if (!row.IsStream()) continue;
            for (std::size_t i = first; i < names; ++i) {
                Row stream = row;
                stream.nameOffset = listing_.rows_[i].nameOffset;
                listing_.rows_.push_back(stream);
            }
        }
        for (std::size_t i = first; i < listing_.rows_.size(); ++i) {
            Completed(i, file.standard, file.attributes, file.directory, file.hasData ? &file.data : nullptr);
        }
    }
    spilled_ = {};
    waiting_ = {};
    extensionData_ = {};
}

void ListingBuilder::ResolvePaths() {
    LargeVector<Row>& rows = listing_.rows_;
    // The row that stands for each directory in paths (its Win32 or POSIX
    // name where it has one), with what a child checks of it kept beside
    // it: a million children then look up a small array, not the rows.
    struct Folder {
        std::uint32_t row = kNoRow;
        std::uint16_t sequence = 0;
        bool deleted = false;
        bool dos = false;
    };
    LargeVector<Folder> folders(static_cast<std::size_t>(records_));
    for (const std::uint32_t i : directoryRows_) {
        const Row& row = rows[i];
        Folder& chosen = folders[static_cast<std::size_t>(row.record)];
        const bool dos = row.nameSpace == kNamespaceDos;
        if (chosen.row == kNoRow || (chosen.dos && !dos)) {
            chosen = {i, static_cast<std::uint16_t>(row.sequence), row.IsDeleted(), dos};
        }
    }
    directoryRows_ = {};

    // One sweep over the rows: each name's parent, each stream's.
    LargeVector<std::uint32_t>& pathParent = listing_.pathParent_;
    pathParent.assign(rows.size(), kOrphanParent);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Row& row = rows[i];
        if (row.IsStream()) {
            pathParent[i] = pathParent[NameOfStream(i)];
        } else if (row.parent == kRootRecord) {
            if (!rootSeen_ || row.parentSequence == rootSequence_) pathParent[i] = kRootParent;
        } else if (row.parent < records_) {
            const Folder& parent = folders[static_cast<std::size_t>(row.parent)];
            const bool sameFile = parent.sequence == row.parentSequence;
            // Freeing a record raises its sequence number, so a folder deleted
            // together with its files carries one more than they point to.
            const bool deletedTogether = parent.deleted && row.IsDeleted() &&
                                         parent.sequence == static_cast<std::uint16_t>(row.parentSequence + 1);
            const bool live = !parent.deleted || row.IsDeleted();
            if (parent.row != kNoRow && live && (sameFile || deletedTogether)) pathParent[i] = parent.row;
        }
        if (pathParent[i] == kOrphanParent) row.flags |= row_flag::kOrphan;
    }

    // Cut cycles and runaway depths: every directory gets a depth, found by
    // walking up until a known depth or an end; a walk that meets itself
    // makes the directory where it turned back an orphan.
    bool anyCut = false;
    auto cut = [&](std::uint32_t directory) {
        pathParent[directory] = kOrphanParent;
        rows[directory].flags |= row_flag::kOrphan;
        anyCut = true;
    };
    LargeVector<std::uint32_t> depth(rows.size(), 0);
    std::vector<std::uint32_t> stack;
    for (const Folder& folder : folders) {
        const std::uint32_t start = folder.row;
        if (start == kNoRow || depth[start] != 0) continue;
        stack.clear();
        std::uint32_t at = start;
        std::uint32_t reached = 0;
        for (;;) {
            if (at == kRootParent || at == kOrphanParent) break;
            if (depth[at] == kOnStack) {
                cut(stack.back());
                break;
            }
            if (depth[at] != 0) {
                reached = depth[at];
                break;
            }
            depth[at] = kOnStack;
            stack.push_back(at);
            at = pathParent[at];
        }
        while (!stack.empty()) {
            const std::uint32_t directory = stack.back();
            stack.pop_back();
            const std::uint32_t up = pathParent[directory];
            std::uint32_t own = (up == kRootParent || up == kOrphanParent) ? 1 : reached + 1;
            if (own > kMaxDepth) {
                cut(directory);
                own = 1;
            }
            depth[directory] = own;
            reached = own;
        }
    }
    // A folder cut loose takes the streams beside its name along.
    for (std::size_t i = 0; anyCut && i < rows.size(); ++i) {
        if (rows[i].IsStream()) pathParent[i] = pathParent[NameOfStream(i)];
    }
}

std::size_t ListingBuilder::NameOfStream(std::size_t stream) const {
    // The rows of one file lie together, its names before its streams; a
    // stream row was given the name of one of them.
    const LargeVector<Row>& rows = listing_.rows_;
    for (std::size_t j = stream; j-- > 0 && rows[j].record == rows[stream].record;) {
        if (!rows[j].IsStream() && rows[j].nameOffset == rows[stream].nameOffset) return j;
    }
    return stream;  // none: its own entry, still the orphan it starts as
}

void ListingBuilder::Finish() {
    listing_.arena_.resize(arenaUsed_);
    JoinSpilled();
    ResolvePaths();
}

}  // namespace tarnwick::listing
