// Full paths of catalogue entries. The catalogue is flat: each entry knows
// only its parent's record number, so paths are found by walking parent
// records through the directories the catalogue itself lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ntfs/file_record.h"
#include "tarnwick.h"

namespace tarnwick::cli {

class OutputBuffer;

enum class Escape { None, Csv, Json };

class PathResolver {
public:
    // Deeper chains are cut off; a real volume never comes near this (its
    // paths are limited to 32767 UTF-16 units), a hostile one cannot make a
    // single line cost more.
    static constexpr std::size_t kMaxDepth = 16384;

    // Paths of directories are kept once made, so that a line costs one
    // lookup instead of a walk through scattered parents. Only this much is
    // kept; deeper or longer paths, and any beyond the budget, are walked.
    static constexpr std::size_t kCacheDepth = 512;
    static constexpr std::size_t kCacheBytes = std::size_t{256} << 20;

    // The entries must outlive the resolver.
    explicit PathResolver(std::span<const ResultRecord_Internal* const> entries);

    // Writes the path of `entry`, whose name is `nameUtf8`, as one output
    // field: the root is "/", an entry of the root "/name". A parent that is
    // not in the catalogue starts the path with "<unknown N>", a chain of
    // parents that comes back on itself with "<cycle N>", N the record
    // number where the walk stopped.
    void WritePath(OutputBuffer& out, const ResultRecord_Internal& entry, std::string_view nameUtf8, Escape escape) const;

    // The same as a plain string.
    std::string Path(const ResultRecord_Internal& entry) const;

    std::size_t DirectoryCount() const { return nodes_.size(); }

private:
    static constexpr std::int32_t kToRoot = -1;
    static constexpr std::int32_t kToUnknown = -2;
    static constexpr std::int32_t kToCycle = -3;

    struct Node {
        std::uint32_t record = 0;
        std::uint32_t parent = 0;          // parent record number as the entry gives it
        std::int32_t parentNode = kToRoot;  // node index, or where the walk ends
        bool csvQuote = false;
        std::size_t nameOffset = 0;  // in names_, UTF-8
        std::size_t nameLength = 0;
        const std::uint16_t* source = nullptr;  // the chosen entry's name while building
    };

    void LinkParents();
    void BreakCycles();
    // The whole path of directory `node`, or null when it is not kept.
    const std::string* CachedPath(std::int32_t node) const;
    void WriteWalkedPath(OutputBuffer& out, std::int32_t parent, std::string_view nameUtf8, Escape escape) const;
    std::string EndMarker(std::int32_t end, const Node& top) const;
    std::string_view NameOf(const Node& node) const { return {names_.data() + node.nameOffset, node.nameLength}; }

    std::vector<Node> nodes_;
    std::unordered_map<std::uint32_t, std::int32_t> index_;  // record number -> node
    std::string names_;
    mutable std::vector<std::int32_t> chain_;

    enum class Kept : std::uint8_t { kNotYet, kKept, kNever };
    struct KeptPath {
        Kept state = Kept::kNotYet;
        bool csvQuote = false;
        std::uint32_t depth = 0;
        std::string path;
    };
    mutable std::vector<KeptPath> kept_;
    mutable std::size_t keptBytes_ = 0;
};

}  // namespace tarnwick::cli
