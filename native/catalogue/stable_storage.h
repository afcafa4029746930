// Append-only storage whose elements never move: they live in large
// zero-filled blocks from the platform, so appending copies nothing, the
// address of an element stays valid until Clear, and a million elements cost
// a few mappings rather than a million heap blocks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
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
            T* block = TakePrepared();
            if (block == nullptr) block = static_cast<T*>(platform::AllocateZeroedPages(BlockBytes()));
            if (block == nullptr) throw std::bad_alloc();
            blocks_.push_back(block);
            blocksInUse_.store(blocks_.size(), std::memory_order_relaxed);
            used_ = 0;
        }
        return blocks_.back() + used_++;
    }

    // Makes a block ready for Append ahead of need, its pages already
    // touched, so that the first touches (the system zeroing each page) fall
    // to whoever has time for them: another thread may call it while one
    // appends. False when enough blocks wait already, when too few elements
    // came yet to suggest more will (a small volume would pay for blocks it
    // never uses), or when no memory is left.
    bool PrepareBlock() {
        if (blocksInUse_.load(std::memory_order_relaxed) < 2) return false;
        {
            const std::lock_guard lock(preparedMutex_);
            if (prepared_.size() >= kMostPrepared) return false;
        }
        void* block = platform::AllocateZeroedPages(BlockBytes());
        if (block == nullptr) return false;
        auto* bytes = static_cast<volatile unsigned char*>(block);
        for (std::size_t i = 0; i < BlockBytes(); i += kPageBytes) bytes[i] = 0;
        const std::lock_guard lock(preparedMutex_);
        prepared_.push_back(static_cast<T*>(block));
        return true;
    }

    // The element appended `index`-th since the last Clear.
    T* At(std::size_t index) const { return blocks_[index / PerBlock()] + index % PerBlock(); }

    // Releases every block, also those prepared and not used; the memory
    // goes back to the system at once.
    void Clear() {
        ReleasePrepared();
        for (T* block : blocks_) platform::FreePages(block, BlockBytes());
        blocks_.clear();
        blocks_.shrink_to_fit();
        blocksInUse_.store(0, std::memory_order_relaxed);
        used_ = PerBlock();
    }

    void ReleasePrepared() {
        const std::lock_guard lock(preparedMutex_);
        for (T* block : prepared_) platform::FreePages(block, BlockBytes());
        prepared_.clear();
    }

private:
    static constexpr std::size_t BlockBytes() { return std::size_t{32} << 20; }
    static constexpr std::size_t PerBlock() { return BlockBytes() / sizeof(T); }
    static constexpr std::size_t kPageBytes = 4096;
    static constexpr std::size_t kMostPrepared = 2;

    T* TakePrepared() {
        const std::lock_guard lock(preparedMutex_);
        if (prepared_.empty()) return nullptr;
        T* block = prepared_.front();
        prepared_.erase(prepared_.begin());
        return block;
    }

    std::vector<T*> blocks_;
    std::atomic<std::size_t> blocksInUse_{0};  // blocks_.size(), for PrepareBlock on another thread
    std::size_t used_ = PerBlock();
    std::mutex preparedMutex_;
    std::vector<T*> prepared_;
};

// Append-only storage for terminated UTF-16 texts of at most 256 units, each
// at a fixed address until Clear, packed one after the other so that a short
// name costs its own length rather than a whole 256-unit field.
class TextStorage {
public:
    TextStorage() = default;
    TextStorage(const TextStorage&) = delete;
    TextStorage& operator=(const TextStorage&) = delete;
    ~TextStorage() { Clear(); }

    // Room for `units` units (terminator included, at most 256), zero-filled.
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
