// The catalogue's entries: each at a fixed address from its append until
// Clear (GetPointer hands the addresses out). They are ordered through a
// sequence of addresses, so ordering and cutting never move an entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "catalogue/record_numbers.h"
#include "catalogue/stable_storage.h"
#include "ntfs/file_name.h"
#include "platform/page_allocator.h"
#include "tarnwick.h"

namespace tarnwick {

static_assert(sizeof(ResultRecord_Internal::name) == kTextFieldUnits * sizeof(std::uint16_t) &&
                  sizeof(ResultRecord_Internal::parentName) == kTextFieldUnits * sizeof(std::uint16_t),
              "the entry's text fields hold the longest NTFS name and a terminator");

// What finishing the catalogue needs to know of an entry. The keys are taken
// while the entries are fresh in cache, right after their index buffer was
// walked; read back at the end, they would cost a cache miss on every field
// of every entry of a catalogue many times the size of the cache.
struct EntryKey {
    std::uint64_t idAndParent;  // biased id, then biased parent id: orders as signed numbers
    std::uint32_t position;     // in appending order
    std::uint8_t nameSpace;     // 0 to 3 as they are, anything else as kOtherNamespace
    bool parentNameEmpty;
    bool duplicate;

    static constexpr std::uint8_t kOtherNamespace = 4;

    std::int32_t Id() const { return FromOrderedBits(static_cast<std::uint32_t>(idAndParent >> 32)); }
    std::int32_t ParentId() const { return FromOrderedBits(static_cast<std::uint32_t>(idAndParent)); }
};

class EntryList {
public:
    // A zero-filled entry appended at the end.
    ResultRecord_Internal& Append() {
        ResultRecord_Internal& entry = *storage_.Append();
        ++appended_;  // only once the entry exists: Append may throw
        return entry;
    }

    // Takes the keys of the entries appended since the last call.
    void KeyNewEntries();
    LargeVector<EntryKey>& keys() { return keys_; }

    // Entries in catalogue order once ordered, in appending order before.
    std::size_t size() const { return ordered_ ? order_.size() : appended_; }
    bool empty() const { return size() == 0; }
    ResultRecord_Internal& operator[](std::size_t i) { return ordered_ ? *order_[i] : *storage_.At(i); }
    const ResultRecord_Internal& operator[](std::size_t i) const { return ordered_ ? *order_[i] : *storage_.At(i); }

    ResultRecord_Internal* AppendedAt(std::size_t position) { return storage_.At(position); }

    // The catalogue order from now on, for sorting and cutting; it starts as
    // room for every entry appended. The list switches to it only once the
    // room is there, so a failed allocation leaves it in appending order.
    LargeVector<ResultRecord_Internal*>& StartOrdering() {
        order_.resize(appended_);
        ordered_ = true;
        return order_;
    }

    void Clear() {
        order_ = {};
        keys_ = {};
        storage_.Clear();
        appended_ = 0;
        ordered_ = false;
    }

private:
    StableStorage<ResultRecord_Internal> storage_;
    std::size_t appended_ = 0;
    LargeVector<EntryKey> keys_;
    LargeVector<ResultRecord_Internal*> order_;
    bool ordered_ = false;
};

}  // namespace tarnwick
