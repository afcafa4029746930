#include "listing_output.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "output_buffer.h"

namespace tarnwick::cli {

namespace {

constexpr std::string_view kListingCsvHeader =
    "record,sequence,parentRecord,parentSequence,path,name,namespace,type,dataSize,allocatedSize,"
    "creationTime,modificationTime,mftModificationTime,accessTime,"
    "fnCreationTime,fnModificationTime,fnMftModificationTime,fnAccessTime,attributes";

struct AttributeWord {
    std::uint32_t bit;
    std::string_view word;
};

constexpr AttributeWord kAttributeWords[] = {
    {file_attribute::kReadOnly, "read-only"},   {file_attribute::kHidden, "hidden"},
    {file_attribute::kSystem, "system"},        {file_attribute::kArchive, "archive"},
    {file_attribute::kCompressed, "compressed"}, {file_attribute::kEncrypted, "encrypted"},
    {file_attribute::kSparse, "sparse"},        {file_attribute::kReparsePoint, "reparse-point"},
};
constexpr std::uint32_t kShownAttributes = [] {
    std::uint32_t bits = 0;
    for (const AttributeWord& a : kAttributeWords) bits |= a.bit;
    return bits;
}();
// The numeric and word fields of one line around the texts.
constexpr std::size_t kFixedBound = 8 * kIntegerBound + 256;

// A word of a column held in a fixed array, so that a line copies the whole
// array, a size known when compiled, and counts only the word.
struct Word {
    std::array<char, 16> text{};
    std::size_t length = 0;
    explicit constexpr Word(std::string_view word) : length(word.size()) {
        for (std::size_t i = 0; i < word.size(); ++i) text[i] = word[i];
    }
};
// By the namespace number, the last for any number beyond.
constexpr Word kNamespaceWords[] = {Word("posix"), Word("win32"), Word("dos"), Word("win32+dos"), Word("unknown")};
constexpr Word kNoWord("");
constexpr Word kFileWord("file");
constexpr Word kDirectoryWord("directory");
constexpr Word kStreamWord("stream");

// A stream has no name of its own, only its file's.
const Word& NamespaceWord(const listing::Row& row) {
    if (row.IsStream()) return kNoWord;
    return kNamespaceWords[std::min<std::size_t>(row.nameSpace, std::size(kNamespaceWords) - 1)];
}

const Word& TypeWord(const listing::Row& row) {
    if (row.IsStream()) return kStreamWord;
    return row.IsDirectory() ? kDirectoryWord : kFileWord;
}

char* Put(char* p, const Word& word) {
    std::memcpy(p, word.text.data(), word.text.size());
    return p + word.length;
}

char* Put(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

bool JsonNeedsEscapes(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\') return true;
    }
    return false;
}

// Any byte but the controls, the quote, the comma and the backslash: written
// as it stands in both formats, UTF-8 beyond ASCII included.
constexpr std::array<bool, 0x100> kPlainBytes = [] {
    std::array<bool, 0x100> plain{};
    for (int c = 0x20; c < 0x100; ++c) plain[static_cast<std::size_t>(c)] = c != '"' && c != ',' && c != '\\';
    return plain;
}();

// Most names are plain: they are written as they stand without a search
// for what either format would have to quote or escape.
bool Plain(std::string_view text) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time; the last sixteen are taken again rather than
    // one by one. A name of eight to fifteen bytes is taken as its first
    // eight and its last eight.
    const auto plainBytes = [](__m128i v) {
        // No control: every byte at least 0x20, unsigned.
        const __m128i noControl = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(0x20)), v);
        const __m128i special = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8(','))),
            _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
        return _mm_movemask_epi8(_mm_andnot_si128(special, noControl));
    };
    const auto plainSixteen = [&](std::size_t at) {
        return plainBytes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at))) == 0xFFFF;
    };
    const auto plainEight = [&](std::size_t at) {
        return (plainBytes(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(text.data() + at))) & 0xFF) == 0xFF;
    };
    if (text.size() >= 16) {
        for (; i + 16 <= text.size(); i += 16) {
            if (!plainSixteen(i)) return false;
        }
        return i == text.size() || plainSixteen(text.size() - 16);
    }
    if (text.size() >= 8) return plainEight(0) && plainEight(text.size() - 8);
