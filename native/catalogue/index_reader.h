// Reads one file record of the pass: collects its name, and for a directory
// turns every entry of its index buffers into a catalogue entry.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "catalogue/entry_list.h"
#include "catalogue/record_name_list.h"
#include "catalogue/buffers_read.h"
#include "ntfs/data_runs.h"
#include "ntfs/file_name.h"
#include "platform/platform.h"

namespace tarnwick {

class IndexReader {
public:
    // `volume` is lent for the whole pass and repositioned freely; it must not
    // be the handle the file records are read from. A buffer that reaches
    // past `volumeEnd` (bytes) fails like one the volume cannot read, so no
    // run a record claims makes the load read or note more buffers than
    // the volume holds.
    IndexReader(platform::RawHandle volume, std::int32_t indexBufferSize, std::uint32_t clusterSize,
                EntryList& entries, RecordNameList& recordNames,
                std::int64_t volumeEnd = std::numeric_limits<std::int64_t>::max());

    // `record` is the file record's bytes, fixed up in place. `position` is its
    // index in the master file table, the record's number where its header
    // has no number field. Notes the record's name and flags; for a directory
    // reads its index buffers and turns their entries into catalogue entries.
    // 0: dealt with; 1: dealt with, nothing (more) to read; -1: an index
    // buffer could not be read or is damaged.
    int ReadAndParseIndex(std::span<std::uint8_t> record, std::uint32_t position);

private:
    // A directory whose index buffers are to be read, as its record says.
    struct Directory {
        NameRef name;        // the parent name of its entries, in the record
        std::int32_t flag;   // the flag its entries start with
        bool live;           // a deleted directory's buffers are checked, not catalogued
    };

    // 0 with `directory` filled when the record is a directory with index
    // buffers (their runs in runs_); 1 when there is nothing to read.
    int NoteRecord(std::span<std::uint8_t> record, std::uint32_t position, Directory& directory);
    int ReadDirectory(const Directory& directory);
    // False when the buffer at `offset` was already read in this load (by a
    // live directory, for a live one).
    bool FirstReading(std::int64_t offset, bool live);
    int ReadBuffer(std::int64_t offset, std::uint64_t runBytesLeft);
    // 0 when the buffer's entries were walked, 1 when its signature is not
    // "INDX", -1 on failure.
    int WalkBuffer(const Directory& directory);

    platform::RawHandle volume_;
    std::int32_t indexBufferSize_;
    std::uint32_t clusterSize_;
    std::int64_t volumeEnd_;
    std::int32_t limit_;
    EntryList& entries_;
    RecordNameList& recordNames_;
    std::vector<std::uint8_t> buffer_;  // where a buffer is read when the platform does not hold it
    std::uint8_t* bytes_ = nullptr;     // the buffer last read, wherever it lies
    BuffersRead buffersRead_;
    RunList runs_;  // of the record at hand, kept to spare an allocation per record
};

}  // namespace tarnwick
