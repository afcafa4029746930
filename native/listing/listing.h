// The listing: every name of every file record, read from the master file
// table alone, with its path. A second way to read a volume beside the
// catalogue; it shares the decoders but not the catalogue's storage.
//
// Rows are compact and hold no pointers: names (and stream names) live in
// one arena owned by the Listing, as UTF-8, the form every output wants,
// and a path is put together on request by following parent references, so
// a million rows cost about a million times the row plus the names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ntfs/standard_information.h"  // file_attribute bits of Row::attributes
#include "platform/page_allocator.h"
#include "platform/platform.h"

namespace tarnwick::listing {

struct ListingOptions {
    // Also records no longer in use that still hold a valid record and names.
    bool deleted = false;
    // Also a row per named $DATA stream of every file listed, beside each
    // of the file's names (as a directory listing shows them per link).
    bool streams = false;
};

// NTFS times: 100 ns ticks since 1601-01-01 UTC, as stored.
struct Times {
    std::int64_t creation = 0;
    std::int64_t modification = 0;
    std::int64_t mftChange = 0;
    std::int64_t access = 0;

    bool operator==(const Times&) const = default;
};

// Row::fileNameTimesAt of a name whose times are those of the file's
// $STANDARD_INFORMATION, as most names' are.
inline constexpr std::uint32_t kTimesAsStandard = 0xFFFFFFFF;

namespace row_flag {
inline constexpr std::uint8_t kDirectory = 0x01;
inline constexpr std::uint8_t kDeleted = 0x02;  // the record is no longer in use
inline constexpr std::uint8_t kStream = 0x04;   // a named $DATA stream of the file, not a name of it
inline constexpr std::uint8_t kOrphan = 0x08;   // the parent is not an in-use directory of that sequence
}  // namespace row_flag

struct Row {
    // A file reference holds a 48-bit record number and its 16-bit
    // sequence number; a row keeps each pair in eight bytes the same way.
    std::uint64_t record : 48 = 0;
    std::uint64_t sequence : 16 = 0;
    std::uint64_t parent : 48 = 0;
    std::uint64_t parentSequence : 16 = 0;
    // Sizes of the unnamed $DATA (of the named stream for a stream row).
    // Data size: the logical size, a resident value's length. Allocated
    // size: the clusters reserved, for sparse and compressed data those
    // actually in use; 0 for resident data, which has no clusters of its
    // own. Both 0 for directories.
    std::uint64_t dataSize = 0;
    std::uint64_t allocatedSize = 0;
    Times standardTimes;  // $STANDARD_INFORMATION; zero when the record has none
    union {
        // A name row's $FILE_NAME times (Listing::FileNameTimes):
        // kTimesAsStandard, or where they lie in the listing's table of
        // them. Kept apart, they would make every row a third larger.
        std::uint32_t fileNameTimesAt = 0;
        // A stream row's own name, in the arena (Listing::StreamName). A
        // stream has no $FILE_NAME, so it needs no times of one.
        std::uint32_t streamOffset;
    };
    std::uint32_t nameOffset = 0;  // into the arena (Listing::Name)
    std::uint32_t attributes = 0;  // file_attribute bits
    std::uint8_t nameSpace = 0;    // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    std::uint8_t flags = 0;        // row_flag bits
    // For a stream row, the name is that of the file it belongs to (one of
    // its names), and the stream's own name is at streamOffset.

    bool IsDirectory() const { return (flags & row_flag::kDirectory) != 0; }
    bool IsDeleted() const { return (flags & row_flag::kDeleted) != 0; }
    bool IsStream() const { return (flags & row_flag::kStream) != 0; }
    bool IsOrphan() const { return (flags & row_flag::kOrphan) != 0; }
};

// Names, paths and most $FILE_NAME times live elsewhere, so a row stays
// this small: a million rows with their names come to about 110 MB.
static_assert(sizeof(Row) <= 80);

// Where a path ends on its way up: PathParent gives one of these instead of
// a row for a row in the root, and for one whose chain of folders is lost.
inline constexpr std::uint32_t kRootParent = 0xFFFFFFFE;
inline constexpr std::uint32_t kOrphanParent = 0xFFFFFFFD;
// The folder the paths of orphans start with.
inline constexpr std::string_view kOrphanFolder = "/$OrphanFiles";

enum class ListingStatus {
    Complete = 0,
    CutShort,        // the volume ended or a read failed inside the table: the rows read are kept
    NotNtfs,         // no NTFS boot sector
    UnreadableTable, // the table's own record or its runs could not be had: no rows
};

// A one-line English description of a status, for messages.
const char* Describe(ListingStatus status);

class Listing {
public:
    const LargeVector<Row>& rows() const { return rows_; }
    std::size_t size() const { return rows_.size(); }

