#pragma once
// The folder of real NTFS images made by other implementations. Tests that
// read them skip when it is absent.
#include <cstdlib>
#include <filesystem>

namespace tarnwick::testdata {

// The environment's TARNWICK_SHARED_IMAGES when set, so a run can point at
// another folder without reconfiguring; else the one the build was given.
inline std::filesystem::path SharedImagesDir() {
    if (const char* configured = std::getenv("TARNWICK_SHARED_IMAGES"); configured != nullptr && *configured != '\0')
        return configured;
    return TARNWICK_SHARED_IMAGES;
}

}  // namespace tarnwick::testdata
