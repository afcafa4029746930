// An allocator for the load's big working arrays (keys, orders, lookup
// tables of a million elements). The heap hands such arrays out in small
// pages, and a first touch of each costs here about as much as copying a few
// KiB; from the platform's large mappings the same memory arrives in huge
// pages where the system offers them. Small arrays still come from the heap.
#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <vector>

#include "platform/platform.h"

namespace tarnwick {

template <typename T>
class PageAllocator {
public:
    using value_type = T;

    PageAllocator() = default;
    template <typename U>
    PageAllocator(const PageAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > (std::numeric_limits<std::size_t>::max() - kHugePage) / sizeof(T)) throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (!IsLarge(bytes)) return static_cast<T*>(::operator new(bytes));
        void* pages = platform::AllocateZeroedPages(Rounded(bytes));
        if (pages == nullptr) throw std::bad_alloc();
        return static_cast<T*>(pages);
    }

    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (!IsLarge(bytes)) {
            ::operator delete(p);
        } else {
            platform::FreePages(p, Rounded(bytes));
        }
    }

    template <typename U>
    bool operator==(const PageAllocator<U>&) const noexcept {
        return true;
    }

private:
    static constexpr std::size_t kHugePage = std::size_t{2} << 20;
    static bool IsLarge(std::size_t bytes) { return bytes >= kHugePage / 2; }
    // Whole huge pages, so the mapping can be made of them.
    static std::size_t Rounded(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
};

template <typename T>
using LargeVector = std::vector<T, PageAllocator<T>>;

}  // namespace tarnwick
