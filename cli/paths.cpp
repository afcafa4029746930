#include "paths.h"

#include <algorithm>
#include <cstring>

#include "output_buffer.h"
#include "text_format.h"
#include "ntfs/file_name.h"
#include "ntfs/file_record.h"

namespace tarnwick::cli {

namespace {

bool IsDirectory(const ResultRecord_Internal& entry) { return (entry.flag & kFlagDirectory) != 0; }

// Orders two names of one directory: a directory reachable through two
// parents (two links) must get the same path on every run.
bool NameLess(const std::uint16_t* a, const std::uint16_t* b) {
    const std::size_t la = BoundedLength(a, kTextFieldUnits);
    const std::size_t lb = BoundedLength(b, kTextFieldUnits);
    return std::lexicographical_compare(a, a + la, b, b + lb);
}

std::string Marker(const char* what, std::uint32_t record) {
    char digits[kIntegerBound];
    char* end = WriteUnsigned(digits, record);
    std::string text = "<";
    text += what;
    text += ' ';
    text.append(digits, static_cast<std::size_t>(end - digits));
    text += '>';
    return text;
}

void WritePiece(OutputBuffer& out, std::string_view text, Escape escape) {
    switch (escape) {
        case Escape::None: out.Append(text); break;
        case Escape::Csv: {
            char* p = out.Reserve(CsvBound(text.size()));
            out.Commit(WriteCsvEscaped(p, text));
            break;
        }
        case Escape::Json: {
            char* p = out.Reserve(JsonBound(text.size()));
            out.Commit(WriteJsonEscaped(p, text));
            break;
        }
    }
}

}  // namespace

PathResolver::PathResolver(std::span<const ResultRecord_Internal* const> entries) {
    for (const ResultRecord_Internal* entry : entries) {
        if (!IsDirectory(*entry)) continue;
        const auto record = static_cast<std::uint32_t>(entry->id);
        if (record == kRootRecord) continue;
        const auto parent = static_cast<std::uint32_t>(entry->parentId);
        const auto [it, added] = index_.try_emplace(record, static_cast<std::int32_t>(nodes_.size()));
        if (added) {
            nodes_.push_back(Node{record, parent, kToRoot, false, 0, 0, entry->name});
            continue;
        }
        Node& node = nodes_[static_cast<std::size_t>(it->second)];
        if (parent < node.parent || (parent == node.parent && NameLess(entry->name, node.source))) {
            node.parent = parent;
            node.source = entry->name;
        }
    }
    for (Node& node : nodes_) {
        const std::size_t units = BoundedLength(node.source, kTextFieldUnits);
        const std::size_t offset = names_.size();
        names_.resize(offset + Utf8Bound(units));
        char* end = WriteUtf8(names_.data() + offset, node.source, units);
        names_.resize(static_cast<std::size_t>(end - names_.data()));
        node.nameOffset = offset;
        node.nameLength = names_.size() - offset;
        node.csvQuote = CsvNeedsQuotes(NameOf(node));
        node.source = nullptr;
    }
    LinkParents();
    BreakCycles();
    kept_.resize(nodes_.size());
}

void PathResolver::LinkParents() {
    for (Node& node : nodes_) {
        if (node.parent == kRootRecord) {
            node.parentNode = kToRoot;
            continue;
        }
        const auto it = index_.find(node.parent);
        node.parentNode = it == index_.end() ? kToUnknown : it->second;
    }
}

// Cuts every loop of parent links once, so that any later walk ends. The
// node whose parent closes the loop ends its walk there with "<cycle N>".
void PathResolver::BreakCycles() {
    enum : std::uint8_t { kUnvisited, kOnWalk, kDone };
    std::vector<std::uint8_t> state(nodes_.size(), kUnvisited);
    std::vector<std::int32_t> walk;
    for (std::size_t start = 0; start < nodes_.size(); ++start) {
        walk.clear();
        std::int32_t current = static_cast<std::int32_t>(start);
        while (current >= 0 && state[static_cast<std::size_t>(current)] == kUnvisited) {
            state[static_cast<std::size_t>(current)] = kOnWalk;
            walk.push_back(current);
            current = nodes_[static_cast<std::size_t>(current)].parentNode;
        }
        if (current >= 0 && state[static_cast<std::size_t>(current)] == kOnWalk) {
            nodes_[static_cast<std::size_t>(walk.back())].parentNode = kToCycle;
        }
        for (const std::int32_t node : walk) state[static_cast<std::size_t>(node)] = kDone;
    }
}

std::string PathResolver::EndMarker(std::int32_t end, const Node& top) const {
    if (end == kToRoot) return {};
    return Marker(end == kToCycle ? "cycle" : "unknown", top.parent);
}

const std::string* PathResolver::CachedPath(std::int32_t node) const {
    KeptPath& own = kept_[static_cast<std::size_t>(node)];
    if (own.state == Kept::kKept) return &own.path;
    if (own.state == Kept::kNever) return nullptr;

    chain_.clear();
    std::int32_t current = node;
    while (current >= 0 && kept_[static_cast<std::size_t>(current)].state == Kept::kNotYet) {
        if (chain_.size() == kCacheDepth) return nullptr;  // walked this time; ancestors are kept on their own turn
        chain_.push_back(current);
        current = nodes_[static_cast<std::size_t>(current)].parentNode;
    }
    std::string path;
    bool quote = false;
    std::uint32_t depth = 0;
    Kept state = Kept::kKept;
    if (current >= 0) {
        const KeptPath& base = kept_[static_cast<std::size_t>(current)];
        if (base.state == Kept::kNever) state = Kept::kNever;
        path = base.path;
        quote = base.csvQuote;
        depth = base.depth;
    } else {
        path = EndMarker(current, nodes_[static_cast<std::size_t>(chain_.back())]);
    }
    for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
        const Node& step = nodes_[static_cast<std::size_t>(*it)];
        KeptPath& kept = kept_[static_cast<std::size_t>(*it)];
        if (state == Kept::kKept) {
            path += '/';
            path += NameOf(step);
            quote = quote || step.csvQuote;
            ++depth;
            if (depth > kCacheDepth || keptBytes_ + path.size() > kCacheBytes) state = Kept::kNever;
        }
        kept.state = state;
        if (state == Kept::kKept) {
            kept.path = path;
            kept.csvQuote = quote;
            kept.depth = depth;
            keptBytes_ += path.size() + sizeof(KeptPath);
        }
    }
    return own.state == Kept::kKept ? &own.path : nullptr;
}