#endif
    for (; i < text.size(); ++i) {
        if (!kPlainBytes[static_cast<unsigned char>(text[i])]) return false;
    }
    return true;
}

}  // namespace

void ListingWriter::WriteHeader() {
    if (format_ != Format::Csv) return;
    out_->Append(kListingCsvHeader);
    if (columns_.deleted) out_->Append(",deleted");
    out_->Append("\r\n");
}

bool ListingWriter::NeedsEscape(std::string_view utf8) const {
    return format_ == Format::Csv ? CsvNeedsQuotes(utf8) : JsonNeedsEscapes(utf8);
}

void ListingWriter::WriteField(std::string_view utf8, bool escape) {
    const bool csv = format_ == Format::Csv;
    char* p = out_->Reserve(csv ? CsvBound(utf8.size()) : JsonBound(utf8.size()));
    if (escape) {
        out_->Commit(csv ? WriteCsvField(p, utf8) : WriteJsonString(p, utf8));
        return;
    }
    if (!csv) *p++ = '"';
    p = Put(p, utf8);
    if (!csv) *p++ = '"';
    out_->Commit(p);
}

void ListingWriter::WriteNameAfterPath(const Utf8Name& name) {
    out_->Append(format_ == Format::Csv ? std::string_view(",") : std::string_view(",\"name\":"));
    WriteField(name.utf8, name.escape);
}

ListingWriter::Utf8Name ListingWriter::NameUtf8(const listing::Listing& listing, const listing::Row& row) {
    std::string_view utf8 = listing.Name(row);
    if (row.IsStream()) {
        char* end = Put(name_.data(), utf8);
        *end++ = ':';
        end = Put(end, listing.StreamName(row));
        utf8 = {name_.data(), static_cast<std::size_t>(end - name_.data())};
    }
    return {utf8, !Plain(utf8) && NeedsEscape(utf8)};
}

const ListingWriter::KeptPath* ListingWriter::DirectoryPath(const listing::Listing& listing, std::uint32_t directory) {
    if (directory == listing::kRootParent) return &root_;
    if (directory >= listing::kOrphanParent) {
        if (orphans_.utf8.empty()) {
            orphans_.utf8 = listing::kOrphanFolder;
            orphans_.escape = NeedsEscape(orphans_.utf8);
        }
        return &orphans_;
    }
    if (kept_.empty()) kept_.resize(std::size_t{1} << keptBits_);
    auto slotOf = [this](std::uint32_t row) -> KeptPath& { return KeptSlot(row); };
    if (KeptPath& kept = slotOf(directory); kept.directory == directory) return &kept;

    // Up to the nearest folder kept (or an end of paths), then down again,
    // each folder's path its parent's and its own name.
    const auto& rows = listing.rows();
    missing_.clear();
    std::uint32_t at = directory;
    while (at < listing::kOrphanParent && slotOf(at).directory != at) {
        if (at >= rows.size() || missing_.size() > rows.size()) return nullptr;
        missing_.push_back(at);
        at = listing.PathParent(rows[at]);
    }
    const KeptPath* above = at < listing::kOrphanParent ? &slotOf(at) : DirectoryPath(listing, at);
    // Copied out first: a folder below may take the slot of one above it.
    std::string& path = scratch_;
    path.assign(above->utf8);
    bool escape = above->escape;
    for (auto folder = missing_.rbegin(); folder != missing_.rend(); ++folder) {
        const Utf8Name name = NameUtf8(listing, rows[*folder]);
        if (path.size() + 1 + name.utf8.size() > kKeptPathBytes) return nullptr;
        path.push_back('/');
        path.append(name.utf8);
        escape = escape || name.escape;
        KeptPath& slot = slotOf(*folder);
        slot.directory = *folder;
        slot.utf8.assign(path);
        slot.escape = escape;
    }
    return &slotOf(directory);
}

