// Helpers shared by the fuzz targets and by their replay driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tarnwick::fuzz {

// A broken invariant is a finding: abort so that libFuzzer (or the replay
// test) stops with the input that caused it.
#define TARNWICK_FUZZ_CHECK(condition)                                                         \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// A volume image held in memory (an anonymous memory file) that the library
// opens by drive letter through the platform layer, like any image file.
class MemoryVolume {
public:
    explicit MemoryVolume(char letter);
    ~MemoryVolume();
    MemoryVolume(const MemoryVolume&) = delete;
    MemoryVolume& operator=(const MemoryVolume&) = delete;

    // Replaces the whole content; the volume is exactly `size` bytes long.
    void Assign(const std::uint8_t* data, std::size_t size);
    // The zero-based drive number LoadMft takes for this volume.
    std::uint32_t drive() const { return static_cast<std::uint32_t>(letter_ - 'A'); }
    // The volume path the platform layer opens, \\.\X:
    const char16_t* path() const { return path_; }

private:
    char letter_;
    int fd_ = -1;
    char16_t path_[8] = {};
};

// True when [inner, inner + innerBytes) lies inside [outer, outer + outerBytes).
inline bool Inside(const void* inner, std::size_t innerBytes, const void* outer, std::size_t outerBytes) {
    const auto i = reinterpret_cast<std::uintptr_t>(inner);
    const auto o = reinterpret_cast<std::uintptr_t>(outer);
    return i >= o && innerBytes <= outerBytes && i - o <= outerBytes - innerBytes;
}

// True when a 256-unit text field is terminated inside the field.
bool Terminated(const std::uint16_t* field);

}  // namespace tarnwick::fuzz
