// Cross-check of a catalogue against The Sleuth Kit's `fls -r -p` listing of
// the same image. Both name every file in every directory, but by design the
// catalogue leaves some names out and fls others; everything else must agree.
#pragma once

#include "catalogue_rows.h"

#include <cstdint>
#include <string>
#include <vector>

namespace volume_tests {

struct FlsName {
    std::int32_t parent = -1;  // record of the directory listing it; -1 unknown
    std::int32_t record = 0;
    std::string name;          // as fls prints it
    bool deleted = false;
    std::string line;
};

// Parses fls output; alternate data stream lines, the $OrphanFiles virtual
// folder and everything under it are left out.
std::vector<FlsName> ParseFls(const std::string& output);

// Where the builder's reader found each index entry: "root", "alloc" or "stale".
struct IndexName {
    std::int32_t directory, id;
    int nameSpace;
    std::string where;
    std::string name;  // escaped, as in the TSV
};
std::vector<IndexName> ReadIndexNames(const std::string& path);

// How fls spells a name (control characters and broken surrogates become '^'),
// from the escaped TSV spelling.
std::string FlsSpelling(const std::string& escapedName);

struct CrossCheck {
    bool ok = true;
    std::string report;  // counts of every allowed difference, then the faults
};

CrossCheck CompareWithFls(const std::vector<Row>& catalogue, const std::vector<FlsName>& fls,
                          const std::vector<IndexName>& indexNames);

}  // namespace volume_tests