void PathResolver::WritePath(OutputBuffer& out, const ResultRecord_Internal& entry, std::string_view nameUtf8, Escape escape) const {
    const auto record = static_cast<std::uint32_t>(entry.id);
    const auto parent = static_cast<std::uint32_t>(entry.parentId);
    std::string_view start;  // what stands before the last '/'
    std::string marker;
    bool quote = escape == Escape::Json;
    if (record == kRootRecord) {
        nameUtf8 = {};
    } else if (parent != kRootRecord) {
        const auto it = index_.find(parent);
        if (it == index_.end()) {
            marker = Marker("unknown", parent);
            start = marker;
        } else if (const std::string* kept = CachedPath(it->second)) {
            start = *kept;
            quote = quote || (escape == Escape::Csv && kept_[static_cast<std::size_t>(it->second)].csvQuote);
        } else {
            WriteWalkedPath(out, it->second, nameUtf8, escape);
            return;
        }
    }
    if (escape == Escape::Csv) quote = quote || CsvNeedsQuotes(nameUtf8);
    const Escape pieces = quote ? escape : Escape::None;
    if (quote) out.Append('"');
    WritePiece(out, start, pieces);
    out.Append('/');
    WritePiece(out, nameUtf8, pieces);
    if (quote) out.Append('"');
}

void PathResolver::WriteWalkedPath(OutputBuffer& out, std::int32_t parent, std::string_view nameUtf8, Escape escape) const {
    chain_.clear();
    std::int32_t current = parent;
    while (current >= 0 && chain_.size() < kMaxDepth) {
        chain_.push_back(current);
        current = nodes_[static_cast<std::size_t>(current)].parentNode;
    }
    const std::string start = current >= 0 ? std::string("<too deep>") : EndMarker(current, nodes_[static_cast<std::size_t>(chain_.back())]);

    bool quote = escape == Escape::Json;
    if (escape == Escape::Csv) {
        quote = CsvNeedsQuotes(nameUtf8);
        for (const std::int32_t node : chain_) quote = quote || nodes_[static_cast<std::size_t>(node)].csvQuote;
    }
    if (quote) out.Append('"');
    const Escape pieces = quote ? escape : Escape::None;
    out.Append(start);
    for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
        out.Append('/');
        WritePiece(out, NameOf(nodes_[static_cast<std::size_t>(*it)]), pieces);
    }
    out.Append('/');
    WritePiece(out, nameUtf8, pieces);
    if (quote) out.Append('"');
}

std::string PathResolver::Path(const ResultRecord_Internal& entry) const {
    OutputBuffer out(nullptr, 256);
    const std::size_t units = BoundedLength(entry.name, kTextFieldUnits);
    std::string name(Utf8Bound(units), '\0');
    name.resize(static_cast<std::size_t>(WriteUtf8(name.data(), entry.name, units) - name.data()));
    WritePath(out, entry, name, Escape::None);
    return std::string(out.Pending());
}

}  // namespace tarnwick::cli
