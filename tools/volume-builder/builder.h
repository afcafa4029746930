// Builds an NTFS image from a description: mkntfs formats it, libntfs-3g
// writes the tree (no FUSE, no mount), and the volume is unmounted cleanly.
#pragma once

#include "description.h"

#include <string>

namespace volume_builder {

struct GenerateOptions {
    std::uint64_t files = 10000;
    std::uint64_t seed = 1;
    std::uint64_t dirs = 0;      // 0: about one directory per 60 files
    std::uint64_t links = 0;     // hard links into other directories
    std::uint64_t dosNames = 0;  // files given an explicit DOS name
    std::uint64_t deletes = 0;   // files deleted after the build
};

// Throws std::runtime_error with a message naming the failing step.
void BuildVolume(const Description& description, const std::string& imagePath, bool verbose);

// Volume size that comfortably holds a generated tree.
std::uint64_t GeneratedVolumeSize(const GenerateOptions& options);
GenerateOptions GenerateOptionsFrom(const Step& step);

}  // namespace volume_builder
