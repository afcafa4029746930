// Turns file records, handed over in table order, into the rows of a
// Listing, then joins what extension records hold to their base records and
// resolves every row's place in the tree. No I/O: the read pass (and tests,
// and the fuzzer) feed it records.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "listing/listing.h"
#include "listing/record_facts.h"
#include "ntfs/file_record.h"
#include "platform/utf16.h"

namespace tarnwick::listing {

inline constexpr std::uint32_t kNoRow = 0xFFFFFFFF;
// Deeper than any path Windows can open (32,767 units) is damage: the
// directory there starts a path of its own under the orphans.
inline constexpr std::uint32_t kMaxDepth = 1024;

class ListingBuilder {
public:
    ListingBuilder(Listing& listing, const ListingOptions& options)
        : listing_(listing), options_(options), arenaUsed_(listing.arena_.size()) {}

    // Room for about this many rows, so the arrays are not copied as they grow.
    void Expect(std::uint64_t rows);

    // Record `number` of the table; `bitmapInUse` is what the table's bitmap
    // says of it. The bytes are fixed up in place.
    void AddRecord(std::uint64_t number, std::span<std::uint8_t> record, bool bitmapInUse);
    // Record `number` could not be read: counted, no rows.
    void AddUnreadable(bool bitmapInUse) {
        if (bitmapInUse || options_.deleted) ++listing_.unreadableRecords_;
    }

    // Joins extension records to their bases and resolves paths.
    void Finish();

    // For another thread while this one adds records: has the next few
    // megabytes of the rows and the names backed with memory, so that
    // adding does not stop at each first touch of a page. False when that
    // is done as far as the records added so far reach.
    bool PrefaultAhead();

private:
    // How far the storage of an array is used, as last told to the other
    // thread, and how far that thread has had it backed.
    struct Ahead {
        std::atomic<char*> used{nullptr};
        std::atomic<char*> end{nullptr};  // of what is reserved
        char* backed = nullptr;           // the other thread's own
    };
    // `most`: elements worth having backed at all.
    template <typename T>
    static void Tell(Ahead& ahead, LargeVector<T>& array, std::size_t most) {
        const std::size_t end = std::max(array.size(), std::min(array.capacity(), most));
        ahead.used.store(reinterpret_cast<char*>(array.data() + array.size()), std::memory_order_relaxed);
        ahead.end.store(reinterpret_cast<char*>(array.data() + end), std::memory_order_relaxed);
    }
    static bool Prefault(Ahead& ahead);
    // How far the names are worth having backed, in bytes.
    std::size_t ArenaBytesExpected() const;

    // A base record whose attributes spill into extension records: its rows
    // wait until every record has been seen.
    struct Spilled {
        std::uint64_t record = 0;
        std::uint16_t sequence = 0;
        bool deleted = false;
        bool directory = false;
        Times standard;
        std::uint32_t attributes = 0;
        bool hasData = false;
        StreamFact data;
    };
    // The unnamed $DATA's first piece found in an extension record.
    struct ExtensionData {
        std::uint64_t base = 0;
        std::uint16_t baseSequence = 0;
        bool deleted = false;
        StreamFact data;
    };

    // `standard` null while the file's standard times are not known yet
    // (its rows wait for its other records).
    void AppendRows(const RecordFacts& facts, std::uint64_t record, std::uint16_t sequence, bool deleted,
                    const Times* standard, LargeVector<Row>& out, bool weighDosNames);
    std::uint32_t AppendToArena(NameRef name);
    // Row::fileNameTimesAt for a name's times.
    std::uint32_t FileNameTimesAt(const Times& times, const Times* standard);
    // Puts the file's own facts into the row at `index` of the listing and
    // notes what path resolution needs of it.
    void Completed(std::size_t index, const Times& standard, std::uint32_t attributes, bool directory,
                   const StreamFact* data);
    void JoinSpilled();
    // The name row a stream row stands beside.
    std::size_t NameOfStream(std::size_t stream) const;
    void ResolvePaths();

    Listing& listing_;
    ListingOptions options_;
    RecordFacts facts_;
    std::size_t arenaUsed_;  // of listing_.arena_, which runs a little ahead until Finish
    std::vector<Spilled> spilled_;
    LargeVector<Row> waiting_;  // rows of spilled bases and of extension records, facts not yet known
    std::vector<ExtensionData> extensionData_;
    std::vector<std::uint32_t> directoryRows_;  // rows of the listing that are directories
    std::uint64_t records_ = 0;                 // above the highest record number with a row
    std::uint16_t rootSequence_ = 0;
    bool rootSeen_ = false;
    Ahead rowsAhead_;
    Ahead arenaAhead_;
    std::size_t expectedRows_ = 0;
};

}  // namespace tarnwick::listing
