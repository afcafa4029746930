// A volume image held in memory and read through the platform layer's
// reader handle, so a test can damage bytes without writing a file.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace tarnwick::testing {

class MemoryVolume {
public:
    explicit MemoryVolume(std::vector<std::uint8_t> bytes) : reader_(std::make_shared<Reader>(std::move(bytes))) {
        handle_ = platform::OpenReader(reader_);
    }
    ~MemoryVolume() { platform::CloseVolume(handle_); }
    MemoryVolume(const MemoryVolume&) = delete;
    MemoryVolume& operator=(const MemoryVolume&) = delete;

    platform::RawHandle handle() const { return handle_; }

    // Bytes that cannot be read, as on a bad sector: a read stops short
    // before them. Set before the volume is read.
    void MakeUnreadable(std::size_t offset, std::size_t length) { reader_->bad.push_back({offset, offset + length}); }

private:
    class Reader : public platform::VolumeReader {
    public:
        explicit Reader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
        std::size_t ReadAt(std::int64_t offset, void* out, std::size_t length) override {
            if (offset < 0 || static_cast<std::uint64_t>(offset) >= bytes_.size()) return 0;
            const auto start = static_cast<std::size_t>(offset);
            std::size_t n = std::min(length, bytes_.size() - start);
            for (const auto& [begin, end] : bad) {
                if (begin < start + n && end > start) n = begin > start ? begin - start : 0;
            }
            std::memcpy(out, bytes_.data() + start, n);
            return n;
        }

        std::vector<std::pair<std::size_t, std::size_t>> bad;  // [begin, end)

    private:
        std::vector<std::uint8_t> bytes_;
    };

    std::shared_ptr<Reader> reader_;
    platform::RawHandle handle_;
};

}  // namespace tarnwick::testing
