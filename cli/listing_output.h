// The `list` output: one line per row of the listing (every name of every
// file record, and with the options deleted records and named streams), CSV
// or JSON Lines. Columns are described in docs/cli.md.
#pragma once

#include <string>
#include <string_view>

#include "listing/listing.h"
#include "output_format.h"

namespace tarnwick::cli {

class OutputBuffer;

struct ListingColumns {
    bool deleted = false;  // a `deleted` column after the others
};

class ListingWriter {
public:
    ListingWriter(OutputBuffer& out, Format format, ListingColumns columns) : out_(out), format_(format), columns_(columns) {}

    // The CSV header line; JSON Lines has none.
    void WriteHeader();

    // One line for `row`. `path` is its whole path, `name` its last part
    // (with ":stream" for a stream row), both UTF-16 as the volume holds them.
    void WriteRow(const listing::Row& row, std::u16string_view path, std::u16string_view name);

    // Header and every row of `listing` in its order.
    void WriteAll(const listing::Listing& listing);

private:
    void WriteText(std::u16string_view text);
    void WriteTimes(const listing::Times& times, bool fileName);
    void WriteAttributes(std::uint32_t attributes);

    OutputBuffer& out_;
    Format format_;
    ListingColumns columns_;
    // Kept between rows so that a line costs no allocation once they have grown.
    std::u16string path_;
    std::u16string name_;
    std::string scratch_;
};

}  // namespace tarnwick::cli
