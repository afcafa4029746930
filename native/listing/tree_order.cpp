#include "listing/tree_order.h"

#include <utility>
#include <vector>

namespace tarnwick::listing {

LargeVector<std::uint32_t> TreeOrder(const Listing& listing) {
    const auto& rows = listing.rows();
    const auto count = static_cast<std::uint32_t>(rows.size());
    // Children of each row (and of the two ends of paths, kept after the
    // rows) gathered by counting: `first[i]` is where row i's children
    // start in `children`, `first[i + 1]` where they end; two more entries
    // serve the counting.
    const std::uint32_t root = count;
    const std::uint32_t orphans = count + 1;
    auto slot = [&](std::uint32_t row) {
        const std::uint32_t parent = listing.PathParentAt(row);
        if (parent == kRootParent) return root;
        return parent < count ? parent : orphans;
    };
    LargeVector<std::uint32_t> first(static_cast<std::size_t>(orphans) + 3, 0);
    // Which rows have children, a bit each: the walk asks it of every row,
    // and these bits stay in the cache where `first` is met far apart.
    std::vector<std::uint64_t> hasChildren((static_cast<std::size_t>(count) + 63) / 64, 0);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t parent = slot(i);
        ++first[parent + 2];
        if (parent < count) hasChildren[parent / 64] |= std::uint64_t{1} << (parent % 64);
    }
    for (std::size_t i = 2; i < first.size(); ++i) first[i] += first[i - 1];
    LargeVector<std::uint32_t> children(count);
    for (std::uint32_t i = 0; i < count; ++i) children[first[slot(i) + 1]++] = i;

    LargeVector<std::uint32_t> order;
    order.reserve(count);
    // Each entry: the next child to visit of a folder and the end of its
    // children. The depth of folders is bounded when paths are resolved.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> stack;
    for (const std::uint32_t top : {root, orphans}) {
        stack.emplace_back(first[top], first[top + 1]);
        while (!stack.empty()) {
            auto& [next, end] = stack.back();
            if (next == end) {
                stack.pop_back();
                continue;
            }
            const std::uint32_t row = children[next++];
            order.push_back(row);
            if ((hasChildren[row / 64] >> (row % 64) & 1) != 0) stack.emplace_back(first[row], first[row + 1]);
        }
    }
    // Every row hangs from one of the two ends once paths are resolved; a
    // row left out all the same is never lost: the table's order instead.
    if (order.size() != count) {
        order.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) order[i] = i;
    }
    return order;
}

}  // namespace tarnwick::listing
