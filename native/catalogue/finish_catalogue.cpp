#include "catalogue/finish_catalogue.h"

#include <algorithm>

#include "ntfs/file_name.h"
#include "status/status.h"

namespace tarnwick {

namespace {

std::uint32_t Biased(std::int32_t value) { return static_cast<std::uint32_t>(value) ^ 0x80000000u; }

// The sweeps over the entries in appending order read or write a few fields
// spread over each 1096-byte entry, a stride the processor does not guess:
// asking for the lines of an entry a few steps ahead hides their latency.
constexpr std::size_t kPrefetchAhead = 8;

void PrefetchKeyFields(const ResultRecord_Internal* e) {
#if defined(__GNUC__)
    __builtin_prefetch(&e->parentId);
    __builtin_prefetch(&e->id);
    __builtin_prefetch(&e->nameSpace);
    __builtin_prefetch(&e->duplicate);
#else
    (void)e;
#endif
}

void PrefetchFlag(ResultRecord_Internal* e) {
#if defined(__GNUC__)
    __builtin_prefetch(&e->flag, 1);
#else
    (void)e;
#endif
}

// What the passes after the sort need to know of an entry, gathered in one
// sweep over the entries in the order they were appended, which is their
// order in memory. In id order the entries lie scattered over the whole
// catalogue, so every field read there is a cache miss; the passes read
// these keys instead and touch an entry only to change it.
struct Key {
    std::uint64_t idAndParent;  // biased id, then biased parent id: the sort key
    std::uint32_t position;     // in appending order
    std::uint8_t nameSpace;     // 0 to 3 as they are, anything else as kOtherNamespace
    bool parentNameEmpty;
    bool duplicate;
};
constexpr std::uint8_t kOtherNamespace = 4;

std::int32_t KeyId(const Key& key) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(key.idAndParent >> 32) ^ 0x80000000u); }
std::int32_t KeyParentId(const Key& key) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(key.idAndParent) ^ 0x80000000u);
}

// Orders the entries by id as signed numbers without moving them. Entries of
// one id are kept together by parent and then in order of appending: any
// order among equal ids is a valid outcome of the sort, and this one puts
// the names of a file in one directory next to each other, where the
// duplicate pass looks for them. The keys come back in the same order, and
// `appended` keeps the order of appending.
std::vector<Key> SortById(std::vector<ResultRecord_Internal*>& order, std::vector<ResultRecord_Internal*>& appended) {
    std::vector<Key> keys(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i + kPrefetchAhead < order.size()) PrefetchKeyFields(order[i + kPrefetchAhead]);
        const ResultRecord_Internal& e = *order[i];
        const bool known = e.nameSpace >= kNamespacePosix && e.nameSpace <= kNamespaceWin32AndDos;
        keys[i] = {(std::uint64_t{Biased(e.id)} << 32) | Biased(e.parentId), static_cast<std::uint32_t>(i),
                   known ? static_cast<std::uint8_t>(e.nameSpace) : kOtherNamespace, e.parentName[0] == 0,
                   e.duplicate != 0};
    }
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return a.idAndParent != b.idAndParent ? a.idAndParent < b.idAndParent : a.position < b.position;
    });
    appended.resize(order.size());
    for (std::size_t i = 0; i < keys.size(); ++i) appended[i] = order[keys[i].position];
    order.swap(appended);
    return keys;
}

// Marks the redundant one of two names of one file in one directory, on the
// entry and on its key.
std::int32_t MarkDuplicates(std::vector<ResultRecord_Internal*>& order, std::vector<Key>& keys) {
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
void RemoveDuplicates(std::vector<ResultRecord_Internal*>& order, std::vector<Key>& keys) {
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
    std::vector<ResultRecord_Internal*>& order = entries.order();

    std::vector<ResultRecord_Internal*> appended;
    std::vector<Key> keys = SortById(order, appended);
    if (const std::int32_t status = MarkDuplicates(order, keys); status != 0) return status;
    // Kept entries stay in id order.
    RemoveDuplicates(order, keys);

    recordNames.Sort();
    for (std::size_t i = 0; i < order.size(); ++i) {
        const Key& key = keys[i];
        if (key.nameSpace == kNamespaceDos) {
            const std::int32_t k = recordNames.Find(KeyId(key));
            if (k < 0) return ToInt(StatusCode::Unexpected3);
            CopyText(order[i]->name, recordNames[static_cast<std::size_t>(k)].name);
            order[i]->nameSpace = kNamespaceWin32AndDos;
        }
        if (key.parentNameEmpty) {
            const std::int32_t k = recordNames.Find(KeyParentId(key));
            if (k < 0) return ToInt(StatusCode::Unexpected4);
            CopyText(order[i]->parentName, recordNames[static_cast<std::size_t>(k)].name);
        }
    }
    // Looked up in id order, where the lookups walk the names in order;
    // stored in appending order, where the stores walk the entries through
    // memory instead of scattering over the whole catalogue. The kept
    // entries are exactly those not marked duplicate.
    std::vector<std::int32_t> flags(appended.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::int32_t k = recordNames.Find(KeyId(keys[i]));
        flags[keys[i].position] = k < 0 ? 1 : recordNames[static_cast<std::size_t>(k)].flags;
    }
    for (std::size_t p = 0; p < appended.size(); ++p) {
        if (p + kPrefetchAhead < appended.size()) PrefetchFlag(appended[p + kPrefetchAhead]);
        if (appended[p]->duplicate == 0) appended[p]->flag = flags[p];
    }
    return 0;
}

}  // namespace tarnwick
