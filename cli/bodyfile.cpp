#include "bodyfile.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "output_buffer.h"
#include "text_format.h"

namespace tarnwick::cli {

namespace {

constexpr std::int64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;

char* WriteNumber(char* out, std::int64_t value) {
    return std::to_chars(out, out + 24, value).ptr;
}

// The separator and line end cannot appear inside a field: the timeline tool
// splits on them without any quoting. Control characters become '^' as The
// Sleuth Kit writes them; so does '|', which only POSIX names can hold.
char* WriteName(char* out, std::string_view text) {
    for (const char c : text) *out++ = static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '|' ? '^' : c;
    return out;
}

}  // namespace

std::int64_t UnixSeconds(std::int64_t ntfsTime) {
    if (ntfsTime < kTicksFrom1601To1970) return 0;
    return (ntfsTime - kTicksFrom1601To1970) / kNtfsTicksPerSecond;
}

void BodyFileWriter::WriteLine(const listing::Row& row, std::string_view path, std::string_view suffix,
                               const listing::Times& times, std::uint64_t size) {
    char* p = out_.Reserve(path.size() + suffix.size() + 256);
    *p++ = '0';
    *p++ = '|';
    p = WriteName(p, path);
    for (const char c : suffix) *p++ = c;
    *p++ = '|';
    p = WriteNumber(p, static_cast<std::int64_t>(row.record));
    // The name's kind, then the file's kind and permissions as The Sleuth
    // Kit derives them: a deleted name's kind is unknown, and read-only and
    // hidden files lose their write bits. A stream has the kind of its file.
    const char kind = row.IsDirectory() || (row.IsStream() && directories_.contains(row.record)) ? 'd' : 'r';
    *p++ = '|';
    *p++ = row.IsDeleted() ? '-' : kind;
    *p++ = '/';
    *p++ = kind;
    const bool readOnly =
        (row.attributes & (file_attribute::kReadOnly | file_attribute::kHidden)) != 0;
    for (int i = 0; i < 3; ++i) {
        *p++ = 'r';
        *p++ = readOnly ? '-' : 'w';
        *p++ = 'x';
    }
    *p++ = '|';
    *p++ = '0';
    *p++ = '|';
    *p++ = '0';
    *p++ = '|';
    p = WriteNumber(p, static_cast<std::int64_t>(size));
    for (const std::int64_t time : {times.access, times.modification, times.mftChange, times.creation}) {
        *p++ = '|';
        p = WriteNumber(p, UnixSeconds(time));
    }
    *p++ = '\n';
    out_.Commit(p);
}

void BodyFileWriter::WriteRow(const listing::Listing& listing, const listing::Row& row, std::string_view path) {
    const bool deleted = row.IsDeleted();
    WriteLine(row, path, deleted ? " (deleted)" : "", row.standardTimes, row.dataSize);
    // A stream is an attribute of the file, not a name: it has no times of its own.
    if (row.IsStream()) return;
    // The size of a name's line is that of its $FILE_NAME attribute: 66
    // bytes and the name.
    WriteLine(row, path, deleted ? " ($FILE_NAME) (deleted)" : " ($FILE_NAME)", listing.FileNameTimes(row),
              66 + 2 * std::uint64_t{Utf16Units(listing.Name(row))});
}

void BodyFileWriter::WriteAll(const listing::Listing& listing) {
    const auto& rows = listing.rows();
    if (std::any_of(rows.begin(), rows.end(), [](const listing::Row& row) { return row.IsStream(); })) {
        for (const listing::Row& row : rows) {
            if (row.IsDirectory()) directories_.insert(row.record);
        }
    }
    for (const listing::Row& row : rows) {
        path_.clear();
        listing.AppendPath(row, path_);
        WriteRow(listing, row, path_);
    }
}

}  // namespace tarnwick::cli