// Most lines: the parent's path comes whole from the kept ones, the name is
// converted once and written twice.
bool ListingWriter::WriteKeptPathAndName(const listing::Listing& listing, const listing::Row& row) {
    const KeptPath* parent = DirectoryPath(listing, listing.PathParent(row));
    if (parent == nullptr) return false;
    const std::string_view prefix = parent->utf8;
    const auto [name, nameEscape] = NameUtf8(listing, row);
    if (parent->escape || nameEscape) {
        scratch_.assign(prefix);
        scratch_.push_back('/');
        scratch_.append(name);
        WriteField(scratch_, true);
        WriteNameAfterPath({name, nameEscape});
        return true;
    }
    // Path, separator and name in one reservation.
    const bool csv = format_ == Format::Csv;
    char* p = out_->Reserve(prefix.size() + 2 * name.size() + 16);
    if (!csv) *p++ = '"';
    p = Put(p, prefix);
    *p++ = '/';
    p = Put(p, name);
    if (csv) {
        *p++ = ',';
    } else {
        p = Put(p, "\",\"name\":\"");
    }
    p = Put(p, name);
    if (!csv) *p++ = '"';
    out_->Commit(p);
    return true;
}

const ListingWriter::TimeText& ListingWriter::FindTime(std::int64_t ticks) {
    for (std::size_t i = 0; i < times_.size(); ++i) {
        if (times_[i].ticks == ticks) {
            lastTime_ = i;
            return times_[i];
        }
    }
    return FormatTime(ticks);
}

const ListingWriter::TimeText& ListingWriter::FormatTime(std::int64_t ticks) {
    const TimeText& before = times_[lastTime_];
    lastTime_ = nextTime_++ % times_.size();
    TimeText& t = times_[lastTime_];
    const std::int64_t second = NtfsSecond(ticks);
    char* text = t.text.data();
    // The times of a listing fall on few days, and files written together
    // within one second: what the time made before shares with this one is
    // taken over, not worked out again.
    if (second >= 0 && second == before.second) {
        if (&before != &t) std::memcpy(text, before.text.data(), kSecondLength);
        const auto inSecond = static_cast<std::uint32_t>(ticks - second * kNtfsTicksPerSecond);
        t.length = static_cast<std::size_t>(WriteNtfsFraction(text + kSecondLength, inSecond) - text);
        t.ticks = ticks;
        t.day = before.day;
        t.second = second;
        return t;
    }
    const std::int64_t day = NtfsDay(ticks);
    if (day >= 0 && day == before.day) {
        if (&before != &t) std::memcpy(text, before.text.data(), kDateLength);
        t.length = static_cast<std::size_t>(WriteNtfsTimeOfDay(text + kDateLength, ticks) - text);
    } else {
        t.length = static_cast<std::size_t>(WriteNtfsTime(text, ticks) - text);
    }
    t.ticks = ticks;
    t.day = day;
    t.second = second;
    return t;
}

template <bool csv>
char* ListingWriter::WriteFourTimes(char* p, const listing::Times& times, bool fileName) {
    static constexpr std::string_view kKeys[2][4] = {
        {",\"creationTime\":", ",\"modificationTime\":", ",\"mftModificationTime\":", ",\"accessTime\":"},
        {",\"fnCreationTime\":", ",\"fnModificationTime\":", ",\"fnMftModificationTime\":", ",\"fnAccessTime\":"},
    };
    const std::int64_t values[4] = {times.creation, times.modification, times.mftChange, times.access};
    for (int i = 0; i < 4; ++i) {
        if constexpr (csv) {
            *p++ = ',';
            p = WriteTime(p, values[i]);
            continue;
        }
        p = Put(p, kKeys[fileName ? 1 : 0][i]);
        char* start = p + 1;
        char* end = WriteTime(start, values[i]);
        if (end == start) {
            p = Put(p, "null");
        } else {
            *p = '"';
            *end++ = '"';
            p = end;
        }
    }
    return p;
}

