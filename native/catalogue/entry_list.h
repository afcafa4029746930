// The catalogue's entries: each at a fixed address from its append until
// Clear (GetPointer hands the addresses out), kept in catalogue order through
// a sequence of addresses, so ordering and cutting never move an entry.
#pragma once

#include <cstddef>
#include <vector>

#include "catalogue/stable_storage.h"
#include "tarnwick.h"

namespace tarnwick {

class EntryList {
public:
    // A zero-filled entry appended at the end.
    ResultRecord_Internal& Append() {
        ResultRecord_Internal* entry = storage_.Append();
        order_.push_back(entry);
        return *entry;
    }

    std::size_t size() const { return order_.size(); }
    bool empty() const { return order_.empty(); }
    ResultRecord_Internal& operator[](std::size_t i) { return *order_[i]; }
    const ResultRecord_Internal& operator[](std::size_t i) const { return *order_[i]; }

    // The catalogue order, for sorting and cutting.
    std::vector<ResultRecord_Internal*>& order() { return order_; }

    void Clear() {
        order_.clear();
        order_.shrink_to_fit();
        storage_.Clear();
    }

private:
    StableStorage<ResultRecord_Internal> storage_;
    std::vector<ResultRecord_Internal*> order_;
};

}  // namespace tarnwick
