// Volumes for tests that load through the exports: drive letters mapped to
// images, fresh volumes from mkntfs, and the real images kept beside the
// project (tests skip when those are absent).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../shared_images.h"

namespace tarnwick::testing {

// Maps drive letter T to `path` for the life of the object.
class MappedDrive {
public:
    static constexpr std::uint32_t kDrive = 'T' - 'A';
    explicit MappedDrive(const std::string& path) { setenv("TARNWICK_DRIVE_T", path.c_str(), 1); }
    ~MappedDrive() { unsetenv("TARNWICK_DRIVE_T"); }
    MappedDrive(const MappedDrive&) = delete;
    MappedDrive& operator=(const MappedDrive&) = delete;
};

// A folder of this test process's own, removed when the process ends.
inline std::filesystem::path ScratchDir() {
    struct Scratch {
        std::filesystem::path dir =
            std::filesystem::temp_directory_path() / ("tarnwick-unit-" + std::to_string(getpid()));
        Scratch() { std::filesystem::create_directories(dir); }
        ~Scratch() {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    };
    static const Scratch scratch;
    return scratch.dir;
}

// A freshly formatted volume of `megabytes`, or "" when mkntfs is missing.
inline std::string FreshVolume(const std::string& name, int megabytes = 16, int clusterSize = 4096) {
    const auto path = ScratchDir() / name;
    if (std::filesystem::exists(path)) return path.string();
    const std::string command = "truncate -s " + std::to_string(megabytes) + "M '" + path.string() +
                                "' && mkntfs -q -F -Q -c " + std::to_string(clusterSize) + " '" + path.string() +
                                "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return "";
    return path.string();
}

// One of the real images, unpacked; "" when it is not there.
inline std::string SharedImage(const std::string& relative) { return testdata::SharedImage(relative).string(); }

}  // namespace tarnwick::testing