template <bool csv>
void ListingWriter::WriteTimes(const listing::Times& standard, const listing::Times& fileName) {
    char* p = out_->Reserve(8 * (kTimeBound + 32));
    char* const start = p;
    p = WriteFourTimes<csv>(p, standard, false);
    if (csv && fileName == standard) {
        // Most names carry their file's times: the same text again, of a
        // length known when compiled where all four times are set.
        constexpr std::size_t kFourTimes = 4 * (1 + kTimeBound);
        const auto length = static_cast<std::size_t>(p - start);
        if (length == kFourTimes) {
            std::memcpy(p, start, kFourTimes);
        } else {
            std::memcpy(p, start, length);
        }
        p += length;
    } else {
        p = WriteFourTimes<csv>(p, fileName, true);
    }
    out_->Commit(p);
}

void ListingWriter::WriteAttributes(std::uint32_t attributes) {
    // Rows carry few sets of attributes, a folder's and its files' mostly:
    // the texts of the last two are kept.
    const std::uint32_t shown = attributes & kShownAttributes;
    AttributesText* kept = &attributeTexts_[0];
    if (kept->shown != shown) kept = &attributeTexts_[1];
    if (kept->shown != shown) {
        kept = &attributeTexts_[nextAttributeText_];
        nextAttributeText_ ^= 1;
        kept->shown = shown;
        const bool csv = format_ == Format::Csv;
        char* p = Put(kept->text.data(), csv ? "," : ",\"attributes\":[");
        bool first = true;
        for (const AttributeWord& a : kAttributeWords) {
            if ((shown & a.bit) == 0) continue;
            if (!first) *p++ = csv ? ' ' : ',';
            first = false;
            if (!csv) *p++ = '"';
            p = Put(p, a.word);
            if (!csv) *p++ = '"';
        }
        if (!csv) *p++ = ']';
        kept->length = static_cast<std::size_t>(p - kept->text.data());
    }
    // The whole array, a copy of a size known when compiled, of which the
    // text's length counts.
    char* p = out_->Reserve(kAttributesBound);
    std::memcpy(p, kept->text.data(), kAttributesBound);
    out_->Commit(p + kept->length);
}

// A template on the format: each separator and key is then a copy of a
// known length, a few moves instead of a call.
template <bool csv>
void ListingWriter::WriteRow(const listing::Listing& listing, const listing::Row& row) {
    char* p = out_->Reserve(kFixedBound);
    p = Put(p, csv ? "" : "{\"record\":");
    p = WriteUnsigned(p, row.record);
    p = Put(p, csv ? "," : ",\"sequence\":");
    p = WriteUnsigned(p, row.sequence);
    // The rows of a folder come together and share their parent: its two
    // numbers are written once and copied, a move of known size.
    if (row.parent != parent_.record || row.parentSequence != parent_.sequence) {
        char* q = Put(parent_.text.data(), csv ? "," : ",\"parentRecord\":");
        q = WriteUnsigned(q, row.parent);
        q = Put(q, csv ? "," : ",\"parentSequence\":");
        q = WriteUnsigned(q, row.parentSequence);
        q = Put(q, csv ? "," : ",\"path\":");
        parent_.record = row.parent;
        parent_.sequence = row.parentSequence;
        parent_.length = static_cast<std::size_t>(q - parent_.text.data());
    }
    std::memcpy(p, parent_.text.data(), parent_.text.size());
    p += parent_.length;
    out_->Commit(p);
    if (!WriteKeptPathAndName(listing, row)) {
        scratch_.clear();
        listing.AppendPath(row, scratch_);
        WriteField(scratch_, NeedsEscape(scratch_));
        WriteNameAfterPath(NameUtf8(listing, row));
    }

    p = out_->Reserve(kFixedBound);
    p = Put(p, csv ? "," : ",\"namespace\":\"");
    p = Put(p, NamespaceWord(row));
    p = Put(p, csv ? "," : "\",\"type\":\"");
    p = Put(p, TypeWord(row));
    p = Put(p, csv ? "," : "\",\"dataSize\":");
    p = WriteUnsigned(p, row.dataSize);
    p = Put(p, csv ? "," : ",\"allocatedSize\":");
    p = WriteUnsigned(p, row.allocatedSize);
    out_->Commit(p);
    WriteTimes<csv>(row.standardTimes, listing.FileNameTimes(row));
    WriteAttributes(row.attributes);

    p = out_->Reserve(32);
    if (columns_.deleted) {
        if (csv) {
            p = Put(p, row.IsDeleted() ? ",1" : ",0");
        } else {
            p = Put(p, row.IsDeleted() ? ",\"deleted\":true" : ",\"deleted\":false");
        }
    }
    p = Put(p, csv ? "\r\n" : "}\n");
    out_->Commit(p);
}

