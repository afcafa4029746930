#pragma once
// The folder of real NTFS images made by other implementations. Tests that
// read them skip when it is absent.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace tarnwick::testdata {

// The environment's TARNWICK_SHARED_IMAGES when set, so a run can point at
// another folder without reconfiguring; else the one the build was given.
inline std::filesystem::path SharedImagesDir() {
    if (const char* configured = std::getenv("TARNWICK_SHARED_IMAGES"); configured != nullptr && *configured != '\0')
        return configured;
    return TARNWICK_SHARED_IMAGES;
}

// The image `relative` (a path in the folder, without ".xz") decompressed to
// `target`, unless a file is already there; empty when the folder does not
// have it or it will not unpack. `sparseTar` images are kept as the one
// member of "<relative>.tar.xz", so that their holes stay holes.
inline std::filesystem::path UnpackedSharedImage(const std::string& relative, const std::filesystem::path& target,
                                                 bool sparseTar = false) {
    namespace fs = std::filesystem;
    if (fs::exists(target)) return target;
    const fs::path packed = SharedImagesDir() / (relative + (sparseTar ? ".tar.xz" : ".xz"));
    if (!fs::exists(packed)) return {};
    // Unpack into a folder of this process and rename, so that tests running
    // side by side never see half an image.
    std::error_code ignored;
    fs::create_directories(target.parent_path(), ignored);
    const fs::path temp =
        target.parent_path() / (".unpack-" + std::to_string(getpid()) + "-" + target.filename().string());
    fs::create_directories(temp, ignored);
    const fs::path member = temp / fs::path(relative).filename();
    const std::string command = sparseTar ? "tar -xJf '" + packed.string() + "' -C '" + temp.string() + "'"
                                          : "xz -dc '" + packed.string() + "' > '" + member.string() + "'";
    const bool unpacked = std::system(command.c_str()) == 0 && fs::exists(member);
    std::error_code failed;
    if (unpacked) fs::rename(member, target, failed);
    fs::remove_all(temp, ignored);
    return unpacked && !failed ? target : fs::path();
}

}  // namespace tarnwick::testdata
