// Arrays a caller is about to fill, backed with memory on a thread of its
// own while the caller does other work first: the first touch of fresh
// memory, which on a virtual machine costs about as much as copying it
// several times, then stops no one. For the listing,
// which may use a second core; without a thread to be had, nothing is done
// ahead and the pages are backed as they are written.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace tarnwick::listing {

class BackedInBackground {
public:
    struct Range {
        void* pages = nullptr;
        std::size_t bytes = 0;
    };

    // Ranges smaller than this are left to be backed as they are written:
    // a thread costs more than their faults.
    static constexpr std::size_t kWorthAThread = std::size_t{1} << 20;

    explicit BackedInBackground(std::initializer_list<Range> ranges) {
        for (const Range& range : ranges) {
            if (range.pages != nullptr && range.bytes >= kWorthAThread) ranges_.push_back(range);
        }
        if (ranges_.empty()) return;
        try {
            thread_ = std::thread([this] {
                for (const Range& range : ranges_) platform::PrefaultPages(range.pages, range.bytes);
            });
        } catch (const std::system_error&) {
        }
    }
    ~BackedInBackground() { Wait(); }
    BackedInBackground(const BackedInBackground&) = delete;
    BackedInBackground& operator=(const BackedInBackground&) = delete;

    // Returns once the ranges are backed (or left as they were).
    void Wait() {
        if (thread_.joinable()) thread_.join();
    }

private:
    std::vector<Range> ranges_;
    std::thread thread_;
};

}  // namespace tarnwick::listing
