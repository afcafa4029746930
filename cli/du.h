// Where the space went: allocated bytes and files per directory, summed over
// each directory's whole tree, from the listing. A file with several names
// (hard links) counts once, under the directory of the first name the table
// gives it; its named streams count with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "listing/listing.h"
#include "output_format.h"

namespace tarnwick::cli {

class OutputBuffer;

struct DirectoryUsage {
    std::string path;  // UTF-8, "/" for the root
    std::uint64_t allocated = 0;
    std::uint64_t files = 0;
    int depth = 0;  // below the directory asked for
};

struct UsageQuery {
    std::string path = "/";  // as the user wrote it: "/Windows", "Windows/" ...
    int depth = 1;           // 0: only the directory itself
    std::optional<std::size_t> top;
};

// The directory `query.path` and those below it down to `query.depth`,
// biggest first (then by path). A one-line reason when there is no such
// directory.
std::optional<std::string> SumUsage(const listing::Listing& listing, const UsageQuery& query,
                                    std::vector<DirectoryUsage>& usage);

// Csv and JsonLines give exact bytes; Text gives "20 MiB" unless `exactBytes`.
enum class UsageFormat { Text, Csv, JsonLines };
void WriteUsage(OutputBuffer& out, UsageFormat format, bool exactBytes, const std::vector<DirectoryUsage>& usage);

}  // namespace tarnwick::cli
