// The body file of The Sleuth Kit (3.x), which its timeline tool reads: for
// every name a line with the $STANDARD_INFORMATION times and one with the
// name's own $FILE_NAME times, and a line per named stream.
//
//   MD5|name|inode|mode_as_string|UID|GID|size|atime|mtime|ctime|crtime
//
// Times are whole seconds since 1970 (0 when unknown or earlier); ctime is
// the file record's change time. The inode field is the file record number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "listing/listing.h"

namespace tarnwick::cli {

class OutputBuffer;

// NTFS ticks (100 ns since 1601) as whole seconds since 1970, 0 before.
std::int64_t UnixSeconds(std::int64_t ntfsTime);

class BodyFileWriter {
public:
    explicit BodyFileWriter(OutputBuffer& out) : out_(out) {}

    // The lines of one row of `listing`; `path` is its whole path ("/dir/name", with
    // ":stream" for a stream row).
    void WriteRow(const listing::Listing& listing, const listing::Row& row, std::string_view path);

    // Every row of `listing`, in its order. There is no header.
    void WriteAll(const listing::Listing& listing);

private:
    void WriteLine(const listing::Row& row, std::string_view path, std::string_view suffix,
                   const listing::Times& times, std::uint64_t size);

    OutputBuffer& out_;
    std::string path_;  // kept between rows: no allocation per line once grown
    // Records that are directories, when there are streams to give a kind.
    std::unordered_set<std::uint64_t> directories_;
};

}  // namespace tarnwick::cli
