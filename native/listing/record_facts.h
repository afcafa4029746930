// What one file record tells the listing: its names, its own times and
// attribute bits, the sizes of its unnamed $DATA and of its named streams.
// Decoded from bytes alone; a base record's extension records are decoded
// the same way and their facts joined to the base's later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ntfs/attribute_walk.h"
#include "ntfs/file_name.h"
#include "ntfs/file_record.h"
#include "ntfs/standard_information.h"

namespace tarnwick::listing {

struct NameFact {
    NameRef name;
    FileNameInfo info;
    std::uint64_t parent = 0;  // the full record number; info.parent holds only 32 bits
    std::uint16_t parentSequence = 0;
};

struct StreamFact {
    NameRef name;  // empty for the unnamed $DATA
    std::uint64_t dataSize = 0;
    std::uint64_t allocatedSize = 0;
};

struct RecordFacts {
    FileRecordHeader header;
    std::uint16_t sequence = 0;
    bool inUse = false;      // by the record's own flag
    bool directory = false;  // by the record's own flag: it holds a $I30 index
    bool hasAttributeList = false;
    bool hasStandardInformation = false;
    StandardInformation standard;
    bool hasData = false;  // the unnamed $DATA's first piece is here
    StreamFact data;
    std::vector<NameFact> names;
    std::vector<StreamFact> streams;  // named $DATA, first pieces only; filled only when asked for
};

enum class RecordOutcome {
    Ok,
    NotARecord,  // no "FILE" signature: never written, or overwritten
    Torn,        // the update sequence does not match: a write that did not finish
};

// Fixes the record up in place and decodes it. The vectors of `facts` are
// cleared and refilled, so one RecordFacts reused for every record costs no
// allocation once it has grown.
RecordOutcome DecodeRecord(std::span<std::uint8_t> record, bool wantStreams, RecordFacts& facts);

// The sizes a listing shows for a $DATA attribute from the header fields of
// its first piece: a resident value's length (no clusters of its own); the
// clusters actually in use for sparse and compressed data, else those
// reserved.
StreamFact DataSizes(const AttributeView& firstPiece);

}  // namespace tarnwick::listing
