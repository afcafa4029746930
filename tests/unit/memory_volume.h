// A volume image held in memory and read through the platform layer's
// reader handle, so a test can damage bytes without writing a file.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/platform.h"

namespace tarnwick::testing {

class MemoryVolume {
public:
    explicit MemoryVolume(std::vector<std::uint8_t> bytes)
        : handle_(platform::OpenReader(std::make_shared<Reader>(std::move(bytes)))) {}
    ~MemoryVolume() { platform::CloseVolume(handle_); }
    MemoryVolume(const MemoryVolume&) = delete;
    MemoryVolume& operator=(const MemoryVolume&) = delete;

    platform::RawHandle handle() const { return handle_; }

private:
    class Reader : public platform::VolumeReader {
    public:
        explicit Reader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
        std::size_t ReadAt(std::int64_t offset, void* out, std::size_t length) override {
            if (offset < 0 || static_cast<std::uint64_t>(offset) >= bytes_.size()) return 0;
            const std::size_t n = std::min(length, bytes_.size() - static_cast<std::size_t>(offset));
            std::memcpy(out, bytes_.data() + offset, n);
            return n;
        }

    private:
        std::vector<std::uint8_t> bytes_;
    };

    platform::RawHandle handle_;
};

}  // namespace tarnwick::testing
