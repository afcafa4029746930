#include "catalogue/index_reader.h"

#include <algorithm>

#include "mft/mft_layout.h"
#include "ntfs/file_name.h"
#include "ntfs/file_record.h"
#include "ntfs/index_buffer.h"

namespace tarnwick {

namespace {

std::int32_t SignExtended(std::uint16_t flags) { return static_cast<std::int16_t>(flags); }

// An index entry's header, then a file-name key with a name of one unit.
constexpr std::int16_t kShortestNamedEntry = index_entry::kKey + file_name::kName + 2;

}  // namespace

IndexReader::IndexReader(platform::RawHandle volume, std::int32_t indexBufferSize, std::uint32_t clusterSize,
                         EntryList& entries, RecordNameList& recordNames, std::int64_t volumeEnd)
    : volume_(volume),
      indexBufferSize_(indexBufferSize),
      clusterSize_(clusterSize),
      volumeEnd_(volumeEnd),
      // Volumes formatted with index buffers above 4 KiB have nodes above it
      // too; a fixed 4096 would refuse every one of their directories.
      limit_(std::max(kIndexLimit, indexBufferSize)),
      entries_(entries),
      recordNames_(recordNames),
      buffer_(static_cast<std::size_t>(indexBufferSize)) {}

int IndexReader::ReadAndParseIndex(std::span<std::uint8_t> record, std::uint32_t position) {
    Directory directory{};
    const int noted = NoteRecord(record, position, directory);
    return noted != 0 ? noted : ReadDirectory(directory);
}

int IndexReader::NoteRecord(std::span<std::uint8_t> record, std::uint32_t position, Directory& directory) {
    FileRecordHeader header;
    runs_.clear();
    const int parsed = ParseEntry(ParseMode::IndexAllocation, record, header, runs_);
    if (parsed < 0) return 1;
    if (!header.hasRecordNumber) header.recordNumber = position;
    const std::uint32_t number = OwningRecordNumber(header);

    const bool extension = header.baseRecord != 0;
    if (!extension) recordNames_.NoteBaseFlags(position, SignExtended(header.flags));
    const NameRef name = GetRecordName(record, header);
    if (header.flags != 0 && header.flags != kFlagDirectory && !name.empty()) {
        recordNames_.Append(static_cast<std::int32_t>(number), name, SignExtended(header.flags),
                            extension ? kFromExtensionRecord : 0);
    }
    if (parsed == 1) return 1;

    directory.name = name;
    // An extension record that carries a live directory's index counts as
    // that directory, in use.
    directory.flag = extension && header.flags != kFlagDirectory ? kFlagsDirectoryInUse : SignExtended(header.flags);
    directory.live = header.flags != kFlagDirectory;
    return 0;
}

int IndexReader::ReadDirectory(const Directory& directory) {
    const auto bufferSize = static_cast<std::uint64_t>(indexBufferSize_);
    for (const RunEntry& run : runs_) {
        // The run's bytes in 64 bits: runs of more than 2 GiB are read whole.
        const std::uint64_t runBytes = ClusterBytes(run.length, clusterSize_);
        const std::uint64_t buffers = runBytes / bufferSize;
        // A damaged run fails like a refused positioning; one that reaches
        // past the volume like a read past its end.
        const std::int64_t runOffset = ClusterByteOffset(run.lcn, clusterSize_);
        const std::int64_t lastOffset = volumeEnd_ - indexBufferSize_;  // where the volume's last buffer may start
        for (std::uint64_t j = 0; j < buffers; ++j) {
            const std::uint64_t within = j * bufferSize;
            if (runOffset < 0 || runOffset > lastOffset || within > static_cast<std::uint64_t>(lastOffset - runOffset)) {
                return -1;
            }
            const std::int64_t offset = runOffset + static_cast<std::int64_t>(within);
            if (!FirstReading(offset, directory.live)) continue;
            if (ReadBuffer(offset, runBytes - within) != 0) return -1;
            const int walked = WalkBuffer(directory);
            if (walked < 0) return -1;
            if (walked == 1 && !directory.live) return 1;
        }
    }
    return 0;
}

bool IndexReader::FirstReading(std::int64_t offset, bool live) {
    // No two directories of a sound volume share an index buffer, and no run
    // list names one twice; a crafted volume whose runs repeat or overlap, or
    // whose directory records are copies of each other, would otherwise have
    // the same buffers read and catalogued again and again, each time adding
    // entries, until memory runs out. A deleted directory's stale runs may
    // cover buffers a live directory now uses: those are still read for the
    // live one.
    return buffersRead_.Note(offset, live);
}

int IndexReader::ReadBuffer(std::int64_t offset, std::uint64_t runBytesLeft) {
    if (!platform::SetPosition(volume_, offset, runBytesLeft)) return -1;
    // A short read would leave the previous buffer's bytes to be parsed
    // again, appending its entries twice: it fails like a refused read.
    bytes_ = platform::ReadInPlace(volume_, buffer_.data(), static_cast<std::uint32_t>(buffer_.size()));
    return bytes_ != nullptr ? 0 : -1;
}

int IndexReader::WalkBuffer(const Directory& directory) {
    const std::span<std::uint8_t> bytes(bytes_, buffer_.size());
    IndexBufferHeader bufferHeader;
    if (ParseIndexBufferHeader(bytes, bufferHeader) != 0) return 1;
    if (ApplyFixups(bytes, bufferHeader.usaOffset, bufferHeader.usaCount) != 0) return -1;
    IndexNodeHeader node;
    if (ParseIndexNodeHeader(bytes, limit_, node) != 0) return -1;

    // The bound is compared with a size counted from the node header, so the
    // walk stops before the closing entry, which has no key.
    std::size_t m = index_buffer::kNodeHeader + static_cast<std::size_t>(node.entriesOffset);
    while (m + index_entry::kKey < static_cast<std::size_t>(node.entriesSize)) {
        IndexEntryHeader entry;
        const int header = ParseIndexEntryHeader(bytes, m, limit_, entry);
        if (header < 0) return -1;
        // A header past the buffer, or an entry too short to hold a key with
        // a name, ends the buffer: there is no next entry to go to. Sound
        // nodes never bring the walk to one (it stops before the closing
        // entry), and stepping a few bytes at a time through a damaged node
        // would catalogue the same bytes over and over.
        if (header > 0 || entry.length < kShortestNamedEntry) break;

        FileNameInfo key;
        const NameRef name = ParseFileName(bytes, m + index_entry::kKey, key);
        if (!name.empty() && directory.live) {
            ResultRecord_Internal& e = entries_.Append();
            e.parentId = static_cast<std::int32_t>(key.parent);
            CopyName(e.parentName, directory.name);
            e.id = static_cast<std::int32_t>(entry.fileReference);
            CopyName(e.name, name);
            e.nameSpace = key.nameSpace;
            e.allocatedSize = key.allocatedSize;
            e.actualSize = key.dataSize;
            e.creationTime = key.creationTime;
            e.modificationTime = key.modificationTime;
            e.mftModificationTime = key.mftChangeTime;
            e.accessTime = key.accessTime;
            e.flag = directory.flag;
            e.duplicate = 0;
        }
        m += static_cast<std::size_t>(entry.length);
    }
    // While this buffer's entries are still in cache.
    entries_.KeyNewEntries();
    return 0;
}

}  // namespace tarnwick
