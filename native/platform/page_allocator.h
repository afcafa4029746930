// An allocator for big working arrays (keys, orders, lookup tables, rows of
// a million elements). The heap hands such arrays out in small pages, and a
// first touch of each costs here about as much as copying a few KiB; from
// the platform's large mappings the same memory arrives in huge pages where
// the system offers them. Small arrays still come from the heap.
//
// Huge pages pay where a process fills its memory soon after another gave
// the same back. On a virtual machine that returns memory left free for a
// few seconds to its host, a huge page first touched after that costs a
// fault of the host for each of its 4 KiB, while small pages come from
// memory the machine still holds: the listing, whose one run mostly follows
// such a pause, asks for small ones (PageSize::Small).
#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <vector>

#include "platform/platform.h"

namespace tarnwick {

template <typename T, platform::PageSize kPageSize = platform::PageSize::Huge>
class PageAllocator {
public:
    using value_type = T;
    template <typename U>
    struct rebind {
        using other = PageAllocator<U, kPageSize>;
    };

    PageAllocator() = default;
    template <typename U>
    PageAllocator(const PageAllocator<U, kPageSize>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > (std::numeric_limits<std::size_t>::max() - kHugePage) / sizeof(T)) throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (!IsLarge(bytes)) return static_cast<T*>(::operator new(bytes));
        void* pages = platform::AllocateZeroedPages(Rounded(bytes), kPageSize);
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
    bool operator==(const PageAllocator<U, kPageSize>&) const noexcept {
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
template <typename T>
using SmallPageVector = std::vector<T, PageAllocator<T, platform::PageSize::Small>>;

}  // namespace tarnwick