    // A row's name and a stream row's stream name, as UTF-8; an unpaired
    // surrogate of the UTF-16 on disk is U+FFFD here, as in every output.
    std::string_view Name(const Row& row) const { return ArenaText(row.nameOffset); }
    std::string_view StreamName(const Row& row) const {
        return row.IsStream() ? ArenaText(row.streamOffset) : std::string_view{};
    }
    // Where the row's name lies, to have it fetched ahead.
    const char* NameAddress(const Row& row) const { return arena_.data() + row.nameOffset; }
    const Times& FileNameTimes(const Row& row) const {
        if (row.IsStream()) return fileNameTimes_[0];
        if (row.fileNameTimesAt == kTimesAsStandard) return row.standardTimes;
        return row.fileNameTimesAt < fileNameTimes_.size() ? fileNameTimes_[row.fileNameTimesAt] : fileNameTimes_[0];
    }

    // Appends "/dir/sub/name" (":stream" after it for a stream row). An
    // orphan's path starts "/$OrphanFiles/". A parent chain that comes back
    // on itself or runs too deep is cut there and the rest goes under
    // "/$OrphanFiles/", so every row has a path. `row` must be an element
    // of rows() itself, not a copy: its place there says where it hangs.
    void AppendPath(const Row& row, std::string& out) const;
    // Appends the path of the directory holding the row, without a
    // trailing "/" ("" for the root).
    void AppendParentPath(const Row& row, std::string& out) const;
    // The index in rows() of the directory whose path the row's path
    // continues (for a stream row, that of the file's name), or kRootParent
    // or kOrphanParent. So a path can be put together one folder at a time:
    // a directory's parent path is that of PathParent(directory), then "/"
    // and its name; from kOrphanParent it starts with kOrphanFolder.
    std::uint32_t PathParent(const Row& row) const {
        return PathParentAt(static_cast<std::size_t>(&row - rows_.data()));
    }
    // The same for the row at `index` in rows().
    std::uint32_t PathParentAt(std::size_t index) const {
        return index < pathParent_.size() ? pathParent_[index] : kOrphanParent;
    }
    // Where PathParentAt(index) lies, to have it fetched ahead.
    const std::uint32_t* PathParentAddress(std::size_t index) const {
        return pathParent_.data() + (index < pathParent_.size() ? index : 0);
    }

    std::uint64_t recordsRead() const { return recordsRead_; }
    // Records in use (or, with `deleted`, candidates) that could not be
    // decoded and gave no row.
    std::uint64_t damagedRecords() const { return damagedRecords_; }
    // Records in use (or, with `deleted`, any) that could not be read at all
    // (bad sectors) and were passed over; the records after them are listed.
    std::uint64_t unreadableRecords() const { return unreadableRecords_; }
    ListingStatus status() const { return status_; }

private:
    friend class ListingBuilder;
    friend ListingStatus ReadListing(platform::RawHandle volume, const ListingOptions& options, Listing& listing);

    // Each text of the arena: its length in bytes (two, in the machine's
    // order), then its bytes. Offset 0 holds the empty text of rows with no
    // name.
    std::string_view ArenaText(std::uint32_t offset) const {
        if (std::size_t{offset} + kArenaLengthBytes > arena_.size()) return {};
        std::uint16_t length = 0;
        std::memcpy(&length, arena_.data() + offset, kArenaLengthBytes);
        if (length > arena_.size() - offset - kArenaLengthBytes) return {};
        return {arena_.data() + offset + kArenaLengthBytes, length};
    }
    static constexpr std::size_t kArenaLengthBytes = sizeof(std::uint16_t);

    // A million rows and their names come to a few hundred megabytes: in
    // huge pages, filling them costs a fraction of the faults.
    LargeVector<Row> rows_;
    LargeVector<char> arena_ = LargeVector<char>(kArenaLengthBytes, '\0');
    // $FILE_NAME times that differ from their file's standard ones; the
    // first is all zero.
    LargeVector<Times> fileNameTimes_ = LargeVector<Times>(1);
    // For each row, the directory row its path continues with, or one of
    // the two ends of a path (kRootParent, kOrphanParent). Resolved once,
    // with cycles and runaway depths cut, so putting a path together is a
    // plain walk.
    LargeVector<std::uint32_t> pathParent_;
    std::uint64_t recordsRead_ = 0;
    std::uint64_t damagedRecords_ = 0;
    std::uint64_t unreadableRecords_ = 0;
    ListingStatus status_ = ListingStatus::Complete;
};

// Names are found by 32-bit offsets into the arena: a volume whose names
// come to more than 4 GiB of UTF-8 (about 150 million names) cannot be
// listed, and says so rather than mix them up.
struct ListingTooLarge : std::length_error {
    ListingTooLarge() : std::length_error("more names than one listing can hold (4 GiB of text)") {}
};

// Reads the listing of the volume behind `volume` (positioned anywhere; the
// boot sector is read from offset 0). Replaces what `listing` held. The
// outcome is also listing.status(). Throws std::bad_alloc when memory runs
// out and ListingTooLarge (above).
ListingStatus ReadListing(platform::RawHandle volume, const ListingOptions& options, Listing& listing);

}  // namespace tarnwick::listing
