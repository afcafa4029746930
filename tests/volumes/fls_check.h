// Cross-check of a catalogue against The Sleuth Kit's `fls -r -p` listing of
// the same image. Both name every file in every directory, but by design the
// catalogue leaves some names out and fls others; everything else must agree.
#pragma once

#include "catalogue_rows.h"

#include <cstdint>
#include <set>
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

// The paths of an `fls -r -p` listing as "/a/b", by kind. The $OrphanFiles
// virtual folder itself and the streams of indexes ($I30, $SDH, ...) are
// left out.
struct FlsPaths {
    std::set<std::string> names;    // in-use names
    std::set<std::string> streams;  // "path:stream" of named $DATA streams
    std::set<std::string> deleted;  // names fls marks deleted ("*")
    std::set<std::string> streamOwners;  // paths of files fls lists streams of
};
FlsPaths ParseFlsPaths(const std::string& output);

// A path as fls spells it: control characters become '^'.
std::string FlsSpellingOfPath(const std::string& utf8Path);

// Compares two sets of paths (`what` names the kind in the report). Allowed
// differences: fls cuts long paths short, shows an unpaired surrogate as '^'
// (swallowing the next unit after a high one) where the tool writes U+FFFD,
// lists some files only through their streams (`streamOwners`), so the
// tool may list those by their own name, and lists names left in indexes
// whose records the tool finds no longer in use (`ourDeleted`).
CrossCheck ComparePaths(const std::string& what, const std::set<std::string>& ours, const std::set<std::string>& theirs,
                        const std::set<std::string>& streamOwners = {}, const std::set<std::string>& ourDeleted = {});

}  // namespace volume_tests
