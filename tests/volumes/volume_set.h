// The volumes every end-to-end suite runs on: those built from
// tests/volumes/*.vol, and the real images made by Windows and others in the
// shared folder (unpacked on first use).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace volume_tests {

struct Volume {
    std::string name, image, expected, indexNames;
};
void PrintTo(const Volume& v, std::ostream* os);

// From the build's manifest, or the one TARNWICK_VOLUMES_MANIFEST names.
std::vector<Volume> BuiltVolumes();

struct SharedImage {
    const char* folder;
    const char* file;
    bool sparseTar;  // stored as a sparse tar member
};
void PrintTo(const SharedImage& s, std::ostream* os);

extern const std::vector<SharedImage> kSharedImages;

// The unpacked image; "" when the shared folder does not have it or it will
// not unpack.
std::string UnpackedImage(const SharedImage& s);
// A file that sits beside the packed image, e.g. ".fls.txt"; "" when absent.
std::string SharedImageFile(const SharedImage& s, const std::string& suffix);

std::string Quote(const std::string& s);
bool HaveTool(const std::string& tool);
// A test name made of what gtest allows.
std::string TestName(std::string name);

}  // namespace volume_tests
