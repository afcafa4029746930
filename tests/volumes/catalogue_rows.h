// Catalogue rows as the expected-catalogue TSV files hold them, the same rows
// made from the library's entries, and a readable diff between two sets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ResultRecord_Internal;

namespace volume_tests {

struct Row {
    std::int32_t parentId = 0, id = 0, flag = 0, nameSpace = 0;
    std::int64_t allocatedSize = 0, actualSize = 0;
    std::int64_t creationTime = 0, modificationTime = 0, mftModificationTime = 0, accessTime = 0;
    std::string name, parentName;  // escaped UTF-8, as in the TSV files

    bool operator<(const Row& o) const;
    std::string Line() const;
};

struct Expected {
    std::int32_t status = 0;
    std::vector<Row> rows;
    std::vector<std::string> warnings;
};

Expected ReadExpected(const std::string& path);

struct Loaded {
    std::int32_t status = 0;
    std::vector<Row> rows;
};

// Loads `image` through the public interface (LoadMft, GetPointer, Clear).
Loaded LoadThroughLibrary(const std::string& image);

// Empty when equal; otherwise a diff that names every differing field.
std::string DiffRows(std::vector<Row> expected, std::vector<Row> actual, std::size_t maxLines = 20);

// Runs a shell command, returns its standard output and exit status.
std::string RunCommand(const std::string& command, int* status = nullptr);

}  // namespace volume_tests
