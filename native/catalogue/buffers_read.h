// The index buffers a load has read, by byte offset, and whether a live
// directory read each: an open-addressing table, because a node-based map
// costs an allocation and a cache miss per buffer, tens of thousands of
// times per load.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/page_allocator.h"

namespace tarnwick {

class BuffersRead {
public:
    // Notes a reading of the buffer at `offset` (>= 0). True when the buffer
    // is to be read: the first time, or the first time for a live directory.
    bool Note(std::int64_t offset, bool live) {
        if (2 * (used_ + 1) > slots_.size()) Grow();
        Slot& slot = Find(offset);
        if (slot.offset == kEmpty) {
            slot = {offset, live};
            ++used_;
            return true;
        }
        if (live && !slot.live) {
            slot.live = true;
            return true;
        }
        return false;
    }

private:
    struct Slot {
        std::int64_t offset;
        bool live;
    };
    static constexpr std::int64_t kEmpty = -1;

    Slot& Find(std::int64_t offset) {
        const std::size_t mask = slots_.size() - 1;
        // The high bits of a multiplicative hash: offsets are multiples of
        // the cluster size, so their own low bits are all alike.
        std::size_t i = static_cast<std::size_t>(static_cast<std::uint64_t>(offset) * 0x9E3779B97F4A7C15ull >> (64 - bits_));
        while (slots_[i].offset != kEmpty && slots_[i].offset != offset) i = (i + 1) & mask;
        return slots_[i];
    }

    void Grow() {
        bits_ = slots_.empty() ? 10 : bits_ + 1;
        LargeVector<Slot> old(std::size_t{1} << bits_, Slot{kEmpty, false});
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.offset != kEmpty) Find(slot.offset) = slot;
        }
    }

    LargeVector<Slot> slots_;
    unsigned bits_ = 0;  // slots_ holds 2^bits_ slots
    std::size_t used_ = 0;
};

}  // namespace tarnwick