void ListingWriter::WriteRows(const listing::Listing& listing, const Order& order, std::size_t begin, std::size_t end) {
    const auto& rows = listing.rows();
    // Folder by folder the rows are met far apart in memory: each is asked
    // for a few rows ahead; its place in the tree further ahead, and the
    // path kept for its folder once that place has arrived; its name once
    // the row itself has arrived.
    constexpr std::size_t kPlacesAhead = 32;
    constexpr std::size_t kRowsAhead = 16;
    constexpr std::size_t kNamesAhead = 8;
    for (std::size_t i = begin; i < end; ++i) {
        if (i + kPlacesAhead < end) __builtin_prefetch(listing.PathParentAddress(order[i + kPlacesAhead]));
        if (i + kRowsAhead < end) {
            const char* ahead = reinterpret_cast<const char*>(&rows[order[i + kRowsAhead]]);
            __builtin_prefetch(ahead);
            __builtin_prefetch(ahead + sizeof(listing::Row) - 1);
            const std::uint32_t folder = listing.PathParentAt(order[i + kRowsAhead]);
            if (folder < listing::kOrphanParent && !kept_.empty()) __builtin_prefetch(&KeptSlot(folder));
        }
        if (i + kNamesAhead < end) __builtin_prefetch(listing.NameAddress(rows[order[i + kNamesAhead]]));
        if (format_ == Format::Csv) {
            WriteRow<true>(listing, rows[order[i]]);
        } else {
            WriteRow<false>(listing, rows[order[i]]);
        }
    }
}

void ListingWriter::WriteAll(const listing::Listing& listing, std::size_t blockRows) {
    kept_.clear();  // they name rows of the listing written before
    keptBits_ = kKeptPathBits;
    WriteHeader();
    const Order order = listing::TreeOrder(listing);
    const std::size_t rows = order.size();
    if (blockRows == 0 || rows / kTwoThreadBlocks < blockRows) {
        WriteRows(listing, order, 0, rows);
        return;
    }
    WriteInTwo(listing, order, blockRows);
}

