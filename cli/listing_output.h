// The `list` output: one line per row of the listing (every name of every
// file record, and with the options deleted records and named streams), CSV
// or JSON Lines. Columns are described in docs/cli.md.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "listing/listing.h"
#include "listing/tree_order.h"
#include "ntfs/file_name.h"
#include "output_format.h"
#include "text_format.h"

namespace tarnwick::cli {

class OutputBuffer;

struct ListingColumns {
    bool deleted = false;  // a `deleted` column after the others
};

class ListingWriter {
public:
    // Directory paths kept for the lines that follow: rows come folder by
    // folder, so a few hundred recent ones serve nearly every line, and a
    // folder not kept is put together from its parent's path, which was
    // written just before. Longer paths are put together whole each time.
    // Kept texts must stay in the cache to be worth keeping: with 16 times
    // as many, the lines of a million files in 140,000 folders took a third
    // longer.
    static constexpr unsigned kKeptPathBits = 10;  // 1,024 paths
    static constexpr std::size_t kKeptPathBytes = 4096;

    // A listing of this many blocks of rows or more is formatted on two
    // threads, block by block, written in order: the bytes are the same.
    static constexpr std::size_t kBlockRows = 2048;
    static constexpr std::size_t kTwoThreadBlocks = 16;

    ListingWriter(OutputBuffer& out, Format format, ListingColumns columns) : out_(&out), format_(format), columns_(columns) {}

    // The CSV header line; JSON Lines has none.
    void WriteHeader();
    // Header and every row of `listing`, folder by folder (TreeOrder);
    // with `blockRows` 0 on this thread alone.
    void WriteAll(const listing::Listing& listing, std::size_t blockRows = kBlockRows);

private:
    // A directory's path as UTF-8.
    struct KeptPath {
        std::uint32_t directory = listing::kRootParent;  // its row; kRootParent while unused
        bool escape = false;  // needs quoting (CSV) or escapes (JSON)
        std::string utf8;
    };

    using Order = LargeVector<std::uint32_t>;
    // The rows at positions [begin, end) of `order`.
    void WriteRows(const listing::Listing& listing, const Order& order, std::size_t begin, std::size_t end);
    void WriteInTwo(const listing::Listing& listing, const Order& order, std::size_t blockRows);
    template <bool csv>
    void WriteRow(const listing::Listing& listing, const listing::Row& row);
    // The path and name fields; false when the row's parent path is not kept.
    bool WriteKeptPathAndName(const listing::Listing& listing, const listing::Row& row);
    // The path of the directory at `directory` in the rows, or of one of the
    // two ends; null when too long to keep.
    const KeptPath* DirectoryPath(const listing::Listing& listing, std::uint32_t directory);
    // A row's name (a stream row's "name:stream") as UTF-8, and whether the
    // format must quote or escape it.
    struct Utf8Name {
        std::string_view utf8;
        bool escape = false;
    };
    Utf8Name NameUtf8(const listing::Listing& listing, const listing::Row& row);
    bool NeedsEscape(std::string_view utf8) const;
    void WriteField(std::string_view utf8, bool escape);
    // The separator after the path and the name field, for the lines whose
    // path is put together apart.
    void WriteNameAfterPath(const Utf8Name& name);
    // The four standard times and the four of the name.
    template <bool csv>
    void WriteTimes(const listing::Times& standard, const listing::Times& fileName);
    template <bool csv>
    char* WriteFourTimes(char* p, const listing::Times& times, bool fileName);
    // The times of a row are mostly one and the same: the one just written
    // is asked first, inline. Every time written is of one length (or
    // none), so the copy is of a known size: a few moves, not a call.
    char* WriteTime(char* p, std::int64_t ticks) {
        const TimeText* found = &times_[lastTime_];
        if (found->ticks != ticks) found = &FindTime(ticks);
        if (found->length != kTimeBound) {
            std::memcpy(p, found->text.data(), found->length);
            return p + found->length;
        }
        std::memcpy(p, found->text.data(), kTimeBound);
        return p + kTimeBound;
    }
    void WriteAttributes(std::uint32_t attributes);

    OutputBuffer* out_;
    Format format_;
    ListingColumns columns_;

    std::vector<KeptPath> kept_;  // by a hash of the directory's row
    unsigned keptBits_ = kKeptPathBits;
    // Where a directory's path is kept, if it is (kept_ must have its size).
    KeptPath& KeptSlot(std::uint32_t directory) { return kept_[(directory * 0x9E3779B1u) >> (32 - keptBits_)]; }
    KeptPath root_;               // "" and "/$OrphanFiles", where paths start
    KeptPath orphans_;
    std::vector<std::uint32_t> missing_;  // folders on the way up not kept yet
    // Kept between rows so that a line costs no allocation once it has grown.
    std::string scratch_;
    std::array<char, 2 * Utf8Bound(kLongestName) + 1> name_{};  // a stream row's "name:stream"

    // The last few times written: the eight of a row are often equal.
    struct TimeText {
        std::int64_t ticks = -1;
        std::int64_t day = -1;     // NtfsDay(ticks)
        std::int64_t second = -1;  // NtfsSecond(ticks)
        std::size_t length = 0;
        std::array<char, kTimeBound> text{};
    };
    // The kept text of `ticks`, made when none is kept; it becomes the last.
    const TimeText& FindTime(std::int64_t ticks);
    // Puts `ticks` into the next of times_ and makes it the last one.
    const TimeText& FormatTime(std::int64_t ticks);
    std::array<TimeText, 4> times_{};
    std::size_t nextTime_ = 0;
    std::size_t lastTime_ = 0;

    // Every attribute word with a separator or its JSON quotes and comma.
    static constexpr std::size_t kAttributesBound = 128;
    struct AttributesText {
        std::uint32_t shown = ~std::uint32_t{0};  // the bits with a word; none yet
        std::size_t length = 0;
        std::array<char, kAttributesBound> text{};
    };
    std::array<AttributesText, 2> attributeTexts_{};
    std::size_t nextAttributeText_ = 0;

    // The parent's two numbers with their separators and keys, up to the
    // path, as last written.
    struct ParentText {
        std::uint64_t record = ~std::uint64_t{0};
        std::uint16_t sequence = 0;
        std::size_t length = 0;
        std::array<char, 2 * kIntegerBound + 48> text{};
    };
    ParentText parent_;
};

}  // namespace tarnwick::cli
