#include "catalogue/finish_catalogue.h"

#include <algorithm>
#include <climits>

#include "catalogue/record_numbers.h"
#include "ntfs/file_name.h"
#include "ntfs/file_record.h"
#include "status/status.h"

namespace tarnwick {

namespace {

using Key = EntryKey;
using Order = LargeVector<ResultRecord_Internal*>;

bool KeyLess(const Key& a, const Key& b) {
    return a.idAndParent != b.idAndParent ? a.idAndParent < b.idAndParent : a.position < b.position;
}

// Sorts keys that are in appending order by (id, parent, position). The ids
// of a sound volume are its record numbers, a range barely larger than the
// count of entries: they are counted into place in two sweeps, and only the
// few keys sharing an id (the names of one file) are then sorted among
// themselves. Ids spread wider than that take a comparison sort.
void SortKeys(LargeVector<Key>& keys) {
    const std::size_t n = keys.size();
    if (n < 2) return;
    auto high = [](const Key& key) { return static_cast<std::uint32_t>(key.idAndParent >> 32); };
    std::uint32_t lowest = high(keys[0]);
    std::uint32_t highest = lowest;
    for (const Key& key : keys) {
        lowest = std::min(lowest, high(key));
        highest = std::max(highest, high(key));
    }
    const std::uint64_t range = std::uint64_t{highest} - lowest + 1;
    if (!WorthATableByNumber(range, n)) {
        std::sort(keys.begin(), keys.end(), KeyLess);
        return;
    }
    LargeVector<std::uint32_t> next(static_cast<std::size_t>(range) + 1);
    for (const Key& key : keys) ++next[high(key) - lowest + 1];
    for (std::size_t i = 1; i < next.size(); ++i) next[i] += next[i - 1];
    LargeVector<Key> sorted(n);
    for (const Key& key : keys) sorted[next[high(key) - lowest]++] = key;
    for (std::size_t i = 0; i < n;) {
        std::size_t end = i + 1;
        while (end < n && high(sorted[end]) == high(sorted[i])) ++end;
        if (end - i > 1) {
            std::sort(sorted.begin() + static_cast<std::ptrdiff_t>(i), sorted.begin() + static_cast<std::ptrdiff_t>(end),
                      KeyLess);
        }
        i = end;
    }
    keys.swap(sorted);
}

// Orders the entries by id as signed numbers without moving them. Entries of
// one id are kept together by parent and then in order of appending: any
// order among equal ids is a valid outcome of the sort, and this one puts
// the names of a file in one directory next to each other, where the
// duplicate pass looks for them. The keys come back in the same order.
Order& SortById(EntryList& entries, LargeVector<Key>& keys) {
    SortKeys(keys);
    Order& order = entries.StartOrdering();
    for (std::size_t i = 0; i < keys.size(); ++i) order[i] = entries.AppendedAt(keys[i].position);
    return order;
}

// Marks the redundant one of two names of one file in one directory, on the
// entry and on its key.
std::int32_t MarkDuplicates(Order& order, LargeVector<Key>& keys) {
    auto mark = [&](std::size_t i) {
        order[i]->duplicate = 1;
        keys[i].duplicate = true;
    };
    for (std::size_t i = 1; i < order.size(); ++i) {
        const Key& first = keys[i - 1];
        const Key& second = keys[i];
        if (first.idAndParent != second.idAndParent) continue;
        if (first.nameSpace == kNamespacePosix || second.nameSpace == kNamespacePosix) {
            if (first.nameSpace == kNamespacePosix) mark(i - 1);
            if (second.nameSpace == kNamespacePosix) mark(i);
        } else if (second.nameSpace == kNamespaceWin32 && first.nameSpace == kNamespaceDos) {
            mark(i - 1);
        } else if (second.nameSpace == kNamespaceDos && first.nameSpace == kNamespaceWin32) {
            mark(i);
        } else {
            return second.nameSpace == kNamespaceWin32AndDos ? ToInt(StatusCode::Unexpected)
                                                             : ToInt(StatusCode::Unexpected2);
        }
    }
    return 0;
}

// Drops the marked entries, keeping the others (and their keys) in order.
void RemoveDuplicates(Order& order, LargeVector<Key>& keys) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (keys[i].duplicate) continue;
        order[kept] = order[i];
        keys[kept] = keys[i];
        ++kept;
    }
    order.resize(kept);
    keys.resize(kept);
}

}  // namespace

std::int32_t FinishCatalogue(EntryList& entries, RecordNameList& recordNames) {
    if (entries.empty()) return ToInt(StatusCode::Size1);
    entries.KeyNewEntries();
    LargeVector<Key>& keys = entries.keys();
    const std::size_t appended = keys.size();

    Order& order = SortById(entries, keys);
    if (const std::int32_t status = MarkDuplicates(order, keys); status != 0) return status;
    // Kept entries stay in id order.
    RemoveDuplicates(order, keys);

    recordNames.Sort();
    for (std::size_t i = 0; i < order.size(); ++i) {
        const Key& key = keys[i];
        if (key.nameSpace == kNamespaceDos) {
            const std::int32_t k = recordNames.Find(key.Id());
            if (k < 0) return ToInt(StatusCode::Unexpected3);
            CopyText(order[i]->name, recordNames[static_cast<std::size_t>(k)].name);
            order[i]->nameSpace = kNamespaceWin32AndDos;
        }
        if (key.parentNameEmpty) {
            const std::int32_t k = recordNames.Find(key.ParentId());
            if (k < 0) return ToInt(StatusCode::Unexpected4);
            CopyText(order[i]->parentName, recordNames[static_cast<std::size_t>(k)].name);
        }
    }
    // Looked up in id order, where the lookups walk the names in order;
    // stored in appending order, where the stores walk the entries through
    // memory instead of scattering over the whole catalogue. Entries marked
    // duplicate are left as they are. Record flags are 16 bits wide, so the
    // mark of a dropped entry cannot be mistaken for flags.
    constexpr std::int32_t kDropped = INT32_MIN;
    LargeVector<std::int32_t> flags(appended, kDropped);
    for (std::size_t i = 0; i < order.size(); ++i) flags[keys[i].position] = recordNames.FlagsOf(keys[i].Id(), kFlagsFileInUse);
    for (std::size_t p = 0; p < appended; ++p) {
        if (flags[p] != kDropped) entries.AppendedAt(p)->flag = flags[p];
    }
    return 0;
}

}  // namespace tarnwick
