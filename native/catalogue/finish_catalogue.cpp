#include "catalogue/finish_catalogue.h"

#include <algorithm>
#include <cstring>

#include "ntfs/file_name.h"
#include "status/status.h"

namespace tarnwick {

namespace {

std::uint32_t Biased(std::int32_t value) { return static_cast<std::uint32_t>(value) ^ 0x80000000u; }

// Orders the entries by id as signed numbers without moving them. Entries of
// one id are kept together by parent and then in order of appending: any
// order among equal ids is a valid outcome of the sort, and this one puts
// the names of a file in one directory next to each other, where the
// duplicate pass looks for them.
void SortById(std::vector<ResultRecord_Internal*>& order) {
    struct Key {
        std::uint64_t idAndParent;
        std::uint32_t position;
    };
    std::vector<Key> keys(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        const ResultRecord_Internal& e = *order[i];
        keys[i] = {(std::uint64_t{Biased(e.id)} << 32) | Biased(e.parentId), static_cast<std::uint32_t>(i)};
    }
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return a.idAndParent != b.idAndParent ? a.idAndParent < b.idAndParent : a.position < b.position;
    });
    std::vector<ResultRecord_Internal*> sorted(order.size());
    for (std::size_t i = 0; i < keys.size(); ++i) sorted[i] = order[keys[i].position];
    order.swap(sorted);
}

// Marks the redundant one of two names of one file in one directory.
std::int32_t MarkDuplicates(std::vector<ResultRecord_Internal*>& order) {
    for (std::size_t i = 1; i < order.size(); ++i) {
        ResultRecord_Internal& first = *order[i - 1];
        ResultRecord_Internal& second = *order[i];
        if (first.parentId != second.parentId || first.id != second.id) continue;
        if (first.nameSpace == kNamespacePosix || second.nameSpace == kNamespacePosix) {
            if (first.nameSpace == kNamespacePosix) first.duplicate = 1;
            if (second.nameSpace == kNamespacePosix) second.duplicate = 1;
        } else if (second.nameSpace == kNamespaceWin32 && first.nameSpace == kNamespaceDos) {
            first.duplicate = 1;
        } else if (second.nameSpace == kNamespaceDos && first.nameSpace == kNamespaceWin32) {
            second.duplicate = 1;
        } else {
            return second.nameSpace == kNamespaceWin32AndDos ? ToInt(StatusCode::Unexpected)
                                                             : ToInt(StatusCode::Unexpected2);
        }
    }
    return 0;
}

void CopyText(std::uint16_t* field, const std::uint16_t* text) {
    std::size_t n = 0;
    while (n < 255 && text[n] != 0) ++n;
    std::memcpy(field, text, 2 * n);
    field[n] = 0;
}

}  // namespace

std::int32_t FinishCatalogue(EntryList& entries, RecordNameList& recordNames) {
    if (entries.empty()) return ToInt(StatusCode::Size1);
    std::vector<ResultRecord_Internal*>& order = entries.order();

    SortById(order);
    if (const std::int32_t status = MarkDuplicates(order); status != 0) return status;
    // Kept entries stay in id order.
    order.erase(std::remove_if(order.begin(), order.end(), [](const ResultRecord_Internal* e) { return e->duplicate != 0; }),
                order.end());

    recordNames.Sort();
    for (ResultRecord_Internal* entry : order) {
        if (entry->nameSpace == kNamespaceDos) {
            const std::int32_t k = recordNames.Find(entry->id);
            if (k < 0) return ToInt(StatusCode::Unexpected3);
            CopyText(entry->name, recordNames[static_cast<std::size_t>(k)].name);
            entry->nameSpace = kNamespaceWin32AndDos;
        }
        if (entry->parentName[0] == 0) {
            const std::int32_t k = recordNames.Find(entry->parentId);
            if (k < 0) return ToInt(StatusCode::Unexpected4);
            CopyText(entry->parentName, recordNames[static_cast<std::size_t>(k)].name);
        }
    }
    for (ResultRecord_Internal* entry : order) {
        const std::int32_t k = recordNames.Find(entry->id);
        entry->flag = k < 0 ? 1 : recordNames[static_cast<std::size_t>(k)].flags;
    }
    return 0;
}

}  // namespace tarnwick
