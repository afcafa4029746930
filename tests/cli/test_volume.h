// Small NTFS volumes for the command-line tests: mkntfs formats an image
// file, libntfs-3g adds directories, files and links under exactly the UTF-16
// names a test needs (commas, quotes, control characters, lone surrogates).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct _ntfs_volume;

namespace tarnwick::cli::test {

class TestVolume {
public:
    static constexpr std::uint64_t kRoot = 5;

    // Creates `path` of `bytes` and formats it; the reason on failure.
    static std::optional<std::string> Format(const std::string& path, std::uint64_t bytes);

    TestVolume() = default;
    ~TestVolume();
    TestVolume(const TestVolume&) = delete;
    TestVolume& operator=(const TestVolume&) = delete;

    bool Open(const std::string& path);
    // Record numbers of the new directory or file; 0 on failure.
    std::uint64_t Directory(std::uint64_t parent, std::u16string_view name);
    std::uint64_t File(std::uint64_t parent, std::u16string_view name, std::string_view data);
    // A further name of `file` in `directory`.
    bool Link(std::uint64_t file, std::uint64_t directory, std::u16string_view name);
    // Writes everything back and releases the image.
    bool Close();

private:
    std::uint64_t Create(std::uint64_t parent, std::u16string_view name, bool directory, std::string_view data);

    _ntfs_volume* volume_ = nullptr;
};

}  // namespace tarnwick::cli::test
