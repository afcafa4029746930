#include "catalogue/record_name_list.h"

#include <algorithm>
#include <utility>

#include "catalogue/record_numbers.h"

namespace tarnwick {

void RecordNameList::Append(std::int32_t recordNumber, NameRef name, std::int32_t flags, std::int32_t mark) {
    RecordName* element = storage_.Append();
    element->recordNumber = recordNumber;
    std::uint16_t* text = names_.Allocate(std::min<std::size_t>(name.units, kLongestName) + 1);
    CopyName(text, name);
    element->name = text;
    element->flags = flags;
    element->mark = mark;
    items_.push_back(element);
    sortedNumbers_.clear();
    sortedFlags_.clear();
    indexByNumber_.clear();
}

void RecordNameList::NoteBaseFlags(std::uint32_t position, std::int32_t flags) {
    // Positions are those of the records read, so the table never outgrows
    // the pass, whatever numbers the records claim.
    if (position >= baseFlags_.size()) baseFlags_.resize(std::size_t{position} + 1, kNoBaseRecord);
    baseFlags_[position] = flags;
}

namespace {

// The pass appends names in the order of the master file table, so nearly
// all keys arrive in order already; the few that do not (names found in
// extension records, under their base record's smaller number) are taken
// out, sorted on their own and merged back from the end. Keys are unique
// (they end in the position), so the result is the one any sort gives.
using Keyed = LargeVector<std::pair<std::uint64_t, RecordName*>>;

void SortKeyed(Keyed& keyed) {
    Keyed stragglers;
    std::size_t inOrder = 0;
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        if (inOrder == 0 || keyed[inOrder - 1].first < keyed[i].first) {
            keyed[inOrder++] = keyed[i];
        } else {
            stragglers.push_back(keyed[i]);
        }
    }
    if (stragglers.empty()) return;
    std::sort(stragglers.begin(), stragglers.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::size_t to = keyed.size();
    std::size_t from = inOrder;
    std::size_t rest = stragglers.size();
    while (rest > 0) {
        if (from > 0 && keyed[from - 1].first > stragglers[rest - 1].first) {
            keyed[--to] = keyed[--from];
        } else {
            keyed[--to] = stragglers[--rest];
        }
    }
}

}  // namespace

void RecordNameList::Sort() {
    // Sorting (key, address) pairs is several times faster than moving the
    // elements; the key orders by signed number, then by position.
    Keyed keyed(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) {
        RecordName& element = *items_[i];
        if (element.mark == kFromExtensionRecord && element.recordNumber >= 0 &&
            static_cast<std::size_t>(element.recordNumber) < baseFlags_.size() &&
            baseFlags_[static_cast<std::size_t>(element.recordNumber)] != kNoBaseRecord) {
            element.flags = baseFlags_[static_cast<std::size_t>(element.recordNumber)];
        }
        keyed[i] = {(std::uint64_t{OrderedBits(element.recordNumber)} << 32) | static_cast<std::uint32_t>(i), &element};
    }
    SortKeyed(keyed);
    // The numbers come from the keys: reading them from the elements would
    // visit the elements in sorted order, scattered over the whole list.
    sortedNumbers_.resize(items_.size());
    sortedFlags_.resize(items_.size());
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        items_[i] = keyed[i].second;
        sortedNumbers_[i] = FromOrderedBits(static_cast<std::uint32_t>(keyed[i].first >> 32));
        sortedFlags_[i] = keyed[i].second->flags;
    }
    BuildTableByNumber();
}

void RecordNameList::BuildTableByNumber() {
    indexByNumber_.clear();
    if (sortedNumbers_.empty()) return;
    const std::int32_t largest = sortedNumbers_.back();
    if (largest < 0 || !WorthATableByNumber(std::uint64_t(largest) + 1, sortedNumbers_.size())) return;
    indexByNumber_.resize(static_cast<std::size_t>(largest) + 1);
    const std::size_t n = sortedNumbers_.size();
    for (std::size_t i = 0; i < n;) {
        const std::int32_t number = sortedNumbers_[i];
        std::size_t end = i + 1;
        while (end < n && sortedNumbers_[end] == number) ++end;
        if (number >= 0) {
            const std::int32_t index = end - i == 1 ? static_cast<std::int32_t>(i) : Halve(number);
            indexByNumber_[static_cast<std::size_t>(number)] = index + 1;
        }
        i = end;
    }
}

std::int32_t RecordNameList::Find(std::int32_t recordNumber) const {
    if (!indexByNumber_.empty() && recordNumber >= 0) {
        const auto number = static_cast<std::size_t>(recordNumber);
        return number < indexByNumber_.size() ? indexByNumber_[number] - 1 : -1;
    }
    return Halve(recordNumber);
}

std::int32_t RecordNameList::Halve(std::int32_t recordNumber) const {
    const LargeVector<std::int32_t>& numbers = sortedNumbers_;
    if (numbers.empty()) return -1;
    std::size_t lo = 0;
    std::size_t hi = numbers.size() - 1;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (numbers[mid] < recordNumber) {
            lo = mid + 1;
        } else if (numbers[mid] > recordNumber) {
            if (mid == 0) return -1;
            hi = mid - 1;
        } else {
            return static_cast<std::int32_t>(mid);
        }
    }
    return numbers[lo] == recordNumber ? static_cast<std::int32_t>(lo) : -1;
}

void RecordNameList::Clear() {
    items_ = {};
    sortedNumbers_ = {};
    sortedFlags_ = {};
    indexByNumber_ = {};
    baseFlags_ = {};
    storage_.Clear();
    names_.Clear();
}

}  // namespace tarnwick