// The blocks are written in order by this thread. It formats the even ones
// itself; the second writer (paths and times kept of its own) formats odd
// ones into a buffer just ahead of it, so the bytes are those of one writer.
// This thread waits only for a block the other is formatting, never for one
// it has not begun: that one it takes itself, so a second writer that on a
// busy machine does not run at all slows nothing.
void ListingWriter::WriteInTwo(const listing::Listing& listing, const Order& order, std::size_t blockRows) {
    const std::size_t rows = order.size();
    const std::size_t blocks = (rows + blockRows - 1) / blockRows;
    auto write = [&listing, &order, rows, blockRows](ListingWriter& writer, std::size_t block) {
        writer.WriteRows(listing, order, block * blockRows, std::min(rows, (block + 1) * blockRows));
    };
    // A slot's state: 0 free, or a block's number times 4 plus 1 while the
    // second writer formats it, plus 2 once it is ready, plus 3 while this
    // thread formats that block itself.
    constexpr std::uint64_t kFree = 0;
    auto working = [](std::size_t block) { return std::uint64_t{block} * 4 + 1; };
    auto ready = [](std::size_t block) { return std::uint64_t{block} * 4 + 2; };
    auto taken = [](std::size_t block) { return std::uint64_t{block} * 4 + 3; };
    struct Slot {
        // Room for a block of the longest lines at once: a buffer that grows
        // copies what it holds into fresh pages, while room never written
        // costs nothing.
        OutputBuffer text{nullptr, std::size_t{4} << 20};
        std::atomic<std::uint64_t> state{0};
    };
    std::array<Slot, 2> slots;
    auto slotOf = [&slots](std::size_t oddBlock) -> Slot& { return slots[(oddBlock / 2) % 2]; };
    // Each writer sees nearly every folder, so each keeps half as many
    // paths as one alone would: together they hold no more memory.
    keptBits_ = kKeptPathBits - 1;
    std::atomic<std::size_t> mainAt{0};
    std::atomic<bool> stop{false};

    auto second = [&] {
        Slot* held = nullptr;  // the slot this thread formats into
        try {
            ListingWriter other(slots[0].text, format_, columns_);
            other.keptBits_ = keptBits_;
            std::size_t next = 1;
            while (!stop.load(std::memory_order_acquire)) {
                std::size_t block = std::max(next, mainAt.load(std::memory_order_acquire) + 1) | 1;
                if (block >= blocks) return;
                Slot& slot = slotOf(block);
                std::uint64_t state = slot.state.load(std::memory_order_acquire);
                if (state != kFree) {
                    // An earlier block not passed on yet, or one the other
                    // thread took: free once the other is done with it.
                    slot.state.wait(state, std::memory_order_acquire);
                    continue;
                }
                if (!slot.state.compare_exchange_strong(state, working(block), std::memory_order_acq_rel)) continue;
                if (mainAt.load(std::memory_order_acquire) > block) {
                    // The other thread got past it meanwhile.
                    slot.state.store(kFree, std::memory_order_release);
                    slot.state.notify_one();
                    continue;
                }
                held = &slot;
                slot.text.Clear();
                other.out_ = &slot.text;
                write(other, block);
                held = nullptr;
                slot.state.store(ready(block), std::memory_order_release);
                slot.state.notify_one();
                next = block + 2;
            }
        } catch (...) {
            // Out of memory here: the blocks left, this one too, are all
            // formatted by the other thread, which must not wait for it.
            if (held != nullptr) {
                held->state.store(kFree, std::memory_order_release);
                held->state.notify_one();
            }
        }
    };
    std::thread helper;
    try {
        helper = std::thread(second);
    } catch (const std::system_error&) {
        // No thread to be had: one does it all.
        for (std::size_t block = 0; block < blocks; ++block) write(*this, block);
        return;
    }
    auto endHelper = [&] {
        stop.store(true, std::memory_order_release);
        for (Slot& slot : slots) {
            slot.state.store(kFree, std::memory_order_release);
            slot.state.notify_one();
        }
        helper.join();
    };
    try {
        for (std::size_t block = 0; block < blocks; ++block) {
            mainAt.store(block, std::memory_order_release);
            if (block % 2 == 1) {
                Slot& slot = slotOf(block);
                std::uint64_t state = slot.state.load(std::memory_order_acquire);
                // A block the second writer is formatting is waited for, not
                // formatted again: it runs, so it is done within the time
                // this thread would take.
                while (state == working(block)) {
                    slot.state.wait(state, std::memory_order_acquire);
                    state = slot.state.load(std::memory_order_acquire);
                }
                if (state == ready(block)) {
                    out_->Pass(slot.text.Pending());
                    slot.state.store(kFree, std::memory_order_release);
                    slot.state.notify_one();
                    continue;
                }
                // Not begun: this thread takes it, and the second writer,
                // which would find the slot taken, moves on past it.
                if (state == kFree && slot.state.compare_exchange_strong(state, taken(block), std::memory_order_acq_rel)) {
                    write(*this, block);
                    slot.state.store(kFree, std::memory_order_release);
                    slot.state.notify_one();
                    continue;
                }
                if (state % 4 == 2) {
                    slot.state.store(kFree, std::memory_order_release);
                    slot.state.notify_one();
                }
            }
            write(*this, block);
        }
    } catch (...) {
        endHelper();
        throw;
    }
    endHelper();
}

}  // namespace tarnwick::cli
