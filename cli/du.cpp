#include "du.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <unordered_map>

#include "byte_size.h"
#include "ntfs/file_record.h"
#include "output_buffer.h"
#include "text_format.h"

namespace tarnwick::cli {

namespace {

constexpr std::uint64_t kBadClusterRecord = 8;
constexpr std::uint32_t kNone = UINT32_MAX;

struct Directory {
    std::uint32_t row = kNone;     // its name in the listing; none for the root and the orphans
    std::uint32_t parent = kNone;  // index into the directories
    std::uint64_t allocated = 0;   // own files first, then the whole tree
    std::uint64_t files = 0;
};

// The directory tree of the listing, by index: 0 is the root, 1 the folder
// of orphans (files whose parent is gone), as paths show them.
class Tree {
public:
    explicit Tree(const listing::Listing& listing) : listing_(listing) {
        directories_.resize(2);
        directories_[1].parent = 0;
        index_[kRootRecord] = 0;
        const auto& rows = listing.rows();
        for (std::uint32_t i = 0; i < rows.size(); ++i) {
            const listing::Row& row = rows[i];
            if (!row.IsDirectory() || row.IsStream() || row.IsDeleted() || row.record == kRootRecord) continue;
            if (index_.try_emplace(row.record, static_cast<std::uint32_t>(directories_.size())).second) {
                directories_.push_back({i, kNone, 0, 0});
            }
        }
        for (Directory& directory : directories_) {
            if (directory.row == kNone) continue;
            directory.parent = HomeOf(rows[directory.row]);
        }
        BreakLoops();
        CountFiles(rows);
        SumTrees();
    }

    std::optional<std::uint32_t> Find(std::string_view wanted) const {
        const std::string normal = Normalise(wanted);
        std::optional<std::uint32_t> caseless;
        for (std::uint32_t i = 0; i < directories_.size(); ++i) {
            const std::string path = PathOf(i);
            if (path == normal) return i;
            if (!caseless && SameIgnoringCase(path, normal)) caseless = i;
        }
        return caseless;  // NTFS names are compared without case by Windows
    }

    // The directories at most `depth` levels below `top`, each with its depth.
    std::vector<std::pair<std::uint32_t, int>> Below(std::uint32_t top, int depth) const {
        std::vector<std::pair<std::uint32_t, int>> found;
        for (std::uint32_t i = 0; i < directories_.size(); ++i) {
            if (i == 1 && directories_[1].files == 0) continue;  // no orphans, no folder
            int level = 0;
            std::uint32_t at = i;
            while (at != top && at != 0 && level <= depth) {
                at = directories_[at].parent;
                ++level;
            }
            if (at == top && level <= depth) found.emplace_back(i, level);
        }
        return found;
    }

    const Directory& operator[](std::uint32_t i) const { return directories_[i]; }

    std::string PathOf(std::uint32_t i) const {
        if (i == 0) return "/";
        if (i == 1) return "/$OrphanFiles";
        std::string path;
        listing_.AppendPath(listing_.rows()[directories_[i].row], path);
        return path;
    }

private:
    // The directory a name lies in: its parent when that is an in-use
    // directory, the orphans' folder otherwise.
    std::uint32_t HomeOf(const listing::Row& row) const {
        if (row.IsOrphan()) return 1;
        const auto it = index_.find(row.parent);
        return it == index_.end() || it->first == row.record ? 1 : it->second;
    }

    // $BadClus:$Bad spans the whole volume by design, as one sparse run with
    // the bad clusters mapped into it: its sizes say nothing of the space used.
    bool IsBadClusterMap(const listing::Row& row) const {
        return row.record == kBadClusterRecord && listing_.StreamName(row) == "$Bad";
    }

    void CountFiles(std::span<const listing::Row> rows) {
        // The directory each file record was first counted in.
        std::unordered_map<std::uint64_t, std::uint32_t> counted;
        for (const listing::Row& row : rows) {
            if (row.IsDeleted()) continue;
            if (row.IsStream()) {
                if (IsBadClusterMap(row)) continue;
                // A stream's row follows its file's names; a directory's streams are its own.
                const auto file = counted.find(row.record);
                const auto directory = index_.find(row.record);
                if (file != counted.end()) {
                    directories_[file->second].allocated += row.allocatedSize;
                } else if (directory != index_.end()) {
                    directories_[directory->second].allocated += row.allocatedSize;
                }
                continue;
            }
            if (row.IsDirectory()) continue;
            const std::uint32_t home = HomeOf(row);
            if (!counted.try_emplace(row.record, home).second) continue;  // another name of a file counted
            directories_[home].allocated += row.allocatedSize;
            directories_[home].files += 1;
        }
    }

