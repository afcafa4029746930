// Append-only storage whose elements never move: they live in large
// zero-filled blocks from the platform, so appending copies nothing, the
// address of an element stays valid until Clear, and a million elements cost
// a few mappings rather than a million heap blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <vector>

#include "platform/platform.h"

namespace tarnwick {

template <typename T>
class StableStorage {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    StableStorage() = default;
    StableStorage(const StableStorage&) = delete;
    StableStorage& operator=(const StableStorage&) = delete;
    ~StableStorage() { Clear(); }

    // A zero-filled element at a fixed address. Throws bad_alloc when the
    // system has no memory left.
    T* Append() {
        if (blocks_.empty() || used_ == PerBlock()) {
            blocks_.reserve(blocks_.size() + 1);
            auto* block = static_cast<T*>(platform::AllocateZeroedPages(BlockBytes()));
            if (block == nullptr) throw std::bad_alloc();
            blocks_.push_back(block);
            used_ = 0;
        }
        return blocks_.back() + used_++;
    }

    // The element appended `index`-th since the last Clear.
    T* At(std::size_t index) const { return blocks_[index / PerBlock()] + index % PerBlock(); }

    // Releases every block; the memory goes back to the system at once.
    void Clear() {
        for (T* block : blocks_) platform::FreePages(block, BlockBytes());
        blocks_.clear();
        blocks_.shrink_to_fit();
        used_ = PerBlock();
    }

private:
    static constexpr std::size_t BlockBytes() { return std::size_t{32} << 20; }
    static constexpr std::size_t PerBlock() { return BlockBytes() / sizeof(T); }

    std::vector<T*> blocks_;
    std::size_t used_ = PerBlock();
};

// Append-only storage for terminated UTF-16 names, each at a fixed address
// until Clear, packed one after the other so that a short name costs its
// own length rather than a whole text field.
class TextStorage {
public:
    TextStorage() = default;
    TextStorage(const TextStorage&) = delete;
    TextStorage& operator=(const TextStorage&) = delete;
    ~TextStorage() { Clear(); }

    // Room for `units` units (terminator included), zero-filled.
    std::uint16_t* Allocate(std::size_t units) {
        if (blocks_.empty() || used_ + units > kBlockUnits) {
            blocks_.reserve(blocks_.size() + 1);
            void* block = platform::AllocateZeroedPages(kBlockUnits * sizeof(std::uint16_t));
            if (block == nullptr) throw std::bad_alloc();
            blocks_.push_back(static_cast<std::uint16_t*>(block));
            used_ = 0;
        }
        std::uint16_t* text = blocks_.back() + used_;
        used_ += units;
        return text;
    }

    void Clear() {
        for (std::uint16_t* block : blocks_) platform::FreePages(block, kBlockUnits * sizeof(std::uint16_t));
        blocks_.clear();
        blocks_.shrink_to_fit();
        used_ = 0;
    }

private:
    static constexpr std::size_t kBlockUnits = std::size_t{8} << 20;

    std::vector<std::uint16_t*> blocks_;
    std::size_t used_ = 0;
};

}  // namespace tarnwick