    // A damaged volume can make directories each other's parents. Such a
    // ring never reaches the root: the first of it met goes to the orphans,
    // which hangs the rest of the ring below it.
    void BreakLoops() {
        for (std::size_t i = 2; i < directories_.size(); ++i) {
            std::uint32_t at = directories_[i].parent;
            std::size_t steps = 0;
            while (at > 1 && steps++ < directories_.size()) at = directories_[at].parent;
            if (at > 1) directories_[i].parent = 1;
        }
    }

    // Adds each directory's own files to every directory above it.
    void SumTrees() {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> own(directories_.size());
        for (std::size_t i = 0; i < directories_.size(); ++i) own[i] = {directories_[i].allocated, directories_[i].files};
        for (std::size_t i = 0; i < directories_.size(); ++i) {
            std::uint32_t at = directories_[i].parent;
            while (at != kNone) {
                directories_[at].allocated += own[i].first;
                directories_[at].files += own[i].second;
                at = directories_[at].parent;
            }
        }
    }

    static std::string Normalise(std::string_view path) {
        std::string out = "/";
        for (const char c : path) {
            if (c == '/' && out.back() == '/') continue;
            out.push_back(c);
        }
        if (out.size() > 1 && out.back() == '/') out.pop_back();
        return out;
    }

    static bool SameIgnoringCase(std::string_view a, std::string_view b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
                   return lower(x) == lower(y);
               });
    }

    const listing::Listing& listing_;
    std::vector<Directory> directories_;
    std::unordered_map<std::uint64_t, std::uint32_t> index_;
};

}  // namespace

std::optional<std::string> SumUsage(const listing::Listing& listing, const UsageQuery& query,
                                    std::vector<DirectoryUsage>& usage) {
    const Tree tree(listing);
    const std::optional<std::uint32_t> top = tree.Find(query.path);
    if (!top) return "no directory " + query.path;
    usage.clear();
    for (const auto& [index, depth] : tree.Below(*top, query.depth)) {
        usage.push_back({tree.PathOf(index), tree[index].allocated, tree[index].files, depth});
    }
    std::sort(usage.begin(), usage.end(), [](const DirectoryUsage& a, const DirectoryUsage& b) {
        if (a.allocated != b.allocated) return a.allocated > b.allocated;
        return a.path < b.path;
    });
    if (query.top && usage.size() > *query.top) usage.resize(*query.top);
    return std::nullopt;
}

void WriteUsage(OutputBuffer& out, UsageFormat format, bool exactBytes, const std::vector<DirectoryUsage>& usage) {
    if (format == UsageFormat::Csv) out.Append("path,allocatedSize,files,depth\r\n");
    for (const DirectoryUsage& line : usage) {
        if (format == UsageFormat::Text) {
            const std::string size = exactBytes ? std::to_string(line.allocated) : HumanBytes(line.allocated);
            char head[64];
            std::snprintf(head, sizeof head, "%*s %10llu  ", exactBytes ? 15 : 9, size.c_str(),
                          static_cast<unsigned long long>(line.files));
            out.Append(head);
            out.Append(line.path);
            out.Append('\n');
        } else if (format == UsageFormat::Csv) {
            out.Append(CsvField(line.path));
            // std::string first: GCC 12's -Wrestrict misreads `"," + std::string&&` in Release builds.
            out.Append(std::string(",") + std::to_string(line.allocated) + "," + std::to_string(line.files) + "," +
                       std::to_string(line.depth) + "\r\n");
        } else {
            out.Append("{\"path\":" + JsonString(line.path) + ",\"allocatedSize\":" + std::to_string(line.allocated) +
                       ",\"files\":" + std::to_string(line.files) + ",\"depth\":" + std::to_string(line.depth) +
                       "}\n");
        }
    }
}

}  // namespace tarnwick::cli
